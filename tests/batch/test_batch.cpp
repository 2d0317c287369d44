// The ".bat" interpreter: how it splits a line, and what the real program does with scripts.

#include "RunFixture.h"
#include "batch/CommandLine.h"

#include <QDir>
#include <QProcess>
#include <QtTest>

class TestBatch : public QObject {
    Q_OBJECT
private slots:
    void splitArguments_data();
    void splitArguments();
    void splitProgramName_data();
    void splitProgramName();
    void runsProgramsWithArguments();
    void deletesByWildcard();
    void exitStatusOfLastLine_data();
    void exitStatusOfLastLine();
    void programStoppedBySignalIsReported();

private:
    // Runs script (its bytes) in folder; returns the exit status and fills errors with stderr.
    int runScript(const QString& folder, const QByteArray& script, QByteArray* errors = nullptr);
};

int TestBatch::runScript(const QString& folder, const QByteArray& script, QByteArray* errors) {
    WriteBytes(folder + QStringLiteral("/test.bat"), script);
    QProcess p;
    p.setWorkingDirectory(folder);
    p.start(BuiltProgramFolder() + QStringLiteral("/numbrel-batch"), {QStringLiteral("test.bat")});
    if (!p.waitForFinished(10000))
        return -1;
    if (errors)
        *errors = p.readAllStandardError();
    return p.exitCode();
}

void TestBatch::splitArguments_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("plain") << QByteArray(" -mtemp1.pdf -n  -N01\t-Ns10 ")
                           << QStringList{"-mtemp1.pdf", "-n", "-N01", "-Ns10"};
    QTest::newRow("quotes group") << QByteArray("\"a b\" c\"d e\"f") << QStringList{"a b", "cd ef"};
    QTest::newRow("empty quoted argument") << QByteArray("a \"\" b") << QStringList{"a", "", "b"};
    QTest::newRow("backslashes without quote") << QByteArray("a\\\\\\b") << QStringList{"a\\\\\\b"};
    QTest::newRow("odd backslashes before quote") << QByteArray("a\\\\\\\"b c") << QStringList{"a\\\"b", "c"};
    QTest::newRow("even backslashes before quote")
        << QByteArray("a\\\\\\\\\"b c\" d") << QStringList{"a\\\\b c", "d"};
    QTest::newRow("doubled quote inside quotes") << QByteArray("\"a\"\"b\" c") << QStringList{"a\"b", "c"};
    QTest::newRow("unclosed quote") << QByteArray("\"a b") << QStringList{"a b"};
    QTest::newRow("nothing") << QByteArray("  ") << QStringList{};
}

void TestBatch::splitArguments() {
    QFETCH(QByteArray, line);
    QFETCH(QStringList, arguments);
    QStringList got;
    for (const std::string& a : SplitArguments(line.toStdString()))
        got.append(QString::fromStdString(a));
    QCOMPARE(got, arguments);
}

void TestBatch::splitProgramName_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("program");
    QTest::addColumn<QByteArray>("rest");
    QTest::newRow("quoted with blank")
        << QByteArray("\"/opt/my tools/t.exe\" -a") << QByteArray("/opt/my tools/t.exe") << QByteArray(" -a");
    QTest::newRow("quoted, backslash is plain")
        << QByteArray("\"C:\\x\\\" b") << QByteArray("C:\\x\\") << QByteArray(" b");
    QTest::newRow("unquoted") << QByteArray("  /bin/echo a b") << QByteArray("/bin/echo")
                              << QByteArray(" a b");
    QTest::newRow("quote directly followed") << QByteArray("\"t\"-a") << QByteArray("t") << QByteArray("-a");
}

void TestBatch::splitProgramName() {
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, program);
    QFETCH(QByteArray, rest);
    std::string restOut;
    QCOMPARE(QByteArray::fromStdString(SplitProgramName(line.toStdString(), restOut)), program);
    QCOMPARE(QByteArray::fromStdString(restOut), rest);
}

