// GShell's launches and error table, and RunAndWait's polling, with real short processes.

#include "RunFixture.h"
#include "numbering/ChildProcess.h"
#include "numbering/ScriptRunner.h"
#include "numbering/ShellError.h"
#include "sys/FileUtils.h"

#include <QDir>
#include <QTimer>
#include <QtTest>

class TestScriptRunner : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void errorTable_data();
    void errorTable();
    void launchErrors_data();
    void launchErrors();
    void showModeRules_data();
    void showModeRules();
    void runAndWaitShowMode_data();
    void runAndWaitShowMode();
    void pollCounts_data();
    void pollCounts();
    void waitOrder_data();
    void waitOrder();
    void exitStatusAndErrorOutput();
    void windowEventsRunWhileWaiting();
    void failedLaunchReturnsAtOnce();
    void programGetsItsParameters();

private:
    QTemporaryDir dir_;
    TestHome home_;
};

void TestScriptRunner::initTestCase() {
    QVERIFY(dir_.isValid());
    WriteBytes(dir_.filePath(QStringLiteral("quick.bat")), "del nothing-here\r\n");
    WriteBytes(dir_.filePath(QStringLiteral("slow.bat")), "sleep 0.25\r\n");
    WriteBytes(dir_.filePath(QStringLiteral("status.bat")), "sh -c \"echo the reason >&2; exit 3\"\r\n");
    WriteBytes(dir_.filePath(QStringLiteral("plain.exe")), "not a program");
    QFile::setPermissions(dir_.filePath(QStringLiteral("plain.exe")), QFile::ReadOwner | QFile::WriteOwner);
    QVERIFY(QDir(dir_.path()).mkdir(QStringLiteral("tools.exe")));
    WriteBytes(dir_.filePath(QStringLiteral("tools.exe/quick.bat")), "del nothing-here\r\n");
    QVERIFY(QDir(dir_.path()).mkdir(QStringLiteral("Tools.Exe")));
    WriteBytes(dir_.filePath(QStringLiteral("Tools.Exe/quick.bat")), "del nothing-here\r\n");
}

void TestScriptRunner::errorTable_data() {
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("message");
    const QString general =
        QStringLiteral("An error occurred occurred whilst trying to open or print the selected file.");
    QTest::newRow("0") << 0 << 7 << "Out of memory";
    QTest::newRow("2") << 2 << 53 << "File not found";
    QTest::newRow("3") << 3 << 76 << "Path not found";
    QTest::newRow("5") << 5 << 75 << "Path/file access error";
    QTest::newRow("8") << 8 << 7 << "Out of memory";
    QTest::newRow("11") << 11 << -2147220445 << "The executable file is invalid or corrupt";
    QTest::newRow("26") << 26 << 75 << "A sharing violation occurred.";
    QTest::newRow("27") << 27 << -2147220429 << "This file type does not have a valid file association.";
    QTest::newRow("28") << 28 << 286
                        << "The file could not be opened due to time out. Please try again in a moment.";
    QTest::newRow("29")
        << 29 << 285
        << "The file could not be opened because the DDE transaction failed. Please try again in a "
           "moment.";
    QTest::newRow("30")
        << 30 << 285
        << "The file could not be opened because the target application is busy. Please try again "
           "in a moment.";
    QTest::newRow("31") << 31 << -2147220425 << "No application is associated with this file type.";
    QTest::newRow("32") << 32 << 48 << "The specified dynamic-link library was not found.";
    for (int code : {1, 4, 6, 7, 9, 10, 12, 18, 25})
        QTest::addRow("%d", code) << code << code - 2147220456 << general;
}

void TestScriptRunner::errorTable() {
    QFETCH(int, code);
    QFETCH(int, number);
    QFETCH(QString, message);
    const ShellErrorInfo info = ShellErrorFor(code);
    QCOMPARE(info.number, number);
    QCOMPARE(info.message, message);
}

void TestScriptRunner::launchErrors_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<int>("number");
    QTest::newRow("missing file") << "missing.bat"
                                  << "" << 53;
    QTest::newRow("missing program") << "\"missing.exe\""
                                     << "" << 53;
    QTest::newRow("missing folder of the file") << "nowhere/x.bat"
                                                << "" << 76;
    QTest::newRow("missing working folder") << "quick.bat"
                                            << "nowhere" << 76;
    QTest::newRow("program without permission") << "plain.exe"
                                                << "" << 75;
}

