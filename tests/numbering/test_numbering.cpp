// The numbering run through the real window, with a stand-in tool: the script it writes, the
// arguments, the progress bar, its messages, and what it does when files or tools misbehave.

#include "RunFixture.h"

#include "core/AppTitle.h"
#include "core/BusyState.h"
#include "core/ErrorReport.h"
#include "core/NumberingOptions.h"
#include "core/ProgressBar.h"
#include "filelist/FileList.h"
#include "numbering/NumberingRun.h"
#include "numbering/RunScript.h"
#include "numbering/TemporaryFolder.h"
#include "sys/FileUtils.h"

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

class TestNumbering : public QObject {
    Q_OBJECT
private slots:
    void colorComponent_data();
    void colorComponent();
    void toolArguments_data();
    void toolArguments();
    void writeFileTextReplacesLinkNotTarget();
    void runScriptBytes();
    void checksBeforeTheLoop_data();
    void checksBeforeTheLoop();
    void progressAndBusyState();
    void failuresListedAfterDone();
    void staleNumberedCopySkipsFile();
    void scriptThatCannotStartSkipsFile();
    void scriptEndingWithoutDeletingStopsTheWait();
    void secondStartDuringRunDoesNothing();
    void workingFilesAreNeverInputOrOutput();
    void outputIntoInputFolderReplacesWhole();
    void moreThan32767Entries();
    void missingToolNamedInDone();
    void outputThatCannotBeSaved();
    void outputFolderEmptiedDuringRun();
    void temporaryFolder();
    void unusableTemporaryFolderSkipsFiles();
    void lastResortFolderGoesAfterUse();
    void takesTurnsWithAnotherWindow();
    void scriptThatCannotBeWrittenIsNotRun();
};

void TestNumbering::colorComponent_data() {
    QTest::addColumn<int>("colour");
    QTest::addColumn<int>("k");
    QTest::addColumn<int>("expected");
    QTest::newRow("red of pure red") << 0x0000FF << 1 << 255;
    QTest::newRow("green of 0x123456") << 0x123456 << 2 << 0x34;
    QTest::newRow("blue of 0x123456") << 0x123456 << 3 << 0x12;
    QTest::newRow("blue of white") << 0xFFFFFF << 3 << 255;
    QTest::newRow("k 0") << 0x123456 << 0 << -1;
    QTest::newRow("k 4") << 0x123456 << 4 << -1;
    QTest::newRow("negative") << -1 << 1 << -1;
    QTest::newRow("above 0xFFFFFF") << 0x1000000 << 1 << -1;
}

void TestNumbering::colorComponent() {
    QFETCH(int, colour);
    QFETCH(int, k);
    QFETCH(int, expected);
    QCOMPARE(ColorComponent(colour, k), expected);
}

void TestNumbering::toolArguments_data() {
    QTest::addColumn<QString>("size");
    QTest::addColumn<int>("colour");
    QTest::addColumn<QString>("expected");
    QTest::newRow("black") << "10" << 0 << " -mtemp1.pdf -n -N01 -Ns10 -Nc0,0,0 -Nx10 -Ny10 -dtemp2.pdf";
    QTest::newRow("white") << "10" << 0xFFFFFF
                           << " -mtemp1.pdf -n -N01 -Ns10 -Nc255,255,255 -Nx10 -Ny10 -dtemp2.pdf";
    QTest::newRow("pure blue") << "10" << 0xFF0000
                               << " -mtemp1.pdf -n -N01 -Ns10 -Nc0,0,255 -Nx10 -Ny10 -dtemp2.pdf";
    QTest::newRow("pure red") << "10" << 0x0000FF
                              << " -mtemp1.pdf -n -N01 -Ns10 -Nc255,0,0 -Nx10 -Ny10 -dtemp2.pdf";
    QTest::newRow("size with a blank")
        << "12 " << 0 << " -mtemp1.pdf -n -N01 -Ns12  -Nc0,0,0 -Nx10 -Ny10 -dtemp2.pdf";
    QTest::newRow("out of range") << "10" << 0x1000000
                                  << " -mtemp1.pdf -n -N01 -Ns10 -Nc-1,-1,-1 -Nx10 -Ny10 -dtemp2.pdf";
}

