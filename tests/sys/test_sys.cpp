// File and path utilities, on real files.

#include "KilledAtRename.h"
#include "TestHome.h"
#include "Unprivileged.h"
#include "sys/FileUtils.h"
#include "sys/PendingNames.h"

#include <QtTest>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly), qPrintable(path));
    f.write(bytes);
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

QStringList entries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

mode_t modeOf(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// True once process pid has a file open in folder that already holds some bytes.
bool writingInto(pid_t pid, const QString& folder) {
    const QByteArray fds = "/proc/" + QByteArray::number(pid) + "/fd/";
    const QByteArray prefix = QFile::encodeName(folder) + '/';
    DIR* dir = ::opendir(fds.constData());
    if (!dir)
        return false;
    bool found = false;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray where = fds + entry->d_name;
        char target[4096];
        const ssize_t n = ::readlink(where.constData(), target, sizeof target);
        struct stat st {};
        if (n > 0 && QByteArray(target, n).startsWith(prefix) && ::stat(where.constData(), &st) == 0 &&
            S_ISREG(st.st_mode) && st.st_size > 0)
            found = true;
    }
    ::closedir(dir);
    return found;
}

// Kills and reaps a child process that a failed check left running.
struct ChildGuard {
    pid_t pid;
    ~ChildGuard() {
        if (pid > 0 && ::kill(pid, SIGKILL) == 0)
            ::waitpid(pid, nullptr, 0);
    }
};
} // namespace

class TestSys : public QObject {
    Q_OBJECT
    TestHome home_;
    QTemporaryDir dir_;
    QString at(const QString& name) const { return dir_.path() + QLatin1Char('/') + name; }

private slots:
    void collapse_data() {
        QTest::addColumn<QString>("in");
        QTest::addColumn<QString>("out");
        QTest::newRow("doubled") << "/a//b.pdf"
                                 << "/a/b.pdf";
        QTest::newRow("tripled keeps two") << "a///b"
                                           << "a//b";
        QTest::newRow("four become two") << "a////b"
                                         << "a//b";
        QTest::newRow("five become three") << "a/////b"
                                           << "a///b";
        QTest::newRow("leading run becomes one") << "////srv//x"
                                                 << "/srv/x";
        QTest::newRow("single leading kept") << "/a"
                                             << "/a";
        QTest::newRow("only separators") << "///"
                                         << "/";
        QTest::newRow("folder and trailing") << "/out//"
                                             << "/out/";
        QTest::newRow("empty") << ""
                               << "";
    }
    void collapse() {
        QFETCH(QString, in);
        QFETCH(QString, out);
        QCOMPARE(CollapseBackslashes(in), out);
    }

