// Files and folders named on the command line, on the real window offscreen, and the real program's
// answers to --help, --version and mistakes.
#include "ListRows.h"
#include "ScriptedPrompts.h"
#include "TempTree.h"
#include "TestHome.h"
#include "Unprivileged.h"
#include "app/CommandLine.h"
#include "app/Form1.h"
#include "app/StartUp.h"

#include <QMimeData>
#include <QProcess>
#include <QTreeWidget>
#include <QUrl>
#include <QtTest>

namespace {
// A window with its prompts; started by the caller, as the program or as a test does it.
struct Window {
    ScriptedPrompts prompts;
    Form1 w{prompts};
    QTreeWidget* list() { return w.findChild<QTreeWidget*>("ListView1"); }
    QStringList rows() { return RowsOf(list()); }
    // A drop of the paths from the file manager, through the list's own drag and drop events.
    bool drop(const QStringList& paths) {
        QMimeData data;
        QList<QUrl> urls;
        for (const QString& path : paths)
            urls.append(QUrl::fromLocalFile(path));
        data.setUrls(urls);
        QWidget* target = list()->viewport();
        const QPoint at = target->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        QDropEvent dropped(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &dropped);
        return enter.isAccepted() && dropped.isAccepted();
    }
};

void fill(const TempTree& t) {
    for (const char* folder : {"F/sub", "G", "H"})
        QVERIFY(t.folder(folder));
    for (const char* file : {"F/a.pdf", "F/B.PDF", "F/~$lock.pdf", "F/.hidden.pdf", "F/notes.txt",
                             "F/sub/c.pdf", "G/g.pdf", "G/pic.png", "H/h.pdf"})
        QVERIFY(t.file(file));
    QVERIFY(t.fifo("F/fifo.pdf"));
}

// Within a folder the platform's listing order counts, whatever it is.
QStringList sorted(QStringList list) {
    list.sort();
    return list;
}

struct Run {
    bool finished = false;
    int exitCode = -1;
    QString out, err;
};

// Runs the built program and waits for it to end by itself; one that opens a window never does.
Run runNumbrel(const QStringList& arguments, const QProcessEnvironment& environment) {
    QProcess p;
    p.setProcessEnvironment(environment);
    p.start(BuiltProgramFolder() + "/numbrel", arguments);
    Run r;
    r.finished = p.waitForFinished(60000);
    if (!r.finished) {
        p.kill();
        p.waitForFinished();
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}
} // namespace

class TestCommandLine : public QObject {
    Q_OBJECT
    TestHome home_;

private slots:
    void init() { home_.clearSettings(); }
    void readCommandLine_data();
    void readCommandLine();
    void argumentsAreListedAsTheirDrop_data();
    void argumentsAreListedAsTheirDrop();
    void noArgumentsStartWithAnEmptyList();
    void unreadableFolderArgumentIsSkipped();
    void answersWithoutAWindow_data();
    void answersWithoutAWindow();
};

void TestCommandLine::readCommandLine_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QStringList>("paths"); // for a refusal: words the message must contain

    const int open = int(CommandLine::Outcome::OpenWindow);
    const int refused = int(CommandLine::Outcome::Refused);
    QTest::newRow("nothing") << QStringList{} << open << QStringList{};
    QTest::newRow("relative and absolute, in order")
        << QStringList{"b.pdf", "/x/a.pdf", "sub/"} << open << QStringList{"/w/b.pdf", "/x/a.pdf", "/w/sub"};
    QTest::newRow("cleaned as a file manager hands them over")
        << QStringList{"./a.pdf", "x//y/../b.pdf", "/"} << open << QStringList{"/w/a.pdf", "/w/x/b.pdf", "/"};
    QTest::newRow("a name with blanks and a non-ASCII letter")
        << QStringList{"Jahresbericht 2023 (Entwurf) ä.pdf"} << open
        << QStringList{"/w/Jahresbericht 2023 (Entwurf) ä.pdf"};
    QTest::newRow("an empty argument names nothing")
        << QStringList{"", "a.pdf"} << open << QStringList{"/w/a.pdf"};
    QTest::newRow("after --, a name that starts with a dash")
        << QStringList{"--", "-a.pdf", "--help"} << open << QStringList{"/w/-a.pdf", "/w/--help"};
    QTest::newRow("window system options are no files")
        << QStringList{"-platform", "offscreen", "a.pdf", "--style=fusion", "-reverse", "b.pdf"} << open
        << QStringList{"/w/a.pdf", "/w/b.pdf"};
    QTest::newRow("unknown option") << QStringList{"a.pdf", "--bogus"} << refused
                                    << QStringList{"bogus", "--help"};
    QTest::newRow("missing value") << QStringList{"a.pdf", "-platform"} << refused << QStringList{"platform"};
}

