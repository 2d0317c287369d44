// The program started afresh, in a process of its own, on a settings store that is not a plain file:
// the store's file is opened for the first time at start-up, and a FIFO there would wait for a writer
// for ever. The start must go on with the defaults, say once why, and the run must work.

#include "RunFixture.h"

#include <QDir>
#include <QProcess>
#include <QtTest>

#include <sys/stat.h>

class TestFirstStart : public QObject {
    Q_OBJECT
private slots:
    void storeThatIsNoFile_data();
    void storeThatIsNoFile();
};

void TestFirstStart::storeThatIsNoFile_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("a FIFO") << "fifo";
    QTest::newRow("a link to a FIFO") << "link";
    QTest::newRow("a link to /dev/zero") << "zero";
}

void TestFirstStart::storeThatIsNoFile() {
    QFETCH(QString, kind);
    QTemporaryDir home, temp, output, inputs;
    const QString folder = home.filePath(QStringLiteral(".config/Quillane"));
    QVERIFY(QDir().mkpath(folder));
    const QString store = folder + QStringLiteral("/Numbrel.conf");
    const QString fifo = home.filePath(QStringLiteral("fifo"));
    if (kind == QLatin1String("fifo")) {
        QCOMPARE(::mkfifo(QFile::encodeName(store).constData(), 0600), 0);
    } else if (kind == QLatin1String("link")) {
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QVERIFY(QFile::link(fifo, store));
    } else {
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), store));
    }
    const QString input = inputs.filePath(QStringLiteral("a.pdf"));
    WriteBlankPdf(input, 1);

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"HOME", "NUMBREL_TEST_HOME"})
        env.insert(QLatin1String(name), home.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral(".config")));
    env.insert(QStringLiteral("TEMP"), temp.path());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QProcess run;
    run.setProcessEnvironment(env);
    run.start(QStringLiteral(NUMBREL_RUN_HELPER), {output.path(), input});
    const bool ended = run.waitForFinished(30000);
    if (!ended) {
        run.kill();
        run.waitForFinished();
    }
    QVERIFY2(ended, "the program hangs at start-up");
    const QString said = QString::fromLocal8Bit(run.readAllStandardOutput());
    QVERIFY2(
        said.startsWith(QStringLiteral("The settings file ") + store +
                        QStringLiteral(" cannot be read (it is not a file): the options start from their "
                                       "defaults, and changes are not saved.\r\nin "
                                       "Numbrel2021/08/31.Form1.Form_Load at line 132")),
        qPrintable(said));
    QCOMPARE(said.count(QStringLiteral(" at line ")), 1);
    QVERIFY2(said.endsWith(QStringLiteral("\nDone.\n")), qPrintable(said));
    QVERIFY(QFile::exists(output.filePath(QStringLiteral("a.pdf"))));
}

QTEST_GUILESS_MAIN(TestFirstStart)
#include "test_first_start.moc"
