// kill -9 at random points of 30-file runs, of the program and of the numbering tool: every output
// is absent or complete, the inputs stay as they were, and no stray file is left in the output
// folder, the input folder or the temporary folder once the next run has begun. The seed of the
// random points is printed; NUMBREL_DRILL_SEED repeats a drill.

#include "RunFixture.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QRandomGenerator>
#include <QThread>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {
constexpr int kFiles = 30;

QByteArray digest(const QString& path) {
    return QCryptographicHash::hash(ReadBytes(path), QCryptographicHash::Sha256);
}

// The numbering tools at work in folder, by process id; only processes started after floor are looked
// at (the tool lives a few tens of milliseconds, so the look must be quick).
QList<pid_t> toolsIn(const QString& folder, pid_t floor) {
    QList<pid_t> found;
    const QString wanted = QFileInfo(folder).canonicalFilePath();
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const pid_t pid = entry.toInt(&number);
        if (!number || pid <= floor)
            continue;
        const QByteArray command = ReadBytes(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (!command.split('\0').value(0).endsWith("mbtPdfAsm.exe"))
            continue;
        if (QFileInfo(QStringLiteral("/proc/%1/cwd").arg(pid)).symLinkTarget() == wanted)
            found.append(pid);
    }
    return found;
}

bool qpdfCheckPasses(const QString& path) {
    QProcess p;
    p.start(QStringLiteral("qpdf"), {QStringLiteral("--check"), path});
    return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

QStringList entries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                  QDir::Name);
}
} // namespace

class TestKillDrill : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void killedAtRandomPoints();
    void killedAtTheMomentOfDelivery();

private:
    // Starts a run of every input into output; the run's process is returned running.
    void startRun(QProcess& run, const QString& output, bool killAtRename = false);
    // Waits until no script or tool of an earlier run holds the temporary folder.
    void waitForFolder();
    // Every file in folder is an input's name, and either as it was (original) or a complete copy.
    void checkFolder(const QString& folder, const QHash<QString, QByteArray>& original);

    QTemporaryDir inputs_, inPlace_, output_, temp_;
    QStringList names_;
    QHash<QString, QByteArray> originals_;  // by name
    QHash<QString, QByteArray> checkedNow_; // by path: the digest last found complete
    QRandomGenerator random_;
    QStringList strays_;
};

void TestKillDrill::initTestCase() {
    const quint32 seed = qEnvironmentVariableIsSet("NUMBREL_DRILL_SEED")
                             ? quint32(qEnvironmentVariableIntValue("NUMBREL_DRILL_SEED"))
                             : QRandomGenerator::system()->generate();
    qInfo("kill drill seed %u", seed);
    random_.seed(seed);
    const QString corpus = CorpusFolder();
    const QStringList sources{
        corpus + QStringLiteral("/qpdf/qpdf__qtest__qpdf__fax-decode-parms.pdf"),
        corpus + QStringLiteral("/py-pdf-sample-files/004-pdflatex-4-pages__pdflatex-4-pages.pdf"),
        corpus + QStringLiteral("/qpdf/qpdf__qtest__qpdf__inline-images.pdf"),
    };
    for (int k = 0; k < kFiles; ++k) {
        const QString name = QStringLiteral("file %1.pdf").arg(k + 1, 2, 10, QLatin1Char('0'));
        // A few large files, so that some kills land while a copy is being written.
        const QByteArray bytes = ReadBytes(sources.at(k % 6 == 0 ? 0 : 1 + k % 2));
        QVERIFY(!bytes.isEmpty());
        WriteBytes(inputs_.filePath(name), bytes);
        WriteBytes(inPlace_.filePath(name), bytes);
        names_.append(name);
        originals_.insert(name, digest(inputs_.filePath(name)));
    }
}

void TestKillDrill::startRun(QProcess& run, const QString& output, bool killAtRename) {
    const QString folder = output == inPlace_.path() ? inPlace_.path() : inputs_.path();
    QStringList arguments{output};
    for (const QString& name : names_)
        arguments.append(folder + QLatin1Char('/') + name);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("TEMP"), temp_.path());
    if (killAtRename)
        env.insert(QStringLiteral("NUMBREL_KILL_AT_RENAME"), QStringLiteral("1"));
    run.setProcessEnvironment(env);
    run.start(QStringLiteral(NUMBREL_RUN_HELPER), arguments);
    QVERIFY(run.waitForStarted());
}

