// The folder scan and the file listing on real temporary trees.
#include "filelist/FolderScan.h"

#include "ScriptedPrompts.h"
#include "TempTree.h"
#include "Unprivileged.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QString parentOf(const QString& folder) {
    return folder.left(folder.lastIndexOf(QLatin1Char('/'), -2) + 1);
}

// Position of a subfolder's name in the platform's own listing of its parent.
qsizetype enumerationIndex(const QString& folder) {
    const QString name = folder.mid(parentOf(folder).size()).chopped(1);
    QDirIterator it(parentOf(folder), QDir::Dirs | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (qsizetype i = 0; it.hasNext(); ++i)
        if (it.next(), it.fileName() == name)
            return i;
    return -1;
}

// Empty when everything after the caller's entries is breadth first: each entry's parent is listed
// before it, parents come in list order, and siblings in the platform's order.
QString breadthFirstFault(const QStringList& result, qsizetype callersEntries) {
    qsizetype lastParent = -1;
    QString previous;
    for (qsizetype i = callersEntries; i < result.size(); ++i) {
        const qsizetype parent = result.indexOf(parentOf(result[i]));
        if (parent < 0 || parent >= i)
            return QStringLiteral("%1 comes before its parent").arg(result[i]);
        if (parent < lastParent)
            return QStringLiteral("%1 is out of its parent's order").arg(result[i]);
        if (parent == lastParent && enumerationIndex(result[i]) < enumerationIndex(previous))
            return QStringLiteral("%1 comes after its younger sibling %2").arg(result[i], previous);
        lastParent = parent;
        previous = result[i];
    }
    return {};
}

QStringList sorted(QStringList list) {
    list.sort();
    return list;
}
} // namespace

class TestFolderScan : public QObject {
    Q_OBJECT
private slots:
    void listFiles_data();
    void listFiles();
    void listFilesOfMissingFolder();
    void scan_data();
    void scan();
    void longPaths();
    void unreadable_data();
    void unreadable();
    void scanRemembersFiles();
    void scanLetsEventsRun();
};

void TestFolderScan::listFiles_data() {
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QStringList>("expected");

    // The folder holds: A.PDF, b.pdf, .hidden.pdf, noext, c.pdf.txt, a folder "x.pdf", a FIFO "fifo.pdf",
    // an unreadable "locked.pdf" (unreadable to non-root only) and a link to b.pdf.
    QTest::newRow("*.* matches every openable file")
        << "*.*" << QStringList{".hidden.pdf", "A.PDF", "b.pdf", "c.pdf.txt", "link.pdf", "noext"};
    QTest::newRow("*.pdf ignores case")
        << "*.pdf" << QStringList{".hidden.pdf", "A.PDF", "b.pdf", "link.pdf"};
    QTest::newRow("? is one character") << "?.pdf" << QStringList{"A.PDF", "b.pdf"};
    QTest::newRow("a typed dot gives two dots") << "*..pdf" << QStringList{};
    QTest::newRow("nothing matches") << "*.doc" << QStringList{};
}

void TestFolderScan::listFiles() {
    QFETCH(QString, pattern);
    QFETCH(QStringList, expected);

    TempTree t;
    for (const char* name : {"A.PDF", "b.pdf", ".hidden.pdf", "noext", "c.pdf.txt"})
        QVERIFY(t.file(name));
    QVERIFY(t.folder("x.pdf"));
    QCOMPARE(::mkfifo(QFile::encodeName(t.abs("fifo.pdf")).constData(), 0644), 0);
    QVERIFY(t.link("link.pdf=>b.pdf"));
    if (::geteuid() != 0) {
        QVERIFY(t.file("locked.pdf"));
        QVERIFY(QFile::setPermissions(t.abs("locked.pdf"), QFileDevice::Permissions()));
    }

    QCOMPARE(sorted(ListFilesInFolder(t.root().chopped(1), pattern)), expected);
    // A final "/" makes no difference.
    QCOMPARE(sorted(ListFilesInFolder(t.root(), pattern)), expected);
}

void TestFolderScan::listFilesOfMissingFolder() {
    TempTree t;
    QCOMPARE(ListFilesInFolder(t.abs("missing"), "*.*"), QStringList());
}

