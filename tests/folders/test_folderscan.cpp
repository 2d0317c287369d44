// The folder scan and the file listing on real temporary trees.
#include "filelist/FolderScan.h"

#include "ScriptedPrompts.h"
#include "TestHome.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {
void makeFile(const QString& path, const QByteArray& contents = "x") {
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly), qPrintable(path));
    f.write(contents);
}
} // namespace

class TestFolderScan : public QObject {
    Q_OBJECT
private slots:
    void listFiles_data();
    void listFiles();
    void listFilesOfMissingFolder();
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

    QTemporaryDir dir;
    const QString d = dir.path() + QStringLiteral("/");
    makeFile(d + "A.PDF");
    makeFile(d + "b.pdf");
    makeFile(d + ".hidden.pdf");
    makeFile(d + "noext");
    makeFile(d + "c.pdf.txt");
    QVERIFY(QDir().mkdir(d + "x.pdf"));
    QCOMPARE(::mkfifo(QFile::encodeName(d + "fifo.pdf").constData(), 0644), 0);
    QVERIFY(QFile::link(d + "b.pdf", d + "link.pdf"));
    if (::geteuid() != 0) {
        makeFile(d + "locked.pdf");
        QVERIFY(QFile::setPermissions(d + "locked.pdf", QFileDevice::Permissions()));
    }

    QStringList names = ListFilesInFolder(dir.path(), pattern);
    names.sort();
    QCOMPARE(names, expected);
    // A final "/" makes no difference.
    QStringList again = ListFilesInFolder(d, pattern);
    again.sort();
    QCOMPARE(again, expected);
}

void TestFolderScan::listFilesOfMissingFolder() {
    QTemporaryDir dir;
    QCOMPARE(ListFilesInFolder(dir.path() + "/missing", "*.*"), QStringList());
}

QTEST_MAIN(TestFolderScan)
#include "test_folderscan.moc"
