// The numbering run against what a careless or hostile user, or another account on the machine,
// can do: line breaks in the option texts, a temporary folder others can write in, files planted at
// the working names, a full temporary folder, programs started while a file is in progress, and
// steps that fail. The real window, the real batch interpreter and a stand-in tool.

#include "RunFixture.h"

#include "core/Settings.h"
#include "filelist/FileList.h"
#include "numbering/NumberingRun.h"
#include "numbering/TemporaryFolder.h"
#include "sys/FileUtils.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLineEdit>
#include <QProcess>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <csignal>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {
constexpr uid_t kNobody = 65534;

Setting settingsKey(const QString& field) {
    if (field == QLatin1String("Text1"))
        return Setting::FirstNumber;
    if (field == QLatin1String("Text2"))
        return Setting::LeftMargin;
    if (field == QLatin1String("Text3"))
        return Setting::BottomMargin;
    return Setting::FontSize;
}

// Runs a shell command as the user nobody, as another account on the machine would.
bool runAsNobody(const QString& command) {
    QProcess p;
    p.start(QStringLiteral("setpriv"),
            {"--reuid=65534", "--regid=65534", "--clear-groups", "sh", "-c", command});
    return p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

mode_t modeOf(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode : 0;
}

uid_t ownerOf(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_uid : uid_t(-1);
}

// The folders that the descriptors of process pid name.
QStringList openFolders(pid_t pid) {
    QStringList folders;
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QString& fd : fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        const QString target = QFileInfo(fds.filePath(fd)).symLinkTarget();
        if (QFileInfo(target).isDir())
            folders.append(target);
    }
    return folders;
}

QString privateFolderIn(const QString& parent) {
    return parent + QStringLiteral("/numbrel-") + QString::number(::getuid());
}
} // namespace

class TestNumberingGuards : public QObject {
    Q_OBJECT
private slots:
    void lineBreaksNeverBecomeCommands_data();
    void lineBreaksNeverBecomeCommands();
    void temporaryFolderIsTheUsersAlone_data();
    void temporaryFolderIsTheUsersAlone();
    void filesPlantedInSharedTempAreLeftAlone();
    void numberedCopyNotWrittenByToolIsNotDelivered();
    void lockGoesToTheScriptOnly();
    void toolWarningsListedApart();
    void noRoomInTemporaryFolder();
    void failedEntryAndHeaderStepsAreListed();
    void leftoversOfAKilledRunAreRemoved();
    void usersOwnTempKeepsFilesThatLookLikeLeftovers();
    void plantedPrivateFolderIsNoDeadEnd_data();
    void plantedPrivateFolderIsNoDeadEnd();
    void sparseInputTakesNoRoomInTemp();
    void wildcardCharactersInFolders_data();
    void wildcardCharactersInFolders();
    void outputFailuresSayWhy_data();
    void outputFailuresSayWhy();
    void programFolderWithALineBreak();
};

void TestNumberingGuards::lineBreaksNeverBecomeCommands_data() {
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("stored"); // from the settings store rather than pasted
    QTest::addColumn<QByteArray>("arguments");
    // MARK and VICTIM stand for a path the test makes and a folder holding the user's files.
    const QByteArray rest = "|-Ns10|-Nc0,0,0|-Nx10|-Ny10|-dtemp2.pdf";
    QTest::newRow("pasted 5 CR LF numbers from 5") << "Text1"
                                                   << "5\r\n"
                                                   << false << QByteArray("-mtemp1.pdf|-n|-N05" + rest);
    QTest::newRow("stored first number with a command")
        << "Text1"
        << "1\r\n/usr/bin/touch -- MARK" << true
        << QByteArray("-mtemp1.pdf|-n|-N01|/usr/bin/touch|--|MARK" + rest);
    QTest::newRow("pasted left margin 7 LF del")
        << "Text2"
        << "7\ndel VICTIM/*" << false
        << QByteArray("-mtemp1.pdf|-n|-N01|-Ns10|-Nc0,0,0|-Nx7|del|VICTIM/*|-Ny10|-dtemp2.pdf");
    QTest::newRow("stored bottom margin with a lone CR")
        << "Text3"
        << "10\rdel VICTIM/*" << true
        << QByteArray("-mtemp1.pdf|-n|-N01|-Ns10|-Nc0,0,0|-Nx10|-Ny10|del|VICTIM/*|-dtemp2.pdf");
    QTest::newRow("stored font size with LF")
        << "Text4"
        << "12\n"
        << true << QByteArray("-mtemp1.pdf|-n|-N01|-Ns12|-Nc0,0,0|-Nx10|-Ny10|-dtemp2.pdf");
    QTest::newRow("stored bottom margin with a line separator")
        << "Text3" << QString::fromUtf8("10\u2028/usr/bin/touch MARK") << true
        << QByteArray("-mtemp1.pdf|-n|-N01|-Ns10|-Nc0,0,0|-Nx10|-Ny10|/usr/bin/touch|MARK|-dtemp2.pdf");
}