void TestScriptRunner::launchErrors() {
    QFETCH(QString, file);
    QFETCH(QString, folder);
    QFETCH(int, number);
    const QString absoluteFolder = folder.isEmpty() ? dir_.path() : dir_.filePath(folder);
    const QString absoluteFile =
        file.startsWith(QLatin1Char('"'))
            ? QLatin1Char('"') + dir_.filePath(file.mid(1, file.size() - 2)) + QLatin1Char('"')
            : dir_.filePath(file);
    try {
        GShell(absoluteFile, 0, QString(), absoluteFolder, QStringLiteral("open"), nullptr);
        QFAIL("the launch should have failed");
    } catch (const ShellError& e) {
        QCOMPARE(e.number(), number);
        QCOMPARE(e.message(), ShellErrorFor(number == 53 ? 2 : number == 76 ? 3 : 5).message);
    }
}

void TestScriptRunner::showModeRules_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("requested");
    QTest::addColumn<bool>("withFolder");
    QTest::addColumn<int>("used");
    QTest::newRow("asked mode kept") << "quick.bat" << 3 << true << 3;
    QTest::newRow(".exe in a folder name hides") << "tools.exe/quick.bat" << 3 << true << 0;
    QTest::newRow(".Exe in any letter case") << "Tools.Exe/quick.bat" << 2 << true << 0;
    QTest::newRow("no folder, no parameters: normal window") << "quick.bat" << 0 << false << 1;
}

void TestScriptRunner::showModeRules() {
    QFETCH(QString, file);
    QFETCH(int, requested);
    QFETCH(bool, withFolder);
    QFETCH(int, used);
    const QString path = dir_.filePath(file);
    ShellLaunch launch;
    const int code = GShell(path, requested, QString(), withFolder ? dir_.path() : QString(),
                            QStringLiteral("open"), nullptr, &launch);
    QVERIFY(code > 32);
    QCOMPARE(launch.showMode, used);
}

void TestScriptRunner::runAndWaitShowMode_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("after");
    QTest::newRow("0 kept") << 0 << 0;
    QTest::newRow("6 kept") << 6 << 6;
    QTest::newRow("7 becomes 6") << 7 << 6;
    QTest::newRow("-1 becomes 6") << -1 << 6;
}

void TestScriptRunner::runAndWaitShowMode() {
    QFETCH(int, mode);
    QFETCH(int, after);
    WaitReport report;
    RunAndWait(dir_.filePath(QStringLiteral("quick.bat")), &mode, dir_.path(), &report);
    QCOMPARE(mode, after);
    QCOMPARE(report.showMode, after);

    WaitReport absent;
    RunAndWait(dir_.filePath(QStringLiteral("quick.bat")), nullptr, dir_.path(), &absent);
    QCOMPARE(absent.showMode, 6);
    WaitReport noFolder;
    RunAndWait(dir_.filePath(QStringLiteral("quick.bat")), nullptr, QString(), &noFolder);
    QCOMPARE(noFolder.showMode, 1);
}

void TestScriptRunner::pollCounts_data() {
    QTest::addColumn<QString>("script");
    QTest::addColumn<int>("fewest");
    QTest::addColumn<int>("most"); // 0: no upper bound, since a loaded machine may be slower
    // How many queries a real process gets depends on the machine's speed; what holds always is at
    // least one, each followed by its pause (the exact order is waitOrder's, on a clock of its own).
    QTest::newRow("ends at once") << "quick.bat" << 1 << 0;
    QTest::newRow("runs 250 ms") << "slow.bat" << 1 << 0;
}

void TestScriptRunner::pollCounts() {
    QFETCH(QString, script);
    QFETCH(int, fewest);
    QFETCH(int, most);
    WaitReport report;
    int mode = 0;
    QCOMPARE(
        RunAndWait(QLatin1Char('"') + dir_.filePath(script) + QLatin1Char('"'), &mode, dir_.path(), &report),
        0);
    QVERIFY(report.launched);
    QVERIFY(report.processEnded);
    QVERIFY2(report.statusQueries >= fewest && (most == 0 || report.statusQueries <= most),
             qPrintable(QString::number(report.statusQueries)));
    // Every query is followed by a pause, also the one that saw the end.
    QCOMPARE(report.pauses, report.statusQueries);
}