void TestKillDrill::waitForFolder() {
    const int fd = ::open(QFile::encodeName(temp_.path()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    QVERIFY(fd >= 0);
    QTRY_VERIFY_WITH_TIMEOUT(::flock(fd, LOCK_EX | LOCK_NB) == 0, 60000);
    ::close(fd);
}

void TestKillDrill::checkFolder(const QString& folder, const QHash<QString, QByteArray>& original) {
    for (const QString& name : entries(folder)) {
        const QString path = folder + QLatin1Char('/') + name;
        if (!names_.contains(name)) {
            strays_.append(path);
            continue;
        }
        const QByteArray now = digest(path);
        if (original.value(name) == now || checkedNow_.value(path) == now)
            continue;
        QVERIFY2(qpdfCheckPasses(path), qPrintable(path + QStringLiteral(" is not a complete PDF")));
        checkedNow_.insert(path, now);
    }
}

void TestKillDrill::killedAtRandomPoints() {
    QElapsedTimer drill;
    drill.start();
    const QHash<QString, QByteArray> none;
    // Rounds 1 to 3: the program killed; the third numbers the files in their own folder.
    for (int round = 1; round <= 3; ++round) {
        const QString output = round == 3 ? inPlace_.path() : output_.path();
        QProcess run;
        startRun(run, output);
        const int after = int(random_.bounded(300, 4000));
        QTest::qWait(after); // the random point itself, not a wait for a condition
        ::kill(pid_t(run.processId()), SIGKILL);
        QVERIFY(run.waitForFinished(10000));
        waitForFolder();
        qInfo("round %d: the program killed after %d ms; left in the temporary folder: %s", round, after,
              qPrintable(entries(temp_.path()).join(QStringLiteral(", "))));
        checkFolder(output_.path(), none);
        checkFolder(inPlace_.path(), originals_);
        checkFolder(inputs_.path(), originals_);
        for (const QString& name : names_)
            QCOMPARE(digest(inputs_.filePath(name)), originals_.value(name));
    }
    // Round 4: the tool killed, at a random moment of its work, on up to five files (each tool caught
    // at work is a victim, every other one, until five are killed); the run goes on and says which.
    for (int round = 4; round <= 4; ++round) {
        QProcess run;
        startRun(run, output_.path());
        QList<pid_t> seen;
        int killed = 0;
        while (run.state() == QProcess::Running) {
            for (pid_t pid : toolsIn(temp_.path(), pid_t(run.processId()))) {
                if (seen.contains(pid))
                    continue;
                seen.append(pid);
                if (killed < 5 && seen.size() % 2 == 1) {
                    QThread::usleep(random_.bounded(0, 8000));
                    if (::kill(pid, SIGKILL) == 0)
                        ++killed;
                }
            }
            run.waitForFinished(1);
        }
        QCOMPARE(run.exitCode(), 0);
        const QString said = QString::fromLocal8Bit(run.readAllStandardOutput());
        qInfo("round %d: %d tools caught at work, %d killed; the run said: %s", round, int(seen.size()),
              killed, qPrintable(said.simplified()));
        QVERIFY(said.startsWith(QLatin1String("Done.")));
        checkFolder(output_.path(), none);
        checkFolder(inputs_.path(), originals_);
    }
    // A last run undisturbed: every file numbered, nothing left behind anywhere.
    QProcess run;
    startRun(run, output_.path());
    QVERIFY(run.waitForFinished(120000));
    QCOMPARE(QString::fromLocal8Bit(run.readAllStandardOutput()), QStringLiteral("Done.\n"));
    checkFolder(output_.path(), none);
    checkFolder(inPlace_.path(), originals_);
    checkFolder(inputs_.path(), originals_);
    qInfo("the drill took %lld ms", drill.elapsed());
    QVERIFY2(strays_.isEmpty(),
             qPrintable(QStringLiteral("stray files: ") + strays_.join(QStringLiteral(", "))));
    QCOMPARE(entries(output_.path()), names_);
    QCOMPARE(entries(temp_.path()), QStringList());
}

// Killed at the moment of delivery: the numbered copy that replaces an existing output (every second
// run; always when the output folder is the input folder) has its short name and the old file is still
// in place. The next run removes exactly that copy; a file of the user's that looks like one stays.
void TestKillDrill::killedAtTheMomentOfDelivery() {
    QTemporaryDir output;
    WriteBytes(output.filePath(QStringLiteral(".numbrel-Mine01")), "the user's own");
    QProcess first;
    startRun(first, output.path());
    QVERIFY(first.waitForFinished(120000));
    QCOMPARE(QString::fromLocal8Bit(first.readAllStandardOutput()), QStringLiteral("Done.\n"));
    const QByteArray firstCopy = digest(output.filePath(names_.first()));

    QProcess killed;
    startRun(killed, output.path(), true);
    QVERIFY(killed.waitForFinished(120000));
    QCOMPARE(killed.exitStatus(), QProcess::CrashExit);
    QStringList strays;
    for (const QString& name : entries(output.path()))
        if (!names_.contains(name) && name != QLatin1String(".numbrel-Mine01"))
            strays.append(name);
    qInfo("killed at the first delivery; left in the output folder: %s", qPrintable(strays.join(", ")));
    QCOMPARE(strays.size(), 1);
    QVERIFY(strays.first().startsWith(QLatin1String(".numbrel-")));
    QCOMPARE(digest(output.filePath(names_.first())), firstCopy);

    waitForFolder();
    QProcess next;
    startRun(next, output.path());
    QVERIFY(next.waitForFinished(120000));
    QCOMPARE(QString::fromLocal8Bit(next.readAllStandardOutput()), QStringLiteral("Done.\n"));
    QStringList expected = names_;
    expected.append(QStringLiteral(".numbrel-Mine01"));
    expected.sort();
    QStringList found = entries(output.path());
    found.sort();
    QCOMPARE(found, expected);
    QCOMPARE(ReadBytes(output.filePath(QStringLiteral(".numbrel-Mine01"))), QByteArray("the user's own"));
}

QTEST_GUILESS_MAIN(TestKillDrill)
#include "test_killdrill.moc"