void TestNumberingGuards::lineBreaksNeverBecomeCommands() {
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(bool, stored);
    QFETCH(QByteArray, arguments);
    QTemporaryDir scratch, victim, inputs;
    const QString mark = scratch.filePath(QStringLiteral("mark"));
    text.replace(QLatin1String("MARK"), mark).replace(QLatin1String("VICTIM"), victim.path());
    arguments.replace("MARK", QFile::encodeName(mark)).replace("VICTIM", QFile::encodeName(victim.path()));
    WriteBytes(victim.filePath(QStringLiteral("keep.txt")), "the user's own file");

    StandInFolders folders;
    // The store's place is fixed once per process; each row starts from a first start.
    QFile::remove(SettingsFilePath());
    QList<QPair<Setting, QString>> settings;
    if (stored)
        settings.append({settingsKey(field), text});
    WindowUnderTest w(&folders, settings);
    auto* edit = w.window().findChild<QLineEdit*>(field);
    QVERIFY(edit);
    if (!stored) {
        QGuiApplication::clipboard()->setText(text);
        edit->setFocus();
        edit->selectAll();
        edit->paste();
    }
    QCOMPARE(edit->text(), text);
    const QString captured = scratch.filePath(QStringLiteral("captured.bat"));
    const QString log = scratch.filePath(QStringLiteral("log.txt"));
    qputenv("STANDIN_CAPTURE", QFile::encodeName(captured));
    qputenv("STANDIN_LOG", QFile::encodeName(log));
    w.appendBlankPdf(inputs.filePath(QStringLiteral("a.pdf")));
    w.clickStart();

    // The script has its two lines and no more; the texts reach the tool as arguments only.
    const QByteArray script = ReadBytes(captured);
    QCOMPARE(script.count('\n'), 1);
    QCOMPARE(script.count('\r'), 1);
    QVERIFY(script.startsWith("\"" + QFile::encodeName(folders.programFolder()) +
                              "/mbtPdfAsm.exe\" -mtemp1.pdf"));
    QVERIFY(script.endsWith(" -dtemp2.pdf\r\ndel temp1.pdf"));
    QCOMPARE(ReadBytes(log), arguments + '\n');
    QVERIFY(!QFile::exists(mark));
    QCOMPARE(ReadBytes(victim.filePath(QStringLiteral("keep.txt"))), QByteArray("the user's own file"));
    QCOMPARE(w.prompts().messages(), QStringList{QStringLiteral("Done.")});
    QCOMPARE(w.outputFiles(), QStringList{QStringLiteral("a.pdf")});
    // The text stays as it was typed, in the field and in the store.
    QCOMPARE(edit->text(), text);
    QCOMPARE(ReadSetting(settingsKey(field), QString()), text);
}

void TestNumberingGuards::temporaryFolderIsTheUsersAlone_data() {
    QTest::addColumn<QString>("setup");
    // TEMP, PRIVATE (in TEMP), FALLBACK (in TMPDIR) or ELSEWHERE (the private folder was refused: one
    // in the user's cache folder instead)
    QTest::addColumn<QString>("expected");
    QTest::newRow("own, 0700") << "own 0700"
                               << "TEMP";
    QTest::newRow("own, 0755") << "own 0755"
                               << "TEMP";
    QTest::newRow("group can write") << "own 0770"
                                     << "PRIVATE";
    QTest::newRow("everybody can write, like /tmp") << "own 1777"
                                                    << "PRIVATE";
    QTest::newRow("another user's folder") << "nobody 0755"
                                           << "PRIVATE";
    QTest::newRow("unset") << "unset"
                           << "FALLBACK";
    QTest::newRow("missing") << "missing"
                             << "FALLBACK";
    QTest::newRow("private folder writable by others") << "own 1777, private 0777"
                                                       << "ELSEWHERE";
    QTest::newRow("private folder of another user") << "own 1777, private nobody"
                                                    << "ELSEWHERE";
    QTest::newRow("private folder is a link") << "own 1777, private link"
                                              << "ELSEWHERE";
    QTest::newRow("a FIFO at the private folder's name") << "own 1777, private fifo"
                                                         << "ELSEWHERE";
    QTest::newRow("a file at the private folder's name") << "own 1777, private file"
                                                         << "ELSEWHERE";
}