void TestNumbering::toolArguments() {
    QFETCH(QString, size);
    QFETCH(int, colour);
    QFETCH(QString, expected);
    QCOMPARE(ToolArguments(QStringLiteral("1"), size, colour, QStringLiteral("10"), QStringLiteral("10")),
             expected);
}

void TestNumbering::writeFileTextReplacesLinkNotTarget() {
    QTemporaryDir dir;
    const QString victim = dir.filePath(QStringLiteral("victim.txt"));
    WriteBytes(victim, "keep me");
    const QString script = dir.filePath(QStringLiteral("temp.bat"));
    QVERIFY(QFile::link(victim, script));
    WriteFileText(QStringLiteral("line\r\nlast"), script);
    QCOMPARE(ReadBytes(victim), QByteArray("keep me"));
    QVERIFY(!QFileInfo(script).isSymLink());
    QCOMPARE(ReadBytes(script), QByteArray("line\r\nlast"));
}

void TestNumbering::runScriptBytes() {
    StandInFolders folders;
    WindowUnderTest w(&folders);
    QTemporaryDir scratch;
    const QString captured = scratch.filePath(QStringLiteral("captured.bat"));
    qputenv("STANDIN_CAPTURE", QFile::encodeName(captured));
    const QString log = scratch.filePath(QStringLiteral("log.txt"));
    qputenv("STANDIN_LOG", QFile::encodeName(log));
    QTemporaryDir inputs;
    WriteBlankPdf(inputs.filePath(QStringLiteral("a.pdf")), 1);
    w.append(inputs.filePath(QStringLiteral("a.pdf")));
    w.type("Text1", QStringLiteral("7"));
    w.type("Text4", QStringLiteral("12 "));
    w.window().services().options.setFontColor(0xFF0000);
    w.clickStart();

    const QByteArray expected =
        "\"" + QFile::encodeName(folders.programFolder()) +
        "/mbtPdfAsm.exe\" -mtemp1.pdf -n -N07 -Ns12  -Nc0,0,255 -Nx10 -Ny10 -dtemp2.pdf"
        "\r\ndel temp1.pdf";
    QCOMPARE(ReadBytes(captured), expected);
    QCOMPARE(ReadBytes(log), QByteArray("-mtemp1.pdf|-n|-N07|-Ns12|-Nc0,0,255|-Nx10|-Ny10|-dtemp2.pdf\n"));
    QCOMPARE(w.prompts().messages(), QStringList{QStringLiteral("Done.")});
    QCOMPARE(folders.leftInTemp(), QStringList());
}

void TestNumbering::checksBeforeTheLoop_data() {
    QTest::addColumn<bool>("withFile");
    QTest::addColumn<QString>("folder"); // "<file>" and "<missing>" stand for paths made by the test
    QTest::addColumn<QString>("message");
    const QString noFolder = QStringLiteral("Folder does not exist. Please select another folder.");
    QTest::newRow("empty list") << false << "<missing>"
                                << "No files added.";
    QTest::newRow("empty folder text") << true << "" << noFolder;
    QTest::newRow("folder text names a file") << true << "<file>" << noFolder;
    QTest::newRow("missing folder") << true << "<missing>" << noFolder;
}

void TestNumbering::checksBeforeTheLoop() {
    QFETCH(bool, withFile);
    QFETCH(QString, folder);
    QFETCH(QString, message);
    StandInFolders folders;
    WindowUnderTest w(&folders);
    QTemporaryDir inputs;
    const QString input = inputs.filePath(QStringLiteral("a.pdf"));
    WriteBlankPdf(input, 1);
    if (withFile)
        w.append(input);
    folder.replace(QLatin1String("<file>"), input);
    folder.replace(QLatin1String("<missing>"), inputs.filePath(QStringLiteral("nowhere")));
    w.type("Text5", folder);
    w.clickStart();

    QCOMPARE(w.prompts().shown.size(), 1);
    QCOMPARE(w.prompts().shown.first().text, message);
    QCOMPARE(w.prompts().shown.first().caption, ApplicationTitle());
    QCOMPARE(w.prompts().shown.first().style, int(Prompts::OkOnly));
    QVERIFY(!w.window().isBusy());
    QCOMPARE(w.progressValues, QList<double>());
    QCOMPARE(folders.leftInTemp(), QStringList());
}