void TestBatch::runsProgramsWithArguments() {
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("my tools")));
    const QString tool = dir.filePath(QStringLiteral("my tools/tool.exe"));
    QVERIFY(QFile::copy(StandInToolPath(), tool));
    QFile::setPermissions(tool, QFile::ReadOwner | QFile::ExeOwner);
    const QString log = dir.filePath(QStringLiteral("log.txt"));
    qputenv("STANDIN_LOG", QFile::encodeName(log));
    // CR LF and LF line ends, a comment, a blank line, a missing program that does not stop the rest.
    const QByteArray script = "rem first\r\n\"" + QFile::encodeName(tool) +
                              "\" -x \"two words\" a\\\"b\r\n\r\n@\"" + QFile::encodeName(tool) +
                              "\" second\n/nowhere/missing.exe\n\"" + QFile::encodeName(tool) + "\" third";
    QByteArray errors;
    QCOMPARE(runScript(dir.path(), script, &errors), 0);
    qunsetenv("STANDIN_LOG");
    QCOMPARE(ReadBytes(log), QByteArray("-x|two words|a\"b\nsecond\nthird\n"));
    QVERIFY2(errors.contains("/nowhere/missing.exe"), errors.constData());
}

void TestBatch::deletesByWildcard() {
    QTemporaryDir dir;
    for (const char* name :
         {"temp1.pdf", "a1.tmp", "A2.TMP", ".hidden.tmp", "b.txt", "sub/c1.pdf", "sub/d.pdf"}) {
        QDir(dir.path()).mkpath(QFileInfo(dir.filePath(QLatin1String(name))).path());
        WriteBytes(dir.filePath(QLatin1String(name)), "x");
    }
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder.tmp")));
    QByteArray errors;
    QCOMPARE(runScript(dir.path(),
                       "del temp1.pdf\r\ndel *.tmp\r\nDEL sub/c*.PDF\r\ndel nothing*.here\r\ndel gone.pdf",
                       &errors),
             0);
    QCOMPARE(errors, QByteArray());
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name),
             (QStringList{".hidden.tmp", "b.txt", "folder.tmp", "sub", "test.bat"}));
    QCOMPARE(QDir(dir.filePath(QStringLiteral("sub"))).entryList(QDir::Files),
             QStringList{QStringLiteral("d.pdf")});
}

void TestBatch::exitStatusOfLastLine_data() {
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<int>("status");
    QTest::newRow("failing tool, then del") << QByteArray("tool.exe\r\ndel temp1.pdf") << 0;
    QTest::newRow("del, then failing tool") << QByteArray("del temp1.pdf\r\ntool.exe") << 3;
    QTest::newRow("trailing line end") << QByteArray("tool.exe\r\n") << 3;
    QTest::newRow("missing program last") << QByteArray("tool.exe\r\n./missing.exe") << 127;
}

void TestBatch::exitStatusOfLastLine() {
    QFETCH(QByteArray, script);
    QFETCH(int, status);
    QTemporaryDir dir;
    // A bare program name is found in the working folder.
    QVERIFY(QFile::copy(StandInToolPath(), dir.filePath(QStringLiteral("tool.exe"))));
    QFile::setPermissions(dir.filePath(QStringLiteral("tool.exe")), QFile::ReadOwner | QFile::ExeOwner);
    WriteBytes(dir.filePath(QStringLiteral("temp1.pdf")), "x");
    qputenv("STANDIN_EXIT", "3");
    QCOMPARE(runScript(dir.path(), script), status);
    qunsetenv("STANDIN_EXIT");
    QCOMPARE(QFile::exists(dir.filePath(QStringLiteral("temp1.pdf"))), !script.contains("del"));
}

void TestBatch::programStoppedBySignalIsReported() {
    QTemporaryDir dir;
    QByteArray errors;
    QCOMPARE(runScript(dir.path(), "sh -c \"kill -9 $$\"\r\ndel temp1.pdf", &errors), 0);
    QCOMPARE(errors, QByteArray("numbrel-batch: sh was stopped by signal 9 (Killed)\n"));
}

QTEST_MAIN(TestBatch)
#include "test_batch.moc"