void TestNumberingGuards::temporaryFolderIsTheUsersAlone() {
    QFETCH(QString, setup);
    QFETCH(QString, expected);
    if (setup.contains(QLatin1String("nobody")) && ::getuid() != 0)
        QSKIP("giving a folder to another user needs root");
    const QByteArray oldTemp = qgetenv("TEMP"), oldTmpdir = qgetenv("TMPDIR");
    QTemporaryDir base, holder;
    qputenv("TMPDIR", QFile::encodeName(base.path()));
    const QString temp = holder.filePath(QStringLiteral("temp"));
    QVERIFY(QDir().mkdir(temp));
    const QString inside = privateFolderIn(temp);
    const QByteArray name = QFile::encodeName(temp);
    if (setup == QLatin1String("unset")) {
        qunsetenv("TEMP");
    } else if (setup == QLatin1String("missing")) {
        qputenv("TEMP", QFile::encodeName(holder.filePath(QStringLiteral("missing"))));
    } else {
        qputenv("TEMP", name);
        const mode_t mode = setup.contains(QLatin1String("1777"))   ? 01777
                            : setup.contains(QLatin1String("0770")) ? 0770
                            : setup.contains(QLatin1String("0755")) ? 0755
                                                                    : 0700;
        QCOMPARE(::chmod(name.constData(), mode), 0);
        if (setup.startsWith(QLatin1String("nobody")))
            QCOMPARE(::chown(name.constData(), kNobody, kNobody), 0);
        const QByteArray privateName = QFile::encodeName(inside);
        if (setup.endsWith(QLatin1String("private 0777"))) {
            QVERIFY(QDir().mkdir(inside));
            QCOMPARE(::chmod(privateName.constData(), 0777), 0);
        } else if (setup.endsWith(QLatin1String("private nobody"))) {
            QVERIFY(QDir().mkdir(inside));
            QCOMPARE(::chown(privateName.constData(), kNobody, kNobody), 0);
        } else if (setup.endsWith(QLatin1String("private link"))) {
            QVERIFY(QFile::link(holder.path(), inside));
        } else if (setup.endsWith(QLatin1String("private fifo"))) {
            QCOMPARE(::mkfifo(privateName.constData(), 0600), 0);
        } else if (setup.endsWith(QLatin1String("private file"))) {
            WriteBytes(inside, "planted");
        }
    }

    const QString folder = TemporaryFolder();
    qputenv("TEMP", oldTemp);
    qputenv("TMPDIR", oldTmpdir);
    const QString wanted = expected == QLatin1String("TEMP")      ? temp
                           : expected == QLatin1String("PRIVATE") ? inside
                           : expected == QLatin1String("FALLBACK")
                               ? privateFolderIn(base.path())
                               : privateFolderIn(QDir::homePath() + QStringLiteral("/.cache/Quillane"));
    QCOMPARE(folder, wanted);
    if (expected != QLatin1String("TEMP")) {
        QCOMPARE(modeOf(folder) & 07777, mode_t(0700));
        QCOMPARE(ownerOf(folder), ::getuid());
    }
}