void TestNumbering::progressAndBusyState() {
    StandInFolders folders;
    WindowUnderTest w(&folders);
    QTemporaryDir inputs;
    QStringList texts;
    QList<bool> busy;
    auto* bar = w.window().findChild<ProgressBar*>(QStringLiteral("ProgressBar1"));
    // The run lets window events through right after setting the bar; a zero timer sees that moment.
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        if (texts.isEmpty() || texts.last() != bar->text()) {
            texts.append(bar->text());
            busy.append(w.window().isBusy());
        }
    });
    sampler.start(0);
    for (const char* name : {"one.pdf", "two.pdf", "three.pdf"}) {
        WriteBlankPdf(inputs.filePath(QLatin1String(name)), 1);
        w.append(inputs.filePath(QLatin1String(name)));
    }
    w.clickStart();
    sampler.stop();

    QCOMPARE(w.progressValues.size(), 4);
    QCOMPARE(w.progressValues.at(0), 100.0 / 3);
    QCOMPARE(w.progressValues.at(1), 200.0 / 3);
    QCOMPARE(w.progressValues.at(2), 100.0);
    QCOMPARE(w.progressValues.at(3), 0.0);
    QCOMPARE(texts, (QStringList{"Processing: one.pdf", "Processing: two.pdf", "Processing: three.pdf"}));
    // Busy from the first file's step 8 on: the first sample comes before it.
    QCOMPARE(busy, (QList<bool>{false, true, true}));
    QCOMPARE(bar->text(), QStringLiteral("Progress Bar"));
    QVERIFY(!w.window().isBusy());
    QCOMPARE(w.outputFiles(), (QStringList{"one.pdf", "three.pdf", "two.pdf"}));
    QVERIFY(ReadBytes(w.output() + QStringLiteral("/two.pdf")).endsWith("%numbered\n"));
}

void TestNumbering::failuresListedAfterDone() {
    StandInFolders folders;
    WindowUnderTest w(&folders);
    QTemporaryDir inputs;
    const QString good = inputs.filePath(QStringLiteral("good.pdf"));
    const QString missing = inputs.filePath(QStringLiteral("missing.pdf"));
    const QString failing = inputs.filePath(QStringLiteral("failing.pdf"));
    const QString newer = inputs.filePath(QStringLiteral("newer.pdf"));
    const QString newest = inputs.filePath(QStringLiteral("newest.pdf"));
    const QString v16 = inputs.filePath(QStringLiteral("v16.pdf"));
    WriteBlankPdf(good, 1);
    WriteBytes(failing, "%PDF-1.4\nFAIL-ME\n");
    WriteBlankPdf(newer, 1, "1.7");
    WriteBlankPdf(newest, 1, "2.0");
    WriteBlankPdf(v16, 1, "1.6");
    const QString empty = inputs.filePath(QStringLiteral("empty.pdf"));
    WriteBytes(empty, QByteArray());
    for (const QString& path : {good, missing, failing, newer, newest, v16, empty})
        w.append(path);
    w.clickStart();

    const QStringList expected{
        newer + QStringLiteral(" has a higher version which is 1.7\r\nThis file cannot be processed."),
        newest + QStringLiteral(" has a higher version which is 2.0\r\nThis file cannot be processed."),
        QStringLiteral("Done.\r\n\r\nNo numbered copy was made of these files:\r\n") + missing +
            QStringLiteral(" (the file does not exist)\r\n") + failing +
            QStringLiteral(" (mbtPdfAsm.exe: failing.pdf: this file cannot be numbered)"),
    };
    QCOMPARE(w.prompts().messages(), expected);
    for (const ShownPrompt& p : w.prompts().shown) {
        QCOMPARE(p.caption, ApplicationTitle());
        QCOMPARE(p.style, int(Prompts::OkOnly));
    }
    // The empty file passes the version gate and goes to the tool, which here takes it.
    QCOMPARE(w.outputFiles(), (QStringList{"empty.pdf", "good.pdf", "v16.pdf"}));
    QCOMPARE(folders.leftInTemp(), QStringList());
}