void TestCommandLine::readCommandLine() {
    QFETCH(QStringList, arguments);
    QFETCH(int, outcome);
    QFETCH(QStringList, paths);

    const CommandLine line = ReadCommandLine(QStringList{"/usr/bin/numbrel"} + arguments, "/w");
    QCOMPARE(int(line.outcome), outcome);
    if (line.outcome == CommandLine::Outcome::Refused) {
        QVERIFY2(line.text.startsWith("numbrel: "), qPrintable(line.text));
        QVERIFY2(line.text.endsWith('\n') && line.text.count('\n') == 1, qPrintable(line.text));
        for (const QString& word : paths)
            QVERIFY2(line.text.contains(word), qPrintable(line.text));
        QCOMPARE(line.paths, QStringList{});
    } else {
        QCOMPARE(line.paths, paths);
    }
}

void TestCommandLine::argumentsAreListedAsTheirDrop_data() {
    QTest::addColumn<QStringList>("arguments"); // as typed in the tree's root
    QTest::addColumn<QStringList>("dropped");   // the same items as a file manager drops them
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("two files and a folder")
        << QStringList{"G/pic.png", "H/h.pdf", "F"} << QStringList{"G/pic.png", "H/h.pdf", "F"}
        << QStringList{"G/pic.png", "H/h.pdf", "F/a.pdf", "F/B.PDF", "F/notes.txt", "F/sub/c.pdf"};
    QTest::newRow("a missing file, as it is")
        << QStringList{"gone.pdf", "G/g.pdf"} << QStringList{"gone.pdf", "G/g.pdf"}
        << QStringList{"gone.pdf", "G/g.pdf"};
    QTest::newRow("hidden and ~ files named one by one")
        << QStringList{"F/.hidden.pdf", "F/~$lock.pdf", "F/fifo.pdf"}
        << QStringList{"F/.hidden.pdf", "F/~$lock.pdf", "F/fifo.pdf"}
        << QStringList{"F/.hidden.pdf", "F/~$lock.pdf", "F/fifo.pdf"};
    QTest::newRow("a folder written with ./ and a final slash, twice")
        << QStringList{"./G/", "F/../G"} << QStringList{"G", "G"}
        << QStringList{"G/g.pdf", "G/pic.png", "G/g.pdf", "G/pic.png"};
}

void TestCommandLine::argumentsAreListedAsTheirDrop() {
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, dropped);
    QFETCH(QStringList, expected);

    TempTree t;
    fill(t);
    const CommandLine line = ReadCommandLine(QStringList{"numbrel"} + arguments, t.root());
    QCOMPARE(int(line.outcome), int(CommandLine::Outcome::OpenWindow));

    Window byDrop;
    byDrop.w.Form_Load();
    byDrop.w.show();
    QVERIFY(byDrop.drop(t.abs(dropped)));

    Window started;
    StartMainWindow(started.w, line.paths);
    // Start-up is over and the window up before anything is added.
    QVERIFY(started.w.isVisible());
    QCOMPARE(started.list()->headerItem()->text(0), QString("PDF File(s)"));
    QCOMPARE(started.rows(), QStringList{});
    QTRY_COMPARE(started.rows(), byDrop.rows());

    QCOMPARE(sorted(t.rel(started.rows())), sorted(expected));
    QCOMPARE(started.prompts.shown.size(), 0);
    QCOMPARE(started.w.cursor().shape(), Qt::ArrowCursor);
}