void TestFolderScan::scan_data() {
    QTest::addColumn<QStringList>("folders");
    QTest::addColumn<QStringList>("links");
    QTest::addColumn<QStringList>("start");
    QTest::addColumn<bool>("recurse");
    QTest::addColumn<QStringList>("expected"); // in any order; the order itself is checked separately

    const QStringList abcde{"A/B/D", "A/C/E"};
    QTest::newRow("A, B, C, D, E") << abcde << QStringList{} << QStringList{"A/"} << true
                                   << QStringList{"A/", "A/B/", "A/C/", "A/B/D/", "A/C/E/"};
    QTest::newRow("recurse false") << abcde << QStringList{} << QStringList{"A/"} << false
                                   << QStringList{"A/", "A/B/", "A/C/"};
    QTest::newRow("no subfolders") << QStringList{"A"} << QStringList{} << QStringList{"A/"} << true
                                   << QStringList{"A/"};
    QTest::newRow("two starting folders, each level grouped by parent")
        << QStringList{"A/B/C", "A/D", "X/Y/Z"} << QStringList{} << QStringList{"A/", "X/"} << true
        << QStringList{"A/", "X/", "A/B/", "A/D/", "X/Y/", "A/B/C/", "X/Y/Z/"};
    QTest::newRow("tab in a name") << QStringList{"A/ok", "A/a\tb/inner"} << QStringList{}
                                   << QStringList{"A/"} << true << QStringList{"A/", "A/ok/"};
    // "?" and "*" are ordinary characters in names here.
    QTest::newRow("question mark and star in names")
        << QStringList{"A/ok", "A/wh?t/inner", "A/*/in*"} << QStringList{} << QStringList{"A/"} << true
        << QStringList{"A/", "A/ok/", "A/wh?t/", "A/*/", "A/wh?t/inner/", "A/*/in*/"};
    QTest::newRow("DEL and C1 controls in names")
        << QStringList{"A/ok", QString("A/x") + QChar(127) + "/in", QString("A/y") + QChar(0x85) + "/in"}
        << QStringList{} << QStringList{"A/"} << true << QStringList{"A/", "A/ok/"};
    QTest::newRow("accents and a dot-name are fine")
        << QStringList{"A/café/ü", "A/.config/sub"} << QStringList{} << QStringList{"A/"} << true
        << QStringList{"A/", "A/café/", "A/.config/", "A/café/ü/", "A/.config/sub/"};
    QTest::newRow("link back up the tree is entered once")
        << QStringList{"A/B/C"} << QStringList{"A/B/up=>A", "A/B/C/self=>A/B/C"} << QStringList{"A/"} << true
        << QStringList{"A/", "A/B/", "A/B/C/"};
    QTest::newRow("link to a folder outside the tree is followed")
        << QStringList{"A", "X/Y"} << QStringList{"A/x=>X"} << QStringList{"A/"} << true
        << QStringList{"A/", "A/x/", "A/x/Y/"};
    QTest::newRow("dangling link is no folder") << QStringList{"A"} << QStringList{"A/gone=>missing"}
                                                << QStringList{"A/"} << true << QStringList{"A/"};
    QTest::newRow("missing starting folder stays, unlisted")
        << QStringList{"A/B"} << QStringList{} << QStringList{"missing/", "A/"} << true
        << QStringList{"missing/", "A/", "A/B/"};
    QTest::newRow("duplicate starting folder: both stay, the tree comes once")
        << QStringList{"A/B/C"} << QStringList{} << QStringList{"A/", "A/"} << true
        << QStringList{"A/", "A/", "A/B/", "A/B/C/"};
}

void TestFolderScan::scan() {
    QFETCH(QStringList, folders);
    QFETCH(QStringList, links);
    QFETCH(QStringList, start);
    QFETCH(bool, recurse);
    QFETCH(QStringList, expected);

    TempTree t;
    for (const QString& folder : folders)
        QVERIFY(t.folder(folder));
    for (const QString& link : links)
        QVERIFY(t.link(link));
    t.file("A/file.pdf");

    ScriptedPrompts prompts;
    QStringList list = t.abs(start);
    GetSubDirectories2016(prompts, list, recurse);

    QCOMPARE(sorted(t.rel(list)), sorted(expected));
    QCOMPARE(t.rel(list.mid(0, start.size())), start);
    const QString fault = breadthFirstFault(list, start.size());
    QVERIFY2(fault.isEmpty(), qPrintable(fault));
    QCOMPARE(prompts.shown.size(), 0);
}

void TestFolderScan::longPaths() {
    // A tree far deeper than 260 characters: every level is listed, with its files.
    TempTree t;
    QString deep = QStringLiteral("A/");
    QStringList expected{deep};
    for (int level = 0; level < 12; ++level) {
        deep += QString(100, QChar('a' + level)) + QLatin1Char('/');
        expected.append(deep);
    }
    QVERIFY(t.folder(deep));
    QVERIFY(t.file(deep + "bottom.pdf"));
    QVERIFY(t.abs(deep).size() > 1200);

    ScriptedPrompts prompts;
    QStringList list{t.abs("A/")};
    ScannedFiles seen{QStringLiteral("*.pdf"), {}};
    GetSubDirectories2016(prompts, list, true, &seen);
    QCOMPARE(t.rel(list), expected);
    QCOMPARE(ListFilesInFolder(seen, t.abs(deep).chopped(1), QStringLiteral("*.pdf")),
             QStringList{"bottom.pdf"});
    QCOMPARE(ListFilesInFolder(t.abs(deep), QStringLiteral("*.pdf")), QStringList{"bottom.pdf"});
    QCOMPARE(prompts.shown.size(), 0);
}