void TestNumbering::staleNumberedCopySkipsFile() {
    StandInFolders folders;
    WindowUnderTest w(&folders);
    QTemporaryDir inputs;
    // A folder by the numbered copy's name is something the deletion cannot remove.
    QVERIFY(QDir(folders.temp()).mkdir(QStringLiteral("temp2.pdf")));
    const QString input = w.appendBlankPdf(inputs.filePath(QStringLiteral("a.pdf")));
    w.clickStart();
    QCOMPARE(
        w.prompts().messages(),
        QStringList{QStringLiteral("Done.\r\n\r\nNo numbered copy was made of this file:\r\n") + input +
                    QStringLiteral(" (an old numbered copy in the temporary folder cannot be removed)")});
    QCOMPARE(w.outputFiles(), QStringList());
    QCOMPARE(folders.leftInTemp(), QStringList{QStringLiteral("temp2.pdf")});
}

void TestNumbering::scriptThatCannotStartSkipsFile() {
    StandInFolders folders;
    QFile::remove(folders.programFolder() + QStringLiteral("/numbrel-batch"));
    WindowUnderTest w(&folders);
    QTemporaryDir inputs;
    for (const char* name : {"a.pdf", "b.pdf"}) {
        WriteBlankPdf(inputs.filePath(QLatin1String(name)), 1);
        w.append(inputs.filePath(QLatin1String(name)));
    }
    w.clickStart();
    const QString reason =
        QStringLiteral(" (the run script cannot be started: No application is associated with this "
                       "file type.)");
    QCOMPARE(w.prompts().messages(),
             QStringList{QStringLiteral("Done.\r\n\r\nNo numbered copy was made of these files:\r\n") +
                         inputs.filePath(QStringLiteral("a.pdf")) + reason + QStringLiteral("\r\n") +
                         inputs.filePath(QStringLiteral("b.pdf")) + reason});
    QCOMPARE(folders.leftInTemp(), QStringList());
}

