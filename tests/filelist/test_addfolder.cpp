// "Add All PDF File(s) In Folder" and drops from the file manager, on the real window offscreen.
#include "ListRows.h"
#include "ScriptedPrompts.h"
#include "TempTree.h"
#include "TestHome.h"
#include "Unprivileged.h"
#include "app/Form1.h"
#include "core/AppTitle.h"
#include "core/Settings.h"

#include <QMimeData>
#include <QPushButton>
#include <QTreeWidget>
#include <QUrl>
#include <QtTest>

namespace {
const QString kPrompt = "Enter file extension to load:\r\r"
                        "(* for all files, txt for all txt files, doc for all doc files, etc.)";

// The main window with its prompts, started as the program starts it.
struct Window {
    ScriptedPrompts prompts;
    Form1 w{prompts};
    Window() {
        w.Form_Load();
        w.show();
    }
    QTreeWidget* list() { return w.findChild<QTreeWidget*>("ListView1"); }
    QStringList rows() { return RowsOf(list()); }
    void addFolder(const QString& extension, const QString& folder) {
        prompts.inputAnswers.enqueue(extension);
        prompts.folders.enqueue(folder);
        QTest::mouseClick(w.findChild<QPushButton*>("PushButton3"), Qt::LeftButton);
    }
    // Drags data over the list as the file manager does; true when the list would take it.
    bool dragOver(QMimeData& data) {
        QWidget* target = list()->viewport();
        const QPoint at = target->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        QDragMoveEvent move(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &move);
        return enter.isAccepted() && move.isAccepted() && move.dropAction() == Qt::CopyAction;
    }
    // Drags data over the list and drops it there; true when the list took it.
    bool drop(QMimeData& data) {
        if (!dragOver(data))
            return false; // a refused drag is never dropped
        QDropEvent dropped(QPointF(list()->viewport()->rect().center()), Qt::CopyAction, &data,
                           Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(list()->viewport(), &dropped);
        return dropped.isAccepted() && dropped.dropAction() == Qt::CopyAction;
    }
};

QMimeData* filesData(const QStringList& paths) {
    auto* data = new QMimeData;
    QList<QUrl> urls;
    for (const QString& path : paths)
        urls.append(QUrl::fromLocalFile(path));
    data->setUrls(urls);
    return data;
}

// A tree with a bit of everything the folder add and drops must tell apart.
void fill(const TempTree& t) {
    for (const char* folder : {"F/sub/deeper", "F/dir.pdf", "G", "W*?/why?"})
        QVERIFY(t.folder(folder));
    const QString deep = "W*?/" + QString(3, '/').replace("/", QString(90, 'd') + "/");
    QVERIFY(t.folder(deep));
    QVERIFY(t.file(deep + "deep.pdf"));
    for (const char* file : {"W*?/what?.pdf", "W*?/*.pdf", "W*?/[a]*.pdf", "W*?/why?/in.pdf"})
        QVERIFY(t.file(file));
    for (const char* file :
         {"F/a.pdf", "F/B.PDF", "F/~$lock.pdf", "F/x~y.pdf", "F/.hidden.pdf", "F/notes.txt", "F/noext",
          "F/dir.pdf/in.pdf", "F/sub/c.pdf", "F/sub/deeper/d.txt", "G/g.pdf", "G/pic.png", "G/~tmp.png"})
        QVERIFY(t.file(file));
    QVERIFY(t.fifo("F/fifo.pdf"));
}

// The rows must be the expected files, each folder's files together and the folders in the given order;
// within a folder the platform's order counts, whatever it is.
void compareRows(const TempTree& t, const QStringList& rows, const QStringList& expected) {
    QStringList got = t.rel(rows), want = expected;
    auto folders = [](const QStringList& files) {
        QStringList out;
        for (const QString& f : files)
            out.append(f.left(f.lastIndexOf('/') + 1));
        return out;
    };
    QCOMPARE(folders(got), folders(want));
    got.sort();
    want.sort();
    QCOMPARE(got, want);
}
} // namespace

class TestAddFolder : public QObject {
    Q_OBJECT
    TestHome home_;

private slots:
    void init() { home_.clearSettings(); }
    void extensionPrompt();
    void cancelledExtensionChangesNothing();
    void addFolder_data();
    void addFolder();
    void busyWhileScanning();
    void addingTwiceListsTwice();
    void unlistableFolderIsReported();
    void drop_data();
    void drop();
    void dropIsRefused_data();
    void dropIsRefused();
    void unreadableDroppedFolderIsSkipped();
    void closingDuringAFolderDropEndsTheProgram();
};

void TestAddFolder::extensionPrompt() {
    TempTree t;
    fill(t);
    Window win;
    win.addFolder("txt", QString()); // the folder picker is cancelled
    QCOMPARE(win.prompts.shown.size(), 2);
    const ShownPrompt ask = win.prompts.shown[0];
    QCOMPARE(ask.kind, QString("input"));
    QCOMPARE(ask.text, kPrompt);
    QCOMPARE(ask.caption, ApplicationTitle());
    QCOMPARE(ask.preset, QString("pdf"));
    const ShownPrompt pick = win.prompts.shown[1];
    QCOMPARE(pick.kind, QString("folder"));
    QCOMPARE(pick.text, QString("Please select folder:"));
    QCOMPARE(pick.preset, QString());
    // The typed extension stays stored although no folder was chosen.
    QCOMPARE(ReadSetting(Setting::Extension, "<none>"), QString("txt"));
    QCOMPARE(ReadSetting(Setting::LastFolder, "<none>"), QString("<none>"));
    QCOMPARE(win.rows(), QStringList());

    // Next time both are offered again.
    win.prompts.shown.clear();
    win.addFolder("pdf", t.abs("G"));
    QCOMPARE(ReadSetting(Setting::LastFolder, "<none>"), t.abs("G"));
    win.addFolder(QString(), QString());
    QCOMPARE(win.prompts.shown[2].preset, QString("pdf"));
    win.prompts.inputAnswers.enqueue("pdf");
    QTest::mouseClick(win.w.findChild<QPushButton*>("PushButton3"), Qt::LeftButton);
    QCOMPARE(win.prompts.shown.last().kind, QString("folder"));
    QCOMPARE(win.prompts.shown.last().preset, t.abs("G"));
}

void TestAddFolder::cancelledExtensionChangesNothing() {
    Window win;
    win.addFolder(QString(), QString("/"));
    QCOMPARE(win.prompts.shown.size(), 1); // no folder picker
    QCOMPARE(ReadSetting(Setting::Extension, "<none>"), QString("<none>"));
    QCOMPARE(ReadSetting(Setting::LastFolder, "<none>"), QString("<none>"));
    QCOMPARE(win.rows(), QStringList());
}

void TestAddFolder::addFolder_data() {
    QTest::addColumn<QString>("extension");
    QTest::addColumn<QString>(
        "folder"); // as the picker returns it, "//" meaning the tree's root with a doubled "/"
    QTest::addColumn<QStringList>("expected");

    const QStringList pdfs{"F/a.pdf", "F/B.PDF", "F/x~y.pdf", "F/dir.pdf/in.pdf", "F/sub/c.pdf"};
    QTest::newRow("pdf, skipping ~ names, hidden files, a FIFO and a folder named .pdf") << "pdf"
                                                                                         << "F" << pdfs;
    QTest::newRow("letter case doesn't matter") << "PDF"
                                                << "F" << pdfs;
    QTest::newRow("* adds every openable file")
        << "*"
        << "F" << QStringList{"F/a.pdf", "F/B.PDF",          "F/x~y.pdf",   "F/notes.txt",
                              "F/noext", "F/dir.pdf/in.pdf", "F/sub/c.pdf", "F/sub/deeper/d.txt"};
    QTest::newRow("txt, in every level") << "txt"
                                         << "F" << QStringList{"F/notes.txt", "F/sub/deeper/d.txt"};
    QTest::newRow(".pdf typed with its dot adds nothing") << ".pdf"
                                                          << "F" << QStringList{};
    QTest::newRow("no matching file adds nothing") << "doc"
                                                   << "F" << QStringList{};
    QTest::newRow("doubled slashes are cleaned") << "pdf"
                                                 << "//G" << QStringList{"G/g.pdf"};
    // "*" and "?" are ordinary characters in names: such files and folders are listed like any other,
    // and so is a whole tree deeper than 260 characters.
    QTest::newRow("star and question mark in names, and a deep tree")
        << "pdf"
        << "W*?"
        << QStringList{"W*?/what?.pdf", "W*?/*.pdf", "W*?/[a]*.pdf", "W*?/why?/in.pdf",
                       "W*?/" + QString(3, '/').replace("/", QString(90, 'd') + "/") + "deep.pdf"};
}

void TestAddFolder::addFolder() {
    QFETCH(QString, extension);
    QFETCH(QString, folder);
    QFETCH(QStringList, expected);

    TempTree t;
    fill(t);
    const QString chosen = folder.startsWith("//") ? t.root() + folder.mid(1) : t.abs(folder);
    Window win;
    win.list()->addTopLevelItem(new QTreeWidgetItem(QStringList{"/already/listed.pdf"}));
    win.addFolder(extension, chosen);

    const QStringList rows = win.rows();
    QCOMPARE(rows.value(0), QString("/already/listed.pdf"));
    compareRows(t, rows.mid(1), expected);
    for (const QString& row : rows)
        QVERIFY2(!row.contains("//"), qPrintable(row));
    QCOMPARE(win.prompts.messages(), QStringList());
    QCOMPARE(ReadSetting(Setting::Extension, "<none>"), extension);
    QCOMPARE(ReadSetting(Setting::LastFolder, "<none>"), chosen);
    QCOMPARE(win.w.cursor().shape(), Qt::ArrowCursor);
}

void TestAddFolder::busyWhileScanning() {
    TempTree t;
    fill(t);
    Window win;
    QList<Qt::CursorShape> seen;
    win.prompts.onShow = [&](const ShownPrompt& p) {
        if (p.kind == "folder") // runs at the scan's first look at pending events
            QMetaObject::invokeMethod(
                qApp, [&] { seen.append(win.w.cursor().shape()); }, Qt::QueuedConnection);
    };
    win.addFolder("pdf", t.abs("F"));
    QCOMPARE(seen, QList<Qt::CursorShape>{Qt::WaitCursor});
    QCOMPARE(win.w.cursor().shape(), Qt::ArrowCursor);
    QCOMPARE(win.rows().size(), 5);
}

void TestAddFolder::addingTwiceListsTwice() {
    TempTree t;
    fill(t);
    Window win;
    win.addFolder("png", t.abs("G"));
    win.addFolder("png", t.abs("G"));
    QCOMPARE(win.rows(), (QStringList{t.abs("G/pic.png"), t.abs("G/pic.png")}));
}

void TestAddFolder::unlistableFolderIsReported() {
    // A link to itself: no folder for the scan, which leaves it alone, and its files can't be listed.
    TempTree t;
    QVERIFY(t.link("loop=>loop"));
    Window win;
    win.addFolder("pdf", t.abs("loop"));
    const QStringList messages = win.prompts.messages();
    QCOMPARE(messages.size(), 1);
    QVERIFY2(messages[0].contains("\r\nin Numbrel2021/08/31.Form1.PushButton3_Click at line 124\r\r"),
             qPrintable(messages[0]));
    QCOMPARE(win.prompts.ofKind("message")[0].caption, QString("Application Error"));
    QCOMPARE(win.rows(), QStringList());
    QCOMPARE(win.w.cursor().shape(), Qt::ArrowCursor);
}

void TestAddFolder::drop_data() {
    QTest::addColumn<QStringList>("dropped");
    QTest::addColumn<QStringList>("expected");

    const QStringList f{"F/a.pdf", "F/B.PDF",          "F/x~y.pdf",   "F/notes.txt",
                        "F/noext", "F/dir.pdf/in.pdf", "F/sub/c.pdf", "F/sub/deeper/d.txt"};
    QTest::newRow("three files, unchanged and in drop order")
        << QStringList{"G/pic.png", "F/a.pdf", "F/.hidden.pdf"}
        << QStringList{"G/pic.png", "F/a.pdf", "F/.hidden.pdf"};
    QTest::newRow("a folder: every file of its tree") << QStringList{"F"} << f;
    QTest::newRow("two folders, each once")
        << QStringList{"G", "F"} << QStringList{"G/g.pdf", "G/pic.png"} + f;
    QTest::newRow("a folder given with a final slash")
        << QStringList{"G/"} << QStringList{"G/g.pdf", "G/pic.png"};
    QTest::newRow("a file and a folder")
        << QStringList{"F/sub/c.pdf", "G"} << QStringList{"F/sub/c.pdf", "G/g.pdf", "G/pic.png"};
    QTest::newRow("a listed file again, and a missing one as it is")
        << QStringList{"F/a.pdf", "F/a.pdf", "F/gone.pdf"} << QStringList{"F/a.pdf", "F/a.pdf", "F/gone.pdf"};
}

void TestAddFolder::drop() {
    QFETCH(QStringList, dropped);
    QFETCH(QStringList, expected);

    TempTree t;
    fill(t);
    Window win;
    // The file manager's drops land on the list's viewport, which must take them.
    QVERIFY(win.list()->viewport()->acceptDrops());
    std::unique_ptr<QMimeData> data(filesData(t.abs(dropped)));
    QVERIFY(win.drop(*data));
    compareRows(t, win.rows(), expected);
    QCOMPARE(win.prompts.shown.size(), 0);
    QCOMPARE(win.w.cursor().shape(), Qt::ArrowCursor); // a drop never makes the window busy
}

void TestAddFolder::dropIsRefused_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("urls");