void TestCommandLine::noArgumentsStartWithAnEmptyList() {
    Window started;
    StartMainWindow(started.w, ReadCommandLine(QStringList{"numbrel"}, "/w").paths);
    QVERIFY(started.w.isVisible());
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    QCOMPARE(started.rows(), QStringList{});
    QCOMPARE(started.prompts.shown.size(), 0);
}

void TestCommandLine::unreadableFolderArgumentIsSkipped() {
    TempTree t;
    fill(t);
    QVERIFY(t.deny("F"));
    const QStringList arguments{"F", "G/pic.png", "H"};
    const CommandLine line = ReadCommandLine(QStringList{"numbrel"} + arguments, t.root());
    Window byDrop, started;
    byDrop.w.Form_Load();
    byDrop.w.show();
    // Started before switching user: the settings file is ours, and only the folder scan of the queued
    // add below runs as the other user.
    StartMainWindow(started.w, line.paths);
    {
        Unprivileged asUser;
        if (!Unprivileged::listingFails(t.abs("F")))
            QSKIP("No way to make a folder unreadable here (root without the right to switch user)");
        QVERIFY(byDrop.drop(t.abs(arguments)));
        QTRY_COMPARE(t.rel(started.rows()), (QStringList{"G/pic.png", "H/h.pdf"}));
    }
    QCOMPARE(started.rows(), byDrop.rows());
    QCOMPARE(started.prompts.shown.size(), 0);
}

void TestCommandLine::answersWithoutAWindow_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("withDisplay");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out"); // a pattern
    QTest::addColumn<QString>("err"); // a pattern

    const QString help = "^Usage: \\S*numbrel \\[options\\] \\[FILE\\|FOLDER\\]\\.\\.\\.\n[\\s\\S]*--version";
    const QString version = "^Numbrel \\d+\\.\\d+\\.\\d+\n$";
    const QString nothing = "^$";
    QTest::newRow("--help") << QStringList{"--help"} << true << 0 << help << nothing;
    QTest::newRow("-h after files") << QStringList{"a.pdf", "-h"} << true << 0 << help << nothing;
    QTest::newRow("--version") << QStringList{"--version"} << true << 0 << version << nothing;
    QTest::newRow("--version without any display")
        << QStringList{"--version"} << false << 0 << version << nothing;
    QTest::newRow("unknown option") << QStringList{"--bogus", "a.pdf"} << true << 2 << nothing
                                    << "^numbrel: Unknown option 'bogus'\\.[^\n]*\n$";
    QTest::newRow("unknown option without any display")
        << QStringList{"-z"} << false << 2 << nothing << "^numbrel: [^\n]*'z'[^\n]*\n$";
}

void TestCommandLine::answersWithoutAWindow() {
    QFETCH(QStringList, arguments);
    QFETCH(bool, withDisplay);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home_.path());
    env.insert("XDG_CONFIG_HOME", home_.path() + "/.config");
    if (withDisplay) {
        env.insert("QT_QPA_PLATFORM", "offscreen");
    } else {
        // The X11 platform with no server to talk to: any window system use ends the program.
        env.insert("QT_QPA_PLATFORM", "xcb");
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
    }
    const Run r = runNumbrel(arguments, env);
    QVERIFY2(r.finished, "still running: it opened a window");
    QCOMPARE(r.exitCode, exitCode);
    QVERIFY2(QRegularExpression(out).match(r.out).hasMatch(), qPrintable(r.out));
    QVERIFY2(QRegularExpression(err).match(r.err).hasMatch(), qPrintable(r.err));
    // Nothing was started: the first start's settings file is not there.
    QVERIFY(!QFile::exists(home_.settingsFile()));
}

QTEST_MAIN(TestCommandLine)
#include "test_commandline.moc"