    void pathParts_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("name");
        QTest::newRow("file") << "/d/a.pdf"
                              << "/d/"
                              << "a.pdf";
        QTest::newRow("bare name") << "a.pdf"
                                   << ""
                                   << "a.pdf";
        QTest::newRow("folder with final /") << "/d/e/"
                                             << "/d/e/"
                                             << "";
        QTest::newRow("root") << "/"
                              << "/"
                              << "";
    }
    void pathParts() {
        QFETCH(QString, path);
        QFETCH(QString, folder);
        QFETCH(QString, name);
        QCOMPARE(GetFolderPart(path), folder);
        QCOMPARE(GetFileNamePart(path), name);
    }

    void attributesAndTests() {
        writeFile(at("plain.pdf"), "x");
        writeFile(at(".hidden.pdf"), "x");
        QDir(dir_.path()).mkdir("sub");
        QDir(dir_.path()).mkdir(".hiddendir");
        QFile::link(at("plain.pdf"), at("link.pdf"));
        QFile::link(at("sub"), at("linkdir"));
        QVERIFY(::mkfifo(QFile::encodeName(at("fifo")), 0600) == 0);

        QCOMPARE(FileAttributes(at("plain.pdf")), int(AttrArchive));
        QCOMPARE(FileAttributes(at(".hidden.pdf")), 34); // skipped by the folder add and by drops
        QCOMPARE(FileAttributes(at("sub")), int(AttrDirectory));
        QCOMPARE(FileAttributes(at("sub/")), int(AttrDirectory));
        QCOMPARE(FileAttributes(at(".hiddendir")), AttrDirectory | AttrHidden);
        QCOMPARE(FileAttributes(at("link.pdf")), AttrArchive | AttrReparsePoint);
        QCOMPARE(FileAttributes(at("linkdir")), AttrDirectory | AttrReparsePoint);
        QCOMPARE(FileAttributes(at("missing")), -1);
        if (::geteuid() != 0) { // root may write anything, so nothing is read-only to it
            writeFile(at("ro.pdf"), "x");
            QFile::setPermissions(at("ro.pdf"), QFile::ReadOwner);
            QCOMPARE(FileAttributes(at("ro.pdf")), AttrArchive | AttrReadOnly);
        }

        const struct {
            const char* name;
            bool exists, folder, openable;
        } cases[] = {
            {"plain.pdf", true, false, true},   {".hidden.pdf", true, false, true},
            {"link.pdf", true, false, true},    {"sub", true, true, false},
            {"sub/", true, true, false},        {"missing", false, false, false},
            {"fifo", true, false, false},       {"*.pdf", false, false, false},
            {"plai?.pdf", false, false, false},
        };
        for (const auto& c : cases) {
            QCOMPARE(PathExists(at(c.name)), c.exists);
            QCOMPARE(IsFolder(at(c.name)), c.folder);
            QCOMPARE(IsOpenableFile(at(c.name)), c.openable); // the FIFO must not block here
        }
        QVERIFY(!IsOpenableFile(QString()));
        QVERIFY(!IsFolder(QString()));
    }

    void deleteQuietly() {
        QDir(dir_.path()).mkpath("del");
        const QString d = at("del/");
        writeFile(d + "a.tmp", "1");
        writeFile(d + "B.TMP", "2");
        writeFile(d + "keep.pdf", "3");
        writeFile(d + "ro.pdf", "4");
        writeFile(d + "*.tmp", "5");
        QFile::setPermissions(d + "ro.pdf", QFile::ReadOwner);

        DeleteFileQuietly(d + "missing.pdf"); // nothing to delete, nothing shown
        DeleteFileQuietly(d + "ro.pdf");
        // "*" is part of a name, never a pattern: only the file of that very name goes.
        DeleteFileQuietly(d + "*.tmp");
        DeleteFileQuietly(d + "?.tmp");
        QCOMPARE(entries(d), (QStringList{"B.TMP", "a.tmp", "keep.pdf"}));
        DeleteFileQuietly(at("del")); // a folder is not a file
        QVERIFY(IsFolder(at("del")));
    }

    void copyChecked_data() {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("destination");
        QTest::addColumn<bool>("copied");
        QTest::newRow("plain") << "src.pdf"
                               << "out/src.pdf" << true;
        QTest::newRow("doubled separators") << "src.pdf"
                                            << "out//x.pdf" << true;
        QTest::newRow("missing folder") << "src.pdf"
                                        << "nowhere/x.pdf" << false;
        QTest::newRow("wildcard source") << "sr*.pdf"
                                         << "out/w.pdf" << false;
        QTest::newRow("question mark source") << "sr?.pdf"
                                              << "out/q.pdf" << false;
        // Ordinary characters in names that exist: copied like any other.
        QTest::newRow("star in an existing name") << "s*.pdf"
                                                  << "out/s*.pdf" << true;
        QTest::newRow("question mark in an existing name") << "s?.pdf"
                                                           << "o?t/s?.pdf" << true;
        QTest::newRow("blank source") << " "
                                      << "out/b.pdf" << false;
        QTest::newRow("blank destination") << "src.pdf"
                                           << "  " << false;
        QTest::newRow("missing source") << "gone.pdf"
                                        << "out/g.pdf" << false;
    }
    void copyChecked() {
        QFETCH(QString, source);
        QFETCH(QString, destination);
        QFETCH(bool, copied);
        QDir(dir_.path()).mkpath("out");
        QDir(dir_.path()).mkpath("o?t");
        for (const char* name : {"src.pdf", "s*.pdf", "s?.pdf"})
            writeFile(at(name), "%PDF-1.4 source");
        const QString from = source.trimmed().isEmpty() ? source : at(source);
        const QString to = destination.trimmed().isEmpty() ? destination : at(destination);
        const QStringList before = entries(at("out"));
        QCOMPARE(CopyFileChecked(from, to), copied);
        if (copied) {
            QCOMPARE(readFile(CollapseBackslashes(to)), QByteArray("%PDF-1.4 source"));
            QFile::remove(CollapseBackslashes(to));
        }
        QCOMPARE(entries(at("out")), before); // nothing else, no temporary file left behind
        QVERIFY(!IsFolder(at("nowhere")));
    }

    void copyWithoutFolderPart() {
        // A destination without any "/" names no folder, so nothing is copied.
        writeFile(at("src.pdf"), "x");
        const QString cwd = QDir::currentPath();
        QDir::setCurrent(dir_.path());
        QVERIFY(!CopyFileChecked(at("src.pdf"), "bare.pdf"));
        QDir::setCurrent(cwd);
        QVERIFY(!PathExists(at("bare.pdf")));
    }

    void copyOverwriteReplacesWholeAndKeepsMode() {
        QDir(dir_.path()).mkpath("ow");
        writeFile(at("ow/new.pdf"), QByteArray(300000, 'n'));
        writeFile(at("ow/old.pdf"), "old contents");
        QFile::setPermissions(at("ow/old.pdf"), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
        QVERIFY(CopyFileOverwrite(at("ow/new.pdf"), at("ow/old.pdf")));
        QCOMPARE(readFile(at("ow/old.pdf")), QByteArray(300000, 'n'));
        QCOMPARE(QFile::permissions(at("ow/old.pdf")), QFile::ReadOwner | QFile::WriteOwner |
                                                           QFile::ReadUser | QFile::WriteUser |
                                                           QFile::ReadGroup);
        QDir(dir_.path()).mkpath("into");
        QVERIFY(CopyFileOverwrite(at("ow/new.pdf"), at("into/")));
        QCOMPARE(entries(at("into")), QStringList{"new.pdf"});
        QCOMPARE(entries(at("ow")), (QStringList{"new.pdf", "old.pdf"}));
        QVERIFY(!CopyFileOverwrite(at("ow/new.pdf"), at("missing/x.pdf")));
    }

    // Temporary names never grow with the destination's: every name the file system takes works.
    void copyKeepsAnyNameTheFileSystemTakes_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("existing");
        const QString cjk = QString(81, QChar(0x6587)) + QStringLiteral(".pdf"); // three bytes each
        QTest::newRow("248 bytes, new") << QString(244, 'a') + ".pdf" << false;
        QTest::newRow("255 bytes, new") << QString(251, 'b') + ".pdf" << false;
        QTest::newRow("255 bytes, replacing") << QString(251, 'c') + ".pdf" << true;
        QTest::newRow("CJK at 247 bytes, replacing") << cjk << true;
        QTest::newRow("CJK at 255 bytes, new") << QString(83, QChar(0x6587)) + "xx.pdf" << false;
    }
    void copyKeepsAnyNameTheFileSystemTakes() {
        QFETCH(QString, name);
        QFETCH(bool, existing);
        QVERIFY(QFile::encodeName(name).size() <= 255);
        QVERIFY(QFile::encodeName(name).size() >= 247);
        QTemporaryDir folder;
        writeFile(at("long-source.pdf"), "%PDF-1.4 new contents");
        const QString target = folder.filePath(name);
        if (existing)
            writeFile(target, "old contents");
        QVERIFY(CopyFileOverwrite(at("long-source.pdf"), target));
        QCOMPARE(readFile(target), QByteArray("%PDF-1.4 new contents"));
        QCOMPARE(entries(folder.path()), QStringList{name});
    }

    // Why a copy was not made, in the system's words.
    void copyFailureSaysWhy() {
        writeFile(at("why.pdf"), "%PDF-1.4 x");
        QDir(dir_.path()).mkpath("why/taken.pdf");
        int error = 0;
        QVERIFY(!CopyFileChecked(at("why.pdf"), at("gone/x.pdf"), &error));
        QCOMPARE(error, ENOENT);
        QVERIFY(!CopyFileChecked(at("why.pdf"), at("why/taken.pdf"), &error));
        QCOMPARE(error, EISDIR);
        QVERIFY(!CopyFileChecked(at("why.pdf"), at("why.pdf/x.pdf"), &error));
        QCOMPARE(error, ENOTDIR);
    }

    // A sparse file (a header and 2 GB of holes) is copied with its holes: the copy takes no more room
    // than the file itself, and reads back the same.
    void sparseCopyKeepsHoles() {
        QTemporaryDir source, folder;
        const QString sparse = source.filePath("sparse.pdf");
        {
            QFile f(sparse);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("%PDF-1.4\n");
            QVERIFY(f.resize(qint64(2) << 30));
            QVERIFY(f.seek(qint64(1) << 30));
            f.write("in the middle");
        }
        struct stat in {
        }, out{};
        QCOMPARE(::stat(QFile::encodeName(sparse).constData(), &in), 0);
        const QString target = folder.filePath("copy.pdf");
        QVERIFY(CopyFileOverwrite(sparse, target));
        QCOMPARE(::stat(QFile::encodeName(target).constData(), &out), 0);
        QCOMPARE(out.st_size, in.st_size);
        QVERIFY2(out.st_blocks <= in.st_blocks + 64,
                 qPrintable(QStringLiteral("%1 blocks for %2").arg(out.st_blocks).arg(in.st_blocks)));
        QFile copy(target);
        QVERIFY(copy.open(QIODevice::ReadOnly));
        QCOMPARE(copy.read(9), QByteArray("%PDF-1.4\n"));
        QVERIFY(copy.seek((qint64(1) << 30) - 4));
        QCOMPARE(copy.read(17), QByteArray(4, '\0') + "in the middle");
        QVERIFY(copy.seek((qint64(2) << 30) - 1));
        QCOMPARE(copy.read(4), QByteArray(1, '\0'));
    }

    // Killed at the moment of delivery: the finished copy has its short name, the old file is still in
    // place. The next run removes exactly that copy, and not a file of the user's that looks alike.
    void killedAtDeliveryLeavesNothingForGood() {
        QTemporaryDir folder;
        const QString target = folder.filePath("out.pdf");
        writeFile(target, "old contents");
        writeFile(at("new.pdf"), "new contents");
        writeFile(folder.filePath(".numbrel-keepme"), "the user's own");
        const int status = RunKilledAtRename([&] { CopyFileOverwrite(at("new.pdf"), target); });
        QVERIFY2(WIFSIGNALED(status), qPrintable(QString::number(status)));
        QCOMPARE(WTERMSIG(status), SIGSYS);
        QStringList left = entries(folder.path());
        QCOMPARE(left.size(), 3); // out.pdf, .numbrel-keepme and the copy's short name
        QCOMPARE(readFile(target), QByteArray("old contents"));
        QCOMPARE(QDir(PendingNamesFolder()).entryList(QDir::Files).size(), 1);

        QCOMPARE(RemoveRecordedLeftovers(), 1);
        QCOMPARE(entries(folder.path()), (QStringList{".numbrel-keepme", "out.pdf"}));
        QCOMPARE(readFile(folder.filePath(".numbrel-keepme")), QByteArray("the user's own"));
        QCOMPARE(readFile(target), QByteArray("old contents"));
        QCOMPARE(QDir(PendingNamesFolder()).entryList(QDir::Files), QStringList());
        // A copy that went through leaves no record behind.
        QVERIFY(CopyFileOverwrite(at("new.pdf"), target));
        QCOMPARE(readFile(target), QByteArray("new contents"));
        QCOMPARE(QDir(PendingNamesFolder()).entryList(QDir::Files), QStringList());
    }

    // A record whose file was replaced since (another file now has that name) removes nothing.
    void recordedNameTakenByAnotherFileStays() {
        QTemporaryDir folder;
        const QString target = folder.filePath("out.pdf");
        writeFile(target, "old contents");
        writeFile(at("new2.pdf"), "new contents");
        RunKilledAtRename([&] { CopyFileOverwrite(at("new2.pdf"), target); });
        QString shortName;
        for (const QString& name : entries(folder.path()))
            if (name != "out.pdf")
                shortName = folder.filePath(name);
        QVERIFY(!shortName.isEmpty());
        QVERIFY(QFile::remove(shortName));
        writeFile(shortName, "a new file of the user's at that name");
        QCOMPARE(RemoveRecordedLeftovers(), 0);
        QCOMPARE(readFile(shortName), QByteArray("a new file of the user's at that name"));
    }

    // A copy killed while it is being written leaves the old file (or none) and nothing else.
    void killedCopyLeavesNoPartialFile_data() {
        QTest::addColumn<bool>("existing");
        QTest::newRow("new destination") << false;
        QTest::newRow("replacing a file") << true;
    }
    void killedCopyLeavesNoPartialFile() {
        RemoveRecordedLeftovers();
        QFETCH(bool, existing);
        QTemporaryDir source, folder;
        const QString big = source.filePath("big.pdf");
        {
            // Real bytes (holes would be copied as holes, at once): writing the copy takes long enough
            // to be caught.
            QFile f(big);
            QVERIFY(f.open(QIODevice::WriteOnly));
            const QByteArray chunk(1 << 20, '\x5a');
            for (int k = 0; k < 768; ++k)
                QCOMPARE(f.write(chunk), chunk.size());
        }
        const QString target = folder.filePath("out.pdf");
        if (existing)
            writeFile(target, "old contents");
        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        if (child == 0)
            ::_exit(CopyFileOverwrite(big, target) ? 0 : 1);
        ChildGuard guard{child};
        QTRY_VERIFY_WITH_TIMEOUT(writingInto(child, folder.path()), 20000);
        ::kill(child, SIGKILL);
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        guard.pid = 0;
        QVERIFY(WIFSIGNALED(status));
        QCOMPARE(entries(folder.path()), existing ? QStringList{"out.pdf"} : QStringList());
        if (existing)
            QCOMPARE(readFile(target), QByteArray("old contents"));
    }

    // A delete is an unlink and nothing else: no mode is changed, least of all through a link.
    void deleteNeverChangesModes_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("folderWritable");
        QTest::addColumn<bool>("removed");
        QTest::newRow("link to a file elsewhere, folder not ours") << "link.pdf" << false << false;
        QTest::newRow("read-only file, folder not ours") << "own.pdf" << false << false;
        QTest::newRow("link to a file elsewhere") << "link.pdf" << true << true;
        QTest::newRow("read-only file") << "own.pdf" << true << true;
        QTest::newRow("by wildcard, folder not ours") << "*.pdf" << false << false;
    }
    void deleteNeverChangesModes() {
        QFETCH(QString, name);
        QFETCH(bool, folderWritable);
        QFETCH(bool, removed);
        QTemporaryDir elsewhere, base;
        QFile::setPermissions(base.path(), QFileDevice::Permissions(0x7755));
        QFile::setPermissions(elsewhere.path(), QFileDevice::Permissions(0x7755));
        const QString target = elsewhere.filePath("target.pdf");
        const QString folder = base.filePath("f");
        QVERIFY(QDir().mkdir(folder));
        writeFile(target, "the target");
        writeFile(folder + "/own.pdf", "own");
        QVERIFY(QFile::link(target, folder + "/link.pdf"));
        // As root the files belong to "nobody", whom the test becomes; the folder stays root's.
        const bool asRoot = ::geteuid() == 0;
        for (const QString& path : {target, folder + "/own.pdf"}) {
            ::chmod(QFile::encodeName(path).constData(), 0444);
            if (asRoot)
                QCOMPARE(::chown(QFile::encodeName(path).constData(), Unprivileged::kNobody, -1), 0);
        }
        if (folderWritable && asRoot)
            QCOMPARE(::chown(QFile::encodeName(folder).constData(), Unprivileged::kNobody, -1), 0);
        ::chmod(QFile::encodeName(folder).constData(), folderWritable ? 0755 : 0555);
        {
            const Unprivileged nobody;
            DeleteFileQuietly(folder + "/" + name);
        }
        QCOMPARE(modeOf(target), mode_t(0444));
        QCOMPARE(readFile(target), QByteArray("the target"));
        if (name != "link.pdf")
            QCOMPARE(PathExists(folder + "/own.pdf"), !removed);
        if (name != "own.pdf")
            QCOMPARE(QFileInfo(folder + "/link.pdf").isSymLink(), !removed);
        if (PathExists(folder + "/own.pdf"))
            QCOMPARE(modeOf(folder + "/own.pdf"), mode_t(0444));
        ::chmod(QFile::encodeName(folder).constData(), 0755);
    }

    void wildcards_data() {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("matches");
        QTest::newRow("any with dot") << "*.*"
                                      << "README" << true;
        QTest::newRow("extension, other case") << "*.pdf"
                                               << "A.PDF" << true;
        QTest::newRow("extension differs") << "*.pdf"
                                           << "a.pdfx" << false;
        QTest::newRow("dot typed twice") << "*..pdf"
                                         << "a.pdf" << false;
        QTest::newRow("double dot name") << "*..pdf"
                                         << "a..pdf" << true;
        QTest::newRow("question mark") << "a?c.txt"
                                       << "abc.txt" << true;
        QTest::newRow("question mark needs one") << "a?c.txt"
                                                 << "ac.txt" << false;
        QTest::newRow("star in middle") << "r*t*.doc"
                                        << "report-tax.doc" << true;
    }
    void wildcards() {
        QFETCH(QString, pattern);
        QFETCH(QString, name);
        QFETCH(bool, matches);
        QCOMPARE(WildcardMatches(pattern, name), matches);
    }

    void unusualCharacters_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("unusual");
        QTest::newRow("plain") << "Reports 2021" << false;
        QTest::newRow("accented") << QString::fromUtf8("Rapports été") << false;
        QTest::newRow("tab") << "a\tb" << true;
        QTest::newRow("question mark") << "what?" << true;
        QTest::newRow("DEL") << QString("a") + QChar(127) << true;
        QTest::newRow("C1 control") << QString("a") + QChar(0x85) << true;
    }
    void unusualCharacters() {
        QFETCH(QString, name);
        QFETCH(bool, unusual);
        QCOMPARE(HasUnusualCharacters(name), unusual);
    }
};

QTEST_MAIN(TestSys)
#include "test_sys.moc"