    QTest::newRow("a piece of text") << "/tmp/a.pdf" << QStringList{};
    QTest::newRow("a web link") << QString() << QStringList{"https://example.com/a.pdf"};
    QTest::newRow("a local file with a web link")
        << QString() << QStringList{"file:///tmp/a.pdf", "https://example.com/b.pdf"};
}

void TestAddFolder::dropIsRefused() {
    QFETCH(QString, text);
    QFETCH(QStringList, urls);

    Window win;
    QMimeData data;
    if (!text.isEmpty())
        data.setText(text);
    if (!urls.isEmpty())
        data.setUrls(QUrl::fromStringList(urls));
    QVERIFY(!win.dragOver(data));
    // Even a drop that arrives regardless adds nothing.
    QDropEvent dropped(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(win.list()->viewport(), &dropped);
    QVERIFY(!dropped.isAccepted());
    QCOMPARE(win.rows(), QStringList());
}

void TestAddFolder::unreadableDroppedFolderIsSkipped() {
    TempTree t;
    fill(t);
    QVERIFY(t.deny("F"));
    Window win;
    std::unique_ptr<QMimeData> data(filesData(t.abs(QStringList{"F", "G/pic.png", "G"})));
    {
        Unprivileged asUser;
        if (!Unprivileged::listingFails(t.abs("F")))
            QSKIP("No way to make a folder unreadable here (root without the right to switch user)");
        QVERIFY(win.drop(*data));
    }
    QCOMPARE(t.rel(win.rows()).mid(0, 1), QStringList{"G/pic.png"});
    compareRows(t, win.rows().mid(1), QStringList{"G/g.pdf", "G/pic.png"});
    QCOMPARE(win.prompts.shown.size(), 0);
}

void TestAddFolder::closingDuringAFolderDropEndsTheProgram() {
    TempTree t;
    fill(t);
    Window win;
    int quits = 0;
    win.w.setQuitAction([&] { ++quits; });
    std::unique_ptr<QMimeData> data(filesData(t.abs(QStringList{"F"})));
    // The scan lets window events through as it goes; the close arrives among them.
    QTimer::singleShot(0, &win.w, [&] { win.w.close(); });
    QVERIFY(win.drop(*data));
    QCOMPARE(quits, 1);
    win.w.show();
    win.w.close(); // an idle window just closes
    QCOMPARE(quits, 1);
}

QTEST_MAIN(TestAddFolder)
#include "test_addfolder.moc"