void TestNumbering::scriptEndingWithoutDeletingStopsTheWait() {
    StandInFolders folders;
    // An interpreter that ends at once, running nothing: the working copy stays where it is.
    const QString interpreter = folders.programFolder() + QStringLiteral("/numbrel-batch");
    QFile::remove(interpreter);
    WriteBytes(interpreter, "#!/bin/sh\nexit 0\n");
    QFile::setPermissions(interpreter, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    WindowUnderTest w(&folders);
    QTemporaryDir inputs;
    const QString input = w.appendBlankPdf(inputs.filePath(QStringLiteral("a.pdf")));
    w.clickStart();
    QCOMPARE(w.prompts().messages(),
             QStringList{QStringLiteral("Done.\r\n\r\nNo numbered copy was made of this file:\r\n") + input +
                         QStringLiteral(" (the numbering tool made no numbered copy)")});
    QCOMPARE(folders.leftInTemp(), QStringList());
}

void TestNumbering::secondStartDuringRunDoesNothing() {
    StandInFolders folders;
    WindowUnderTest w(&folders);
    QTemporaryDir scratch;
    const QString log = scratch.filePath(QStringLiteral("log.txt"));
    qputenv("STANDIN_LOG", QFile::encodeName(log));
    qputenv("STANDIN_SLEEP_MS", "150");
    QTemporaryDir inputs;
    for (const char* name : {"a.pdf", "b.pdf"}) {
        WriteBlankPdf(inputs.filePath(QLatin1String(name)), 1);
        w.append(inputs.filePath(QLatin1String(name)));
    }
    int clicks = 0;
    QTimer again;
    QObject::connect(&again, &QTimer::timeout, [&] {
        if (NumberingRunUnderWay() && clicks < 3) {
            ++clicks;
            w.clickStart();
        }
    });
    again.start(50);
    w.clickStart();
    again.stop();
    QCOMPARE(clicks, 3);
    QCOMPARE(ReadBytes(log).count('\n'), 2);
    QCOMPARE(w.prompts().messages(), QStringList{QStringLiteral("Done.")});
    QCOMPARE(w.outputFiles(), (QStringList{"a.pdf", "b.pdf"}));
}

void TestNumbering::workingFilesAreNeverInputOrOutput() {
    StandInFolders folders;
    WindowUnderTest w(&folders);
    QTemporaryDir inputs;
    const QString inTemp = folders.temp() + QStringLiteral("/temp2.pdf");
    WriteBytes(inTemp, "%PDF-1.4\nthe user's own file\n");
    const QString viaDot = folders.temp() + QStringLiteral("/./temp1.pdf");
    WriteBytes(folders.temp() + QStringLiteral("/temp1.pdf"), "%PDF-1.4\nanother one\n");
    w.append(inTemp);
    w.append(viaDot);
    w.clickStart();
    const QString reason = QStringLiteral(" (it is one of the run's own working files)");
    QCOMPARE(w.prompts().messages(),
             QStringList{QStringLiteral("Done.\r\n\r\nNo numbered copy was made of these files:\r\n") +
                         inTemp + reason + QStringLiteral("\r\n") + viaDot + reason});
    QCOMPARE(ReadBytes(inTemp), QByteArray("%PDF-1.4\nthe user's own file\n"));
    QCOMPARE(ReadBytes(folders.temp() + QStringLiteral("/temp1.pdf")), QByteArray("%PDF-1.4\nanother one\n"));

    // With the temporary folder as output, an input named like a working file would overwrite it.
    WindowUnderTest into(&folders);
    into.type("Text5", folders.temp());
    const QString named = inputs.filePath(QStringLiteral("temp.bat"));
    WriteBlankPdf(named, 1);
    into.append(named);
    into.clickStart();
    QCOMPARE(
        into.prompts().messages(),
        QStringList{QStringLiteral("Done.\r\n\r\nNo numbered copy was made of this file:\r\n") + named +
                    QStringLiteral(" (its numbered copy would replace one of the run's own working files)")});
    QCOMPARE(ReadBytes(named).left(8), QByteArray("%PDF-1.4"));
}

void TestNumbering::outputIntoInputFolderReplacesWhole() {
    StandInFolders folders;
    WindowUnderTest w(&folders);
    QTemporaryDir inputs;
    const QString input = inputs.filePath(QStringLiteral("a.pdf"));
    WriteBlankPdf(input, 2);
    const QByteArray original = ReadBytes(input);
    w.type("Text5", inputs.path() + QStringLiteral("/"));
    w.append(input);
    w.clickStart();
    QCOMPARE(w.prompts().messages(), QStringList{QStringLiteral("Done.")});
    QCOMPARE(ReadBytes(input), original + "%numbered\n");
    // No half-written or temporary file is left beside it.
    QCOMPARE(QDir(inputs.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("a.pdf")});
}

void TestNumbering::moreThan32767Entries() {
    StandInFolders folders;
    WindowUnderTest w(&folders);
    QTemporaryDir inputs;
    const int missing = 32768;
    w.window().hide(); // 32,769 repaints of the bar would only slow the test down
    for (int k = 0; k < missing; ++k)
        w.append(inputs.filePath(QStringLiteral("gone-%1.pdf").arg(k)));
    const QString last = inputs.filePath(QStringLiteral("last.pdf"));
    WriteBlankPdf(last, 1);
    w.append(last);
    w.clickStart();
    QCOMPARE(w.outputFiles(), QStringList{QStringLiteral("last.pdf")});
    const QStringList messages = w.prompts().messages();
    QCOMPARE(messages.size(), 1);
    QVERIFY(messages.first().startsWith(
        QStringLiteral("Done.\r\n\r\nNo numbered copy was made of these files:\r\n") +
        inputs.filePath(QStringLiteral("gone-0.pdf")) + QStringLiteral(" (the file does not exist)\r\n")));
    QVERIFY(messages.first().endsWith(QStringLiteral("\r\n...and %1 more.").arg(missing - 20)));
}

void TestNumbering::missingToolNamedInDone() {
    StandInFolders folders;
    QFile::remove(folders.programFolder() + QStringLiteral("/mbtPdfAsm.exe"));
    WindowUnderTest w(&folders);
    QTemporaryDir inputs;
    const QString input = w.appendBlankPdf(inputs.filePath(QStringLiteral("a.pdf")));
    w.clickStart();
    QCOMPARE(w.prompts().messages(),
             QStringList{QStringLiteral("Done.\r\n\r\nNo numbered copy was made of this file:\r\n") + input +
                         QStringLiteral(" (numbrel-batch: cannot run ") + folders.programFolder() +
                         QStringLiteral("/mbtPdfAsm.exe: No such file or directory)")});
    // The script's second line still removed the working copy.
    QCOMPARE(folders.leftInTemp(), QStringList());
}

void TestNumbering::outputThatCannotBeSaved() {
    StandInFolders folders;
    WindowUnderTest w(&folders);
    QTemporaryDir inputs;
    const QString input = inputs.filePath(QStringLiteral("a.pdf"));
    WriteBlankPdf(input, 1);
    // A folder in the way of the output file.
    QVERIFY(QDir(w.output()).mkdir(QStringLiteral("a.pdf")));
    w.append(input);
    w.clickStart();
    QCOMPARE(w.prompts().messages(),
             QStringList{QStringLiteral("Done.\r\n\r\nNo numbered copy was made of this file:\r\n") + input +
                         QStringLiteral(" (the numbered copy cannot be saved as ") + w.output() +
                         QStringLiteral("/a.pdf (Is a directory))")});
    QCOMPARE(QDir(w.output()).entryList(QDir::Files | QDir::Hidden), QStringList());
    QCOMPARE(folders.leftInTemp(), QStringList());
}

void TestNumbering::outputFolderEmptiedDuringRun() {
    StandInFolders folders;
    WindowUnderTest w(&folders);
    QTemporaryDir inputs;
    for (const char* name : {"a.pdf", "b.pdf"}) {
        WriteBlankPdf(inputs.filePath(QLatin1String(name)), 1);
        w.append(inputs.filePath(QLatin1String(name)));
    }
    // The field is read again for every file; emptied, it would name the root folder.
    QTimer edit;
    QObject::connect(&edit, &QTimer::timeout, [&] {
        if (QFile::exists(w.output() + QStringLiteral("/a.pdf"))) {
            edit.stop();
            w.type("Text5", QString());
        }
    });
    edit.start(0);
    w.clickStart();
    QCOMPARE(w.prompts().messages(),
             QStringList{QStringLiteral("Done.\r\n\r\nNo numbered copy was made of this file:\r\n") +
                         inputs.filePath(QStringLiteral("b.pdf")) +
                         QStringLiteral(" (the output folder \"\" does not exist)")});
    QCOMPARE(w.outputFiles(), QStringList{QStringLiteral("a.pdf")});
}

void TestNumbering::temporaryFolder() {
    const QByteArray oldTemp = qgetenv("TEMP"), oldTmpdir = qgetenv("TMPDIR");
    QTemporaryDir base, named;
    qputenv("TMPDIR", QFile::encodeName(base.path()));
    const QString own = base.path() + QStringLiteral("/numbrel-") + QString::number(::getuid());

    qputenv("TEMP", QFile::encodeName(named.path()));
    QCOMPARE(TemporaryFolder(), named.path());
    qputenv("TEMP", QFile::encodeName(named.filePath(QStringLiteral("missing"))));
    QCOMPARE(TemporaryFolder(), own);
    struct stat st {};
    QCOMPARE(::stat(QFile::encodeName(own).constData(), &st), 0);
    QCOMPARE(st.st_mode & 0777, 0700u);
    qunsetenv("TEMP");
    QCOMPARE(TemporaryFolder(), own);
    // A relative TEMP is taken from the current folder, once.
    const QString cwd = QDir::currentPath();
    QVERIFY(QDir(named.path()).mkdir(QStringLiteral("relative")));
    QDir::setCurrent(named.path());
    qputenv("TEMP", "relative");
    const QString relative = TemporaryFolder();
    QDir::setCurrent(cwd);
    QCOMPARE(relative, named.filePath(QStringLiteral("relative")));
    qunsetenv("TEMP");
    // A link planted at that name would put the working files wherever it points: it is refused, and
    // the work goes to a private folder in the user's cache folder, which nobody else can name first.
    QVERIFY(QDir(own).removeRecursively());
    QVERIFY(QFile::link(named.path(), own));
    const TemporaryFolderChoice choice = ChooseTemporaryFolder();
    const QString cache =
        QDir::homePath() + QStringLiteral("/.cache/Quillane/numbrel-") + QString::number(::getuid());
    QCOMPARE(choice.path, cache);
    QCOMPARE(choice.notice,
             QStringLiteral("The temporary folder ") + own +
                 QStringLiteral(" cannot be used (it is a symbolic link), so the working files "
                                "were kept in ") +
                 cache + QStringLiteral(" instead."));
    QVERIFY(choice.numbrelsOwn);

    qputenv("TEMP", oldTemp);
    qputenv("TMPDIR", oldTmpdir);
}

// A private folder that can't be used is no dead end: the files are numbered in another private
// folder, and the last box says once what was found and where the work went.
void TestNumbering::unusableTemporaryFolderSkipsFiles() {
    StandInFolders folders;
    WindowUnderTest w(&folders);
    QTemporaryDir base, elsewhere;
    const QByteArray oldTmpdir = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(base.path()));
    qunsetenv("TEMP");
    const QString own = base.path() + QStringLiteral("/numbrel-") + QString::number(::getuid());
    QVERIFY(QFile::link(elsewhere.path(), own));
    QTemporaryDir inputs;
    for (const char* name : {"a.pdf", "b.pdf"})
        w.appendBlankPdf(inputs.filePath(QLatin1String(name)));
    w.clickStart();
    qputenv("TMPDIR", oldTmpdir);
    const QString cache =
        QDir::homePath() + QStringLiteral("/.cache/Quillane/numbrel-") + QString::number(::getuid());
    QCOMPARE(w.prompts().messages(),
             QStringList{QStringLiteral("Done.\r\n\r\nThe temporary folder ") + own +
                         QStringLiteral(" cannot be used (it is a symbolic link), so the working files were "
                                        "kept in ") +
                         cache + QStringLiteral(" instead.")});
    QCOMPARE(w.outputFiles(), (QStringList{"a.pdf", "b.pdf"}));
    QCOMPARE(QDir(elsewhere.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    QCOMPARE(QDir(cache).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
}

// With neither XDG_RUNTIME_DIR nor a usable cache folder, each file's work goes to a fresh folder with a
// random name (mode 0700) beside the refused one, removed when the file is done.
void TestNumbering::lastResortFolderGoesAfterUse() {
    StandInFolders folders;
    WindowUnderTest w(&folders);
    QTemporaryDir base, elsewhere, cacheParent, inputs;
    const QByteArray oldTmpdir = qgetenv("TMPDIR"), oldCache = qgetenv("XDG_CACHE_HOME");
    qputenv("TMPDIR", QFile::encodeName(base.path()));
    qunsetenv("TEMP");
    // The cache folder's "Quillane" is a file: no folder can be made there.
    WriteBytes(cacheParent.filePath(QStringLiteral("Quillane")), "not a folder");
    qputenv("XDG_CACHE_HOME", QFile::encodeName(cacheParent.path()));
    const QString own = base.path() + QStringLiteral("/numbrel-") + QString::number(::getuid());
    QVERIFY(QFile::link(elsewhere.path(), own));

    const TemporaryFolderChoice choice = ChooseTemporaryFolder();
    QVERIFY2(choice.path.startsWith(own + QLatin1Char('-')), qPrintable(choice.path));
    QVERIFY(choice.madeForThisFile);
    struct stat st {};
    QCOMPARE(::lstat(QFile::encodeName(choice.path).constData(), &st), 0);
    QCOMPARE(st.st_mode & 07777, 0700u);
    QVERIFY(QDir().rmdir(choice.path));

    for (const char* name : {"a.pdf", "b.pdf"})
        w.appendBlankPdf(inputs.filePath(QLatin1String(name)));
    w.clickStart();
    qputenv("TMPDIR", oldTmpdir);
    qputenv("XDG_CACHE_HOME", oldCache);
    QCOMPARE(w.prompts().messages(),
             QStringList{QStringLiteral("Done.\r\n\r\nThe temporary folder ") + own +
                         QStringLiteral(" cannot be used (it is a symbolic link), so the working files were "
                                        "kept in new private folders in ") +
                         base.path() + QStringLiteral(" instead.")});
    QCOMPARE(w.outputFiles(), (QStringList{"a.pdf", "b.pdf"}));
    // Only the refused link is left in the parent: each file's folder went with it.
    QCOMPARE(
        QDir(base.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
        QStringList{GetFileNamePart(own)});
}

void TestNumbering::takesTurnsWithAnotherWindow() {
    StandInFolders folders;
    WindowUnderTest w(&folders);
    QTemporaryDir inputs;
    const QString input = w.appendBlankPdf(inputs.filePath(QStringLiteral("a.pdf")));
    // Another window's run holds the folder for a while.
    const int other =
        ::open(QFile::encodeName(folders.temp()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    QVERIFY(other >= 0);
    QCOMPARE(::flock(other, LOCK_EX | LOCK_NB), 0);
    int looks = 0;
    QStringList seenWhileHeld;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        seenWhileHeld += folders.leftInTemp();
        if (++looks == 5) {
            watch.stop();
            ::close(other);
        }
    });
    watch.start(50);
    w.clickStart();
    QCOMPARE(looks, 5);
    QCOMPARE(seenWhileHeld, QStringList());
    QCOMPARE(w.prompts().messages(), QStringList{QStringLiteral("Done.")});
    QCOMPARE(w.outputFiles(), QStringList{QStringLiteral("a.pdf")});
}

void TestNumbering::scriptThatCannotBeWrittenIsNotRun() {
    StandInFolders folders;
    WindowUnderTest w(&folders);
    QTemporaryDir inputs, scratch;
    qputenv("STANDIN_LOG", QFile::encodeName(scratch.filePath(QStringLiteral("log.txt"))));
    QVERIFY(QDir(folders.temp()).mkdir(QStringLiteral("temp.bat")));
    const QString input = w.appendBlankPdf(inputs.filePath(QStringLiteral("a.pdf")));
    w.clickStart();
    const QString problem = QStringLiteral("File exists: ") + folders.temp() + QStringLiteral("/temp.bat");
    QCOMPARE(w.prompts().messages(),
             (QStringList{
                 problem +
                     QStringLiteral("\r\nin Numbrel2021/08/31.Form1.PushButton2_Click at line 150\r\r"
                                    "Please email screenshot of this message to ") +
                     kSupportAddress,
                 QStringLiteral("Done.\r\n\r\nNo numbered copy was made of this file:\r\n") + input +
                     QStringLiteral(" (the run script cannot be written: ") + problem + QLatin1Char(')')}));
    QVERIFY(!QFile::exists(scratch.filePath(QStringLiteral("log.txt"))));
    QCOMPARE(folders.leftInTemp(), QStringList{QStringLiteral("temp.bat")});
}

QTEST_MAIN(TestNumbering)
#include "test_numbering.moc"