void TestScriptRunner::waitOrder_data() {
    QTest::addColumn<int>("runs"); // how long the process runs, on a clock that only pauses move
    QTest::addColumn<QString>("steps");
    QTest::addColumn<int>("endsAt");
    // Q a status query (with the time it saw and what), E window events, P a 100 ms pause.
    QTest::newRow("ended before the first query") << 0 << "Q0:ended E P" << 100;
    QTest::newRow("ends during the first pause") << 50 << "Q0:active E P Q100:ended E P" << 200;
    QTest::newRow("runs 250 ms") << 250 << "Q0:active E P Q100:active E P Q200:active E P Q300:ended E P"
                                 << 400;
    QTest::newRow("ends as a query is made") << 200 << "Q0:active E P Q100:active E P Q200:ended E P" << 300;
}

void TestScriptRunner::waitOrder() {
    QFETCH(int, runs);
    QFETCH(QString, steps);
    QFETCH(int, endsAt);
    int clock = 0;
    QStringList seen;
    WaitReport report;
    const int status = WaitWhileActive(
        {[&] {
             const bool active = clock < runs;
             seen.append(QStringLiteral("Q%1:%2").arg(clock).arg(active ? "active" : "ended"));
             return active ? ChildProcess::kStillActive : 7;
         },
         [&] { seen.append(QStringLiteral("E")); },
         [&] {
             seen.append(QStringLiteral("P"));
             clock += 100;
         }},
        report);
    QCOMPARE(seen.join(QLatin1Char(' ')), steps);
    QCOMPARE(clock, endsAt);
    QCOMPARE(status, 7);
    QCOMPARE(report.statusQueries, int(seen.count(QStringLiteral("E"))));
    QCOMPARE(report.pauses, report.statusQueries);
}

void TestScriptRunner::exitStatusAndErrorOutput() {
    WaitReport report;
    int mode = 0;
    QCOMPARE(RunAndWait(dir_.filePath(QStringLiteral("status.bat")), &mode, dir_.path(), &report), 3);
    QCOMPARE(report.errorOutput, QByteArray("the reason\n"));
}

void TestScriptRunner::windowEventsRunWhileWaiting() {
    bool fired = false;
    QTimer::singleShot(0, [&] { fired = true; });
    int mode = 0;
    RunAndWait(dir_.filePath(QStringLiteral("slow.bat")), &mode, dir_.path());
    QVERIFY(fired);
}

void TestScriptRunner::failedLaunchReturnsAtOnce() {
    WaitReport report;
    int mode = 0;
    const int result = RunAndWait(dir_.filePath(QStringLiteral("missing.bat")), &mode, dir_.path(), &report);
    QCOMPARE(result, static_cast<int>(0x80040000u + 53u));
    QVERIFY(!report.launched);
    QCOMPARE(report.launchErrorNumber, 53);
    QCOMPARE(report.launchErrorMessage, QStringLiteral("File not found"));
    QCOMPARE(report.statusQueries, 0);
    QCOMPARE(report.pauses, 0);
}

void TestScriptRunner::programGetsItsParameters() {
    const QString program = dir_.filePath(QStringLiteral("tool.exe"));
    QVERIFY(QFile::copy(StandInToolPath(), program));
    QFile::setPermissions(program, QFile::ReadOwner | QFile::ExeOwner);
    const QString log = dir_.filePath(QStringLiteral("log.txt"));
    qputenv("STANDIN_LOG", QFile::encodeName(log));
    ShellLaunch launch;
    QVERIFY(GShell(QLatin1Char('"') + program + QLatin1Char('"'), 3, QStringLiteral("-x \"a b\" c\\\"d"),
                   QString(), QStringLiteral("open"), nullptr, &launch) > 32);
    qunsetenv("STANDIN_LOG");
    QVERIFY(launch.process);
    QTRY_VERIFY(launch.process->exitStatus() != ChildProcess::kStillActive);
    QCOMPARE(launch.showMode, 0);
    QCOMPARE(ReadBytes(log), QByteArray("-x|a b|c\"d\n"));
}

QTEST_MAIN(TestScriptRunner)
#include "test_scriptrunner.moc"