void TestNumberingGuards::filesPlantedInSharedTempAreLeftAlone() {
    if (::getuid() != 0)
        QSKIP("planting files as another user needs root");
    StandInFolders folders;
    QTemporaryDir shared, inputs;
    // A shared folder like /tmp: everybody writes, the sticky bit keeps their files their own.
    QCOMPARE(::chmod(QFile::encodeName(shared.path()).constData(), 01777), 0);
    qputenv("TEMP", QFile::encodeName(shared.path()));
    const QString mine = inputs.filePath(QStringLiteral("mine.pdf"));
    WriteBlankPdf(mine, 1);
    const QByteArray original = ReadBytes(mine);
    QCOMPARE(::chmod(QFile::encodeName(mine).constData(), 0644), 0);
    // Another account plants a working copy of its own choosing and links to the user's file.
    const QString planted = shared.filePath(QStringLiteral("temp1.pdf"));
    QVERIFY(runAsNobody(QStringLiteral("printf '%%PDF-1.4\\nplanted\\n' > '%1' && ln -s '%2' '%3' && "
                                       "ln -s '%2' '%4'")
                            .arg(planted, mine, shared.filePath(QStringLiteral("temp2.pdf")),
                                 shared.filePath(QStringLiteral("temp.bat")))));
    QCOMPARE(ownerOf(planted), kNobody);

    WindowUnderTest w(&folders);
    // The dangerous setting: numbered copies replace the inputs.
    w.type("Text5", inputs.path());
    w.append(mine);
    w.clickStart();

    QCOMPARE(w.prompts().messages(), QStringList{QStringLiteral("Done.")});
    // The user's own file was numbered, not the planted one.
    QCOMPARE(ReadBytes(mine), original + "%numbered\n");
    // Nothing of the other account's was used, removed or changed, nor anything through its links.
    QCOMPARE(ReadBytes(planted), QByteArray("%PDF-1.4\nplanted\n"));
    QVERIFY(QFileInfo(shared.filePath(QStringLiteral("temp2.pdf"))).isSymLink());
    QVERIFY(QFileInfo(shared.filePath(QStringLiteral("temp.bat"))).isSymLink());
    QCOMPARE(modeOf(mine) & 07777, mode_t(0644));
    // The working files lived in a private folder of ours, which the run left empty.
    const QString own = privateFolderIn(shared.path());
    QCOMPARE(modeOf(own) & 07777, mode_t(0700));
    QCOMPARE(QDir(own).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
    qputenv("TEMP", QFile::encodeName(folders.temp()));
}

void TestNumberingGuards::numberedCopyNotWrittenByToolIsNotDelivered() {
    StandInFolders folders;
    WindowUnderTest w(&folders);
    QTemporaryDir inputs, elsewhere;
    const QString secret = elsewhere.filePath(QStringLiteral("secret.pdf"));
    WriteBytes(secret, "%PDF-1.4\nnot for the output folder\n");
    // What appears at the numbered copy's name is a link to another file, not a copy the tool wrote.
    qputenv("STANDIN_LINK_OUTPUT", QFile::encodeName(secret));
    const QString input = w.appendBlankPdf(inputs.filePath(QStringLiteral("a.pdf")));
    w.clickStart();
    QCOMPARE(
        w.prompts().messages(),
        QStringList{QStringLiteral("Done.\r\n\r\nNo numbered copy was made of this file:\r\n") + input +
                    QStringLiteral(" (the numbered copy in the temporary folder is not one the numbering "
                                   "tool wrote)")});
    QCOMPARE(w.outputFiles(), QStringList());
    QCOMPARE(ReadBytes(secret), QByteArray("%PDF-1.4\nnot for the output folder\n"));
    QCOMPARE(folders.leftInTemp(), QStringList());
}

void TestNumberingGuards::lockGoesToTheScriptOnly() {
    StandInFolders folders;
    WindowUnderTest w(&folders);
    QTemporaryDir inputs;
    for (const char* name : {"a.pdf", "b.pdf"})
        w.appendBlankPdf(inputs.filePath(QLatin1String(name)));
    qputenv("STANDIN_SLEEP_MS", "300");
    // While the first file is in progress, the user starts another program from the window (as
    // "Load Sample/Example Files" opens a file manager). It lives on after the run.
    const QString canonicalTemp = QFileInfo(folders.temp()).canonicalFilePath();
    pid_t other = -1;
    QStringList otherFolders;
    QTimer start;
    QObject::connect(&start, &QTimer::timeout, [&] {
        if (other > 0 || !NumberingRunUnderWay() ||
            !QFile::exists(folders.temp() + QStringLiteral("/temp.bat")))
            return;
        char sleepName[] = "sleep", seconds[] = "20";
        char* argv[] = {sleepName, seconds, nullptr};
        QCOMPARE(::posix_spawnp(&other, "sleep", nullptr, nullptr, argv, environ), 0);
        QTRY_VERIFY(QFileInfo(QStringLiteral("/proc/%1/exe").arg(other)).symLinkTarget().endsWith("sleep"));
        otherFolders = openFolders(other);
    });
    start.start(10);
    w.clickStart();
    start.stop();
    QVERIFY(other > 0);
    // The other program holds nothing of the temporary folder, and the run did not wait for it.
    const bool stillRunning = ::waitpid(other, nullptr, WNOHANG) == 0;
    ::kill(other, SIGKILL);
    ::waitpid(other, nullptr, 0);
    QVERIFY2(!otherFolders.contains(canonicalTemp), qPrintable(otherFolders.join(QLatin1Char(' '))));
    QVERIFY(stillRunning);
    QCOMPARE(w.prompts().messages(), QStringList{QStringLiteral("Done.")});
    QCOMPARE(w.outputFiles(), (QStringList{"a.pdf", "b.pdf"}));
}

void TestNumberingGuards::toolWarningsListedApart() {
    StandInFolders folders;
    WindowUnderTest w(&folders);
    QTemporaryDir inputs;
    const QString signedFile = inputs.filePath(QStringLiteral("signed.pdf"));
    const QString failing = inputs.filePath(QStringLiteral("failing.pdf"));
    const QString good = w.appendBlankPdf(inputs.filePath(QStringLiteral("good.pdf")));
    WriteBytes(signedFile, "%PDF-1.4\nWARN-ME\n");
    WriteBytes(failing, "%PDF-1.4\nFAIL-ME\n");
    w.append(signedFile);
    w.append(failing);
    w.clickStart();
    QCOMPARE(w.prompts().messages(),
             QStringList{QStringLiteral("Done.\r\n\r\nNo numbered copy was made of this file:\r\n") +
                         failing +
                         QStringLiteral(" (mbtPdfAsm.exe: failing.pdf: this file cannot be numbered)") +
                         QStringLiteral("\r\n\r\nThis file was numbered with a warning:\r\n") + signedFile +
                         QStringLiteral(" (signed.pdf was digitally signed; the numbered copy's signature is "
                                        "no longer valid)")});
    QCOMPARE(w.outputFiles(), (QStringList{"good.pdf", "signed.pdf"}));
}

void TestNumberingGuards::noRoomInTemporaryFolder() {
    QTemporaryDir small, inputs;
    const QByteArray where = QFile::encodeName(small.path());
    if (::getuid() != 0 || ::mount("tmpfs", where.constData(), "tmpfs", 0, "size=64k,mode=0700") != 0)
        QSKIP("needs root to mount a small tmpfs");
    {
        StandInFolders folders;
        qputenv("TEMP", where);
        WindowUnderTest w(&folders);
        const QString large = inputs.filePath(QStringLiteral("large.pdf"));
        WriteBytes(large, "%PDF-1.4\n" + QByteArray(256 * 1024, 'x'));
        w.append(large);
        const QString fits = w.appendBlankPdf(inputs.filePath(QStringLiteral("fits.pdf")));
        w.clickStart();
        QCOMPARE(w.prompts().messages(),
                 QStringList{QStringLiteral("Done.\r\n\r\nNo numbered copy was made of this file:\r\n") +
                             large + QStringLiteral(" (there is no room in the temporary folder ") +
                             small.path() + QStringLiteral(" (No space left on device))")});
        QCOMPARE(w.outputFiles(), QStringList{QStringLiteral("fits.pdf")});
        QCOMPARE(QDir(small.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList());
        qputenv("TEMP", QFile::encodeName(folders.temp()));
    }
    QCOMPARE(::umount(where.constData()), 0);
}

void TestNumberingGuards::failedEntryAndHeaderStepsAreListed() {
    StandInFolders folders;
    WindowUnderTest w(&folders);
    QTemporaryDir inputs;
    const QString first = w.appendBlankPdf(inputs.filePath(QStringLiteral("first.pdf")));
    // A folder named like a PDF: its header cannot be read.
    const QString folder = inputs.filePath(QStringLiteral("folder.pdf"));
    QVERIFY(QDir().mkdir(folder));
    w.append(folder);
    for (const char* name : {"c.pdf", "d.pdf"})
        w.appendBlankPdf(inputs.filePath(QLatin1String(name)));
    // Two rows vanish while the first file is in progress, so entries 3 and 4 cannot be read.
    QTimer remove;
    QObject::connect(&remove, &QTimer::timeout, [&] {
        QTreeWidget* view = w.window().services().files.view();
        if (NumberingRunUnderWay() && view->topLevelItemCount() == 4) {
            delete view->topLevelItem(3);
            delete view->topLevelItem(2);
        }
    });
    remove.start(0);
    w.clickStart();
    remove.stop();

    const QStringList messages = w.prompts().messages();
    QCOMPARE(messages.size(), 4); // the error box of step 114, of step 112 twice, and the last box
    QVERIFY(messages.at(0).contains(QLatin1String(" at line 114")));
    QVERIFY(messages.at(1).contains(QLatin1String(" at line 112")));
    QCOMPARE(messages.last(),
             QStringLiteral("Done.\r\n\r\nNo numbered copy was made of these files:\r\n") + folder +
                 QStringLiteral(" (its header cannot be read: Is a directory: ") + folder +
                 QStringLiteral(")\r\nEntry 3 of the list (its path cannot be read from the list: Index out "
                                "of bounds)\r\nEntry 4 of the list (its path cannot be read from the list: "
                                "Index out of bounds)"));
    QCOMPARE(w.outputFiles(), QStringList{GetFileNamePart(first)});
}

// In a private folder of Numbrel's own, what a killed run left goes before the folder is used: the
// working files and the tool's hidden copies.
void TestNumberingGuards::leftoversOfAKilledRunAreRemoved() {
    StandInFolders folders;
    // TEMP is shared (like /tmp), so the working files live in numbrel-<uid> inside it.
    QCOMPARE(::chmod(QFile::encodeName(folders.temp()).constData(), 01777), 0);
    const QString own = privateFolderIn(folders.temp());
    QVERIFY(QDir().mkdir(own));
    QCOMPARE(::chmod(QFile::encodeName(own).constData(), 0700), 0);
    for (const char* name : {"temp1.pdf", "temp2.pdf", "temp.bat", ".nbA1b2C3d4", ".nbx7Y2k9"})
        WriteBytes(own + QLatin1Char('/') + QLatin1String(name), "%PDF-1.4\nleft over\n");
    WindowUnderTest w(&folders);
    QTemporaryDir inputs;
    const QString input = w.appendBlankPdf(inputs.filePath(QStringLiteral("a.pdf")));
    const QByteArray original = ReadBytes(input);
    w.clickStart();
    QCOMPARE(w.prompts().messages(), QStringList{QStringLiteral("Done.")});
    QCOMPARE(ReadBytes(w.output() + QStringLiteral("/a.pdf")), original + "%numbered\n");
    QCOMPARE(QDir(own).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
}

// The user's own TEMP is used as it is, and the user's files there are the user's, whatever their
// names: nothing is removed by a kind of name.
void TestNumberingGuards::usersOwnTempKeepsFilesThatLookLikeLeftovers() {
    StandInFolders folders;
    const QStringList mine{".nbconfig", ".nbsettings", ".nbA1b2C3d4", ".temp2.pdf.abcdef", "notes.txt"};
    for (const QString& name : mine)
        WriteBytes(folders.temp() + QLatin1Char('/') + name, "the user's own " + name.toUtf8());
    WindowUnderTest w(&folders);
    QTemporaryDir inputs;
    for (const char* name : {"a.pdf", "b.pdf"})
        w.appendBlankPdf(inputs.filePath(QLatin1String(name)));
    w.clickStart();
    QCOMPARE(w.prompts().messages(), QStringList{QStringLiteral("Done.")});
    QCOMPARE(w.outputFiles(), (QStringList{"a.pdf", "b.pdf"}));
    QStringList expected = mine;
    expected.sort();
    QCOMPARE(folders.leftInTemp(), expected);
    for (const QString& name : mine)
        QCOMPARE(ReadBytes(folders.temp() + QLatin1Char('/') + name), "the user's own " + name.toUtf8());
}

// Another account takes the private folder's name in a shared TEMP first, with anything at all: every
// file is still numbered, in a private folder nobody could name in advance, and the last box says so
// once.
void TestNumberingGuards::plantedPrivateFolderIsNoDeadEnd_data() {
    QTest::addColumn<QString>("planted");
    QTest::addColumn<QString>("reason");
    QTest::newRow("a folder") << "mkdir -m 0777 '%1'"
                              << "it belongs to another user";
    QTest::newRow("a link to the user's files") << "ln -s '%2' '%1'"
                                                << "it is a symbolic link";
    QTest::newRow("a FIFO") << "mkfifo '%1'"
                            << "it is not a folder";
    QTest::newRow("a file") << "echo x > '%1'"
                            << "it is not a folder";
}
void TestNumberingGuards::plantedPrivateFolderIsNoDeadEnd() {
    QFETCH(QString, planted);
    QFETCH(QString, reason);
    if (::getuid() != 0)
        QSKIP("planting names as another user needs root");
    StandInFolders folders;
    QTemporaryDir shared, inputs;
    QCOMPARE(::chmod(QFile::encodeName(shared.path()).constData(), 01777), 0);
    const QString own = privateFolderIn(shared.path());
    QVERIFY(runAsNobody(planted.arg(own, inputs.path())));
    QCOMPARE(ownerOf(own), kNobody);
    qputenv("TEMP", QFile::encodeName(shared.path()));
    WindowUnderTest w(&folders);
    QStringList inputsListed;
    for (const char* name : {"a.pdf", "b.pdf", "c.pdf"})
        inputsListed.append(w.appendBlankPdf(inputs.filePath(QLatin1String(name))));
    w.clickStart();
    qputenv("TEMP", QFile::encodeName(folders.temp()));
    const QString cache = privateFolderIn(QDir::homePath() + QStringLiteral("/.cache/Quillane"));
    QCOMPARE(w.prompts().messages(), QStringList{QStringLiteral("Done.\r\n\r\nThe temporary folder ") + own +
                                                 QStringLiteral(" cannot be used (") + reason +
                                                 QStringLiteral("), so the working files were kept in ") +
                                                 cache + QStringLiteral(" instead.")});
    QCOMPARE(w.outputFiles(), (QStringList{"a.pdf", "b.pdf", "c.pdf"}));
    for (const QString& input : inputsListed)
        QCOMPARE(ReadBytes(w.output() + QLatin1Char('/') + GetFileNamePart(input)),
                 ReadBytes(input) + "%numbered\n");
    QCOMPARE(ownerOf(own), kNobody); // left as it was found
    QCOMPARE(modeOf(cache) & 07777, mode_t(0700));
    QCOMPARE(QDir(cache).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
}

// A 2 GB input that is a header and holes: its working copy takes the room the input takes, not 2 GB,
// so even a small temporary folder holds it and the tool gets to judge the file.
void TestNumberingGuards::sparseInputTakesNoRoomInTemp() {
    QTemporaryDir small, inputs;
    const QByteArray where = QFile::encodeName(small.path());
    const bool mounted =
        ::getuid() == 0 && ::mount("tmpfs", where.constData(), "tmpfs", 0, "size=64m,mode=0700") == 0;
    {
        StandInFolders folders;
        if (mounted)
            qputenv("TEMP", where);
        const QString temp = mounted ? small.path() : folders.temp();
        WindowUnderTest w(&folders);
        const QString sparse = inputs.filePath(QStringLiteral("sparse.pdf"));
        {
            QFile f(sparse);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("%PDF-1.4\n");
            QVERIFY(f.resize(qint64(2) << 30));
        }
        struct stat input {};
        QCOMPARE(::stat(QFile::encodeName(sparse).constData(), &input), 0);
        w.append(sparse);
        qputenv("STANDIN_SLEEP_MS", "300");
        qputenv("STANDIN_EXIT", "1");
        blkcnt_t largest = -1;
        QTimer look;
        QObject::connect(&look, &QTimer::timeout, [&] {
            struct stat st {};
            if (::stat(QFile::encodeName(temp + QStringLiteral("/temp1.pdf")).constData(), &st) == 0)
                largest = std::max(largest, st.st_blocks);
        });
        look.start(20);
        w.clickStart();
        look.stop();
        qputenv("TEMP", QFile::encodeName(folders.temp()));
        qInfo("input: %lld bytes in %lld blocks; its working copy: at most %lld blocks",
              qlonglong(input.st_size), qlonglong(input.st_blocks), qlonglong(largest));
        // The tool judged the file (here: refused it); the temporary folder had room for the copy.
        QCOMPARE(w.prompts().messages(),
                 QStringList{QStringLiteral("Done.\r\n\r\nNo numbered copy was made of this file:\r\n") +
                             sparse + QStringLiteral(" (the numbering tool made no numbered copy)")});
        QVERIFY(largest >= 0);
        QVERIFY(largest <= input.st_blocks + 64);
        QCOMPARE(QDir(temp).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
    }
    if (mounted)
        QCOMPARE(::umount(where.constData()), 0);
}

// "*" and "?" in the temporary folder's or the program folder's path are ordinary characters, and a
// relative TEMP is taken from the current folder: every file is numbered.
void TestNumberingGuards::wildcardCharactersInFolders_data() {
    QTest::addColumn<QString>("temp");
    QTest::addColumn<QString>("program");
    QTest::newRow("TEMP with * and ?") << "te*mp?" << QString();
    QTest::newRow("program folder with * and ?") << QString() << "pro*gram?";
    QTest::newRow("relative TEMP") << "./relative" << QString();
}
void TestNumberingGuards::wildcardCharactersInFolders() {
    QFETCH(QString, temp);
    QFETCH(QString, program);
    StandInFolders folders;
    QTemporaryDir base, inputs;
    const QString cwd = QDir::currentPath();
    if (!temp.isEmpty()) {
        QVERIFY(QDir(base.path()).mkdir(temp));
        QDir::setCurrent(base.path());
        qputenv("TEMP", QFile::encodeName(temp.startsWith(QLatin1Char('.')) ? temp : base.filePath(temp)));
    }
    WindowUnderTest w(&folders);
    if (!program.isEmpty()) {
        const QString folder = base.filePath(program);
        QVERIFY(QDir().mkdir(folder));
        for (const char* name : {"mbtPdfAsm.exe", "numbrel-batch"})
            QVERIFY(QFile::copy(folders.programFolder() + QLatin1Char('/') + QLatin1String(name),
                                folder + QLatin1Char('/') + QLatin1String(name)));
        OverrideProgramFolder(folder);
    }
    QStringList listed;
    for (const char* name : {"a.pdf", "b.pdf"})
        listed.append(w.appendBlankPdf(inputs.filePath(QLatin1String(name))));
    w.clickStart();
    QDir::setCurrent(cwd);
    OverrideProgramFolder(folders.programFolder());
    qputenv("TEMP", QFile::encodeName(folders.temp()));
    QCOMPARE(w.prompts().messages(), QStringList{QStringLiteral("Done.")});
    QCOMPARE(w.outputFiles(), (QStringList{"a.pdf", "b.pdf"}));
    for (const QString& input : listed)
        QCOMPARE(ReadBytes(w.output() + QLatin1Char('/') + GetFileNamePart(input)),
                 ReadBytes(input) + "%numbered\n");
    if (!temp.isEmpty())
        QCOMPARE(QDir(base.filePath(temp)).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList());
}

// The last box says why a numbered copy could not be saved: the system's reason.
void TestNumberingGuards::outputFailuresSayWhy_data() {
    QTest::addColumn<QString>("options");
    QTest::addColumn<QString>("reason");
    QTest::newRow("read-only") << "ro,size=1m"
                               << "Read-only file system";
    QTest::newRow("no space") << "size=64k"
                              << "No space left on device";
}
void TestNumberingGuards::outputFailuresSayWhy() {
    QFETCH(QString, options);
    QFETCH(QString, reason);
    QTemporaryDir mountPoint, inputs;
    const QByteArray where = QFile::encodeName(mountPoint.path());
    if (::getuid() != 0 ||
        ::mount("tmpfs", where.constData(), "tmpfs", 0, options.toLatin1().constData()) != 0)
        QSKIP("needs root to mount a tmpfs");
    {
        StandInFolders folders;
        WindowUnderTest w(&folders);
        w.type("Text5", mountPoint.path());
        const QString large = inputs.filePath(QStringLiteral("large.pdf"));
        WriteBytes(large, "%PDF-1.4\n" + QByteArray(256 * 1024, 'x'));
        w.append(large);
        w.clickStart();
        QCOMPARE(w.prompts().messages(),
                 QStringList{QStringLiteral("Done.\r\n\r\nNo numbered copy was made of this file:\r\n") +
                             large + QStringLiteral(" (the numbered copy cannot be saved as ") +
                             mountPoint.path() + QStringLiteral("/large.pdf (") + reason +
                             QStringLiteral("))")});
        QCOMPARE(QDir(mountPoint.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList());
    }
    QCOMPARE(::umount(where.constData()), 0);
}

void TestNumberingGuards::programFolderWithALineBreak() {
    StandInFolders folders;
    WindowUnderTest w(&folders);
    // The program unpacked into a folder whose name holds a line break: its path starts the script.
    QTemporaryDir base, scratch;
    const QString program = base.filePath(QStringLiteral("numbrel\nmbtPdfAsm.exe"));
    QVERIFY(QDir().mkdir(program));
    for (const char* name : {"mbtPdfAsm.exe", "numbrel-batch"})
        QVERIFY(QFile::copy(folders.programFolder() + QLatin1Char('/') + QLatin1String(name),
                            program + QLatin1Char('/') + QLatin1String(name)));
    OverrideProgramFolder(program);
    qputenv("STANDIN_LOG", QFile::encodeName(scratch.filePath(QStringLiteral("log.txt"))));
    QTemporaryDir inputs;
    const QString input = w.appendBlankPdf(inputs.filePath(QStringLiteral("a.pdf")));
    w.clickStart();
    OverrideProgramFolder(folders.programFolder());
    QCOMPARE(
        w.prompts().messages(),
        QStringList{QStringLiteral("Done.\r\n\r\nNo numbered copy was made of this file:\r\n") + input +
                    QStringLiteral(" (the program folder's path holds a line break, so the numbering tool "
                                   "cannot be started safely)")});
    QVERIFY(!QFile::exists(scratch.filePath(QStringLiteral("log.txt"))));
    QCOMPARE(folders.leftInTemp(), QStringList());
}

QTEST_MAIN(TestNumberingGuards)
#include "test_numbering_guards.moc"