void TestFolderScan::unreadable_data() {
    QTest::addColumn<QStringList>("folders");
    QTest::addColumn<QStringList>("denied");
    QTest::addColumn<QStringList>("start");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("starting folder is removed")
        << QStringList{"A/B"} << QStringList{"A"} << QStringList{"A/"} << QStringList{};
    QTest::newRow("two sibling folders are both removed")
        << QStringList{"A/B/x", "A/C/y", "A/D/E"} << QStringList{"A/B", "A/C"} << QStringList{"A/"}
        << QStringList{"A/", "A/D/", "A/D/E/"};
    QTest::newRow("deep folder is removed, its parent kept")
        << QStringList{"A/B/C/D"} << QStringList{"A/B/C"} << QStringList{"A/"} << QStringList{"A/", "A/B/"};
    QTest::newRow("duplicates are removed one failure at a time")
        << QStringList{"A/B", "X"} << QStringList{"X"} << QStringList{"X/", "A/", "X/"}
        << QStringList{"A/", "A/B/"};
}

void TestFolderScan::unreadable() {
    QFETCH(QStringList, folders);
    QFETCH(QStringList, denied);
    QFETCH(QStringList, start);
    QFETCH(QStringList, expected);

    TempTree t;
    for (const QString& folder : folders)
        QVERIFY(t.folder(folder));
    for (const QString& folder : denied)
        QVERIFY(t.deny(folder));

    ScriptedPrompts prompts;
    QStringList list = t.abs(start);
    {
        Unprivileged asUser;
        for (const QString& folder : denied)
            if (!Unprivileged::listingFails(t.abs(folder)))
                QSKIP("No way to make a folder unreadable here (root without the right to switch user)");
        GetSubDirectories2016(prompts, list, true);
        // Listing the files of such a folder is a failure the caller reports.
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, ListFilesInFolder(t.abs(denied.first()), "*.*"));
    }
    QCOMPARE(t.rel(list), expected);
    QCOMPARE(prompts.shown.size(), 0);
}

void TestFolderScan::scanRemembersFiles() {
    // What the scan saw must be what a fresh listing finds, folder by folder.
    TempTree t;
    for (const char* folder : {"A/B/C", "A/D", "A/x.pdf"})
        QVERIFY(t.folder(folder));
    for (const char* file :
         {"A/a.pdf", "A/b.PDF", "A/.h.pdf", "A/~$l.pdf", "A/n.txt", "A/B/c.pdf", "A/B/C/d.pdf"})
        QVERIFY(t.file(file));
    QCOMPARE(::mkfifo(QFile::encodeName(t.abs("A/D/f.pdf")).constData(), 0644), 0);
    QVERIFY(t.link("A/D/l.pdf=>A/a.pdf"));
    QVERIFY(t.link("A/D/gone.pdf=>missing.pdf"));

    for (const QString& pattern : {QStringLiteral("*.pdf"), QStringLiteral("*.*")}) {
        ScriptedPrompts prompts;
        ScannedFiles seen{pattern, {}};
        QStringList list{t.abs("A/")};
        GetSubDirectories2016(prompts, list, true, &seen);
        QCOMPARE(list.size(), 5);
        for (const QString& entry : list) {
            const QString folder = entry.chopped(1);
            QVERIFY2(seen.byFolder.contains(entry), qPrintable(entry));
            QCOMPARE(ListFilesInFolder(seen, folder, pattern), ListFilesInFolder(folder, pattern));
        }
        // Another pattern, or a folder the scan didn't list, is read afresh.
        QCOMPARE(ListFilesInFolder(seen, t.abs("A"), "*.txt"), QStringList{"n.txt"});
        QCOMPARE(ListFilesInFolder(seen, t.abs("A/x.pdf"), pattern), QStringList());
    }
}

void TestFolderScan::scanLetsEventsRun() {
    TempTree t;
    QVERIFY(t.folder("A/B"));
    bool ran = false;
    QMetaObject::invokeMethod(
        qApp, [&] { ran = true; }, Qt::QueuedConnection);
    ScriptedPrompts prompts;
    QStringList list{t.abs("A/")};
    GetSubDirectories2016(prompts, list, true);
    QVERIFY(ran);
}

QTEST_MAIN(TestFolderScan)
#include "test_folderscan.moc"
