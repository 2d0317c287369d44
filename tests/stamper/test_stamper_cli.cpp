// The tool's command line as the run script writes it, and what it does with bad values and bad
// files: a one-line message, a non-zero exit, no output (an old OUT stays as it was), IN untouched.

#include "PdfProbe.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <unistd.h>

namespace {

QString Tool() {
    return QStringLiteral(NUMBREL_PROGRAM_DIR "/mbtPdfAsm.exe");
}
QString SamplePdf() {
    return QStringLiteral(NUMBREL_CORPUS_DIR
                          "/py-pdf-sample-files/004-pdflatex-4-pages__pdflatex-4-pages.pdf");
}

const QStringList kDefaults = {"-mIN", "-n", "-N01", "-Ns10", "-Nc0,0,0", "-Nx10", "-Ny10", "-dOUT"};

// The default line with one token replaced (or added when no token has its switch).
QStringList With(const QString& token) {
    QStringList args = kDefaults;
    const int switchLength = token.startsWith("-N") ? 3 : 2;
    for (QString& a : args)
        if (a.left(switchLength) == token.left(switchLength) && a.size() >= switchLength &&
            (switchLength == 3 || a != "-n")) {
            a = token;
            return args;
        }
    args << token;
    return args;
}

QStringList Without(const QString& token) {
    QStringList args = kDefaults;
    args.removeAll(token);
    return args;
}

} // namespace

class StamperCliTest : public QObject {
    Q_OBJECT

private slots:
    void rejected_data();
    void rejected();
    void accepted_data();
    void accepted();
    void helpAndVersion();
    void offPageWarning_data();
    void offPageWarning();
    void signedInputKeepsItsSignature();
    void longOutputName();
    void killedRunLeavesNoPartialFile();
};

void StamperCliTest::rejected_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");

    QTest::newRow("first number not a number")
        << With("-N0a") << 2 << "first number \"a\" is not a whole number";
    QTest::newRow("first number decimal")
        << With("-N01.5") << 2 << "first number \"1.5\" is not a whole number";
    QTest::newRow("first number empty") << With("-N0") << 2 << "first number \"\" is not a whole number";
    QTest::newRow("first number with blank")
        << With("-N0 1") << 2 << "first number \" 1\" is not a whole number";
    QTest::newRow("first number huge") << With("-N099999999999999999999") << 2 << "is out of range";
    QTest::newRow("size zero") << With("-Ns0") << 2
                               << "font size \"0\" is out of range (above 0, up to 10000)";
    QTest::newRow("size negative, plain limits")
        << With("-Ns-3") << 2 << "font size \"-3\" is out of range (above 0, up to 10000)";
    QTest::newRow("size too large") << With("-Ns10000.5") << 2
                                    << "font size \"10000.5\" is out of range (above 0, up to 10000)";
    QTest::newRow("left far away, plain limits")
        << With("-Nx-1000001") << 2 << "left margin \"-1000001\" is out of range (-1000000 to 1000000)";
    QTest::newRow("size negative") << With("-Ns-3") << 2 << "font size \"-3\" is out of range";
    QTest::newRow("size with unit") << With("-Ns12pt") << 2 << "font size \"12pt\" is not a number";
    QTest::newRow("size exponent") << With("-Ns1e1") << 2 << "font size \"1e1\" is not a number";
    QTest::newRow("size comma decimal") << With("-Ns10,5") << 2 << "font size \"10,5\" is not a number";
    QTest::newRow("left not a number") << With("-Nxabc") << 2 << "left margin \"abc\" is not a number";
    QTest::newRow("left nan") << With("-Nxnan") << 2 << "left margin \"nan\" is not a number";
    QTest::newRow("bottom inf") << With("-Nyinf") << 2 << "bottom margin \"inf\" is not a number";
    QTest::newRow("bottom far away") << With("-Ny99999999") << 2
                                     << "bottom margin \"99999999\" is out of range";
    QTest::newRow("colour component 256")
        << With("-Nc256,0,0") << 2 << "red component \"256\" is out of range";
    QTest::newRow("colour out of range from the window")
        << With("-Nc-1,-1,-1") << 2 << "red component \"-1\"";
    QTest::newRow("colour two parts") << With("-Nc1,2") << 2 << "must be three numbers red,green,blue";
    QTest::newRow("colour four parts") << With("-Nc1,2,3,4") << 2 << "must be three numbers red,green,blue";
    QTest::newRow("colour empty parts") << With("-Nc,,") << 2 << "red component \"\" is not a whole number";
    QTest::newRow("colour blue not a number") << With("-Nc0,0,x") << 2 << "blue component \"x\"";
    // The numbering options the tool takes by their batch names.
    QTest::newRow("position") << With("--position=middle") << 2 << "--position \"middle\" is none of top-left,";
    QTest::newRow("flag with a value") << With("--mirror=yes") << 2 << "--mirror takes no value";
    QTest::newRow("value not attached") << With("--box") << 2 << "--box needs its value attached";
    QTest::newRow("left margin at the right") << With("--position=top-right") << 2
                                              << "--left measures from the left edge";
    QTest::newRow("unknown long option") << With("--fast") << 2 << "unknown argument \"--fast\"";
    QTest::newRow("no input") << Without("-mIN") << 2 << "no input file: -mIN is missing";
    QTest::newRow("no output") << Without("-dOUT") << 2 << "no output file: -dOUT is missing";
    QTest::newRow("no -n") << Without("-n") << 2 << "-n (number the pages) is missing";
    QTest::newRow("twice") << (kDefaults + QStringList{"-Ns12"}) << 2 << "-Ns is given more than once";
    QTest::newRow("unknown switch") << (kDefaults + QStringList{"-q"}) << 2 << "unknown argument \"-q\"";
    QTest::newRow("unknown -N switch")
        << (kDefaults + QStringList{"-Nz5"}) << 2 << "unknown argument \"-Nz5\"";
    QTest::newRow("missing input file") << With("-mMISSING") << 1 << "No such file or directory";
    QTest::newRow("input not a PDF") << With("-mTEXT") << 1 << "cannot be read as a PDF file";
    QTest::newRow("input is a folder") << With("-mFOLDER") << 1 << "is a folder, not a PDF file";
    QTest::newRow("output is a folder") << With("-dFOLDER") << 1 << "is a folder; give a file name";
    QTest::newRow("output folder missing")
        << With("-dFOLDER/none/out.pdf") << 1 << "cannot write in the folder";
    // Run under a 2 KB file size limit: the numbered copy can't be written in full.
    QTest::newRow("output cut short") << (QStringList{"LIMIT"} + kDefaults) << 1 << "File too large";
}

void StamperCliTest::rejected() {
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, message);

    QTemporaryDir dir;
    const QString in = dir.filePath("in.pdf");
    const QString out = dir.filePath("out.pdf");
    QVERIFY(QFile::copy(SamplePdf(), in));
    QVERIFY(WriteAll(out, "an older numbered copy"));
    QVERIFY(WriteAll(dir.filePath("text.pdf"), "this is not a PDF file\n"));
    QVERIFY(QDir(dir.path()).mkdir("folder"));
    const QByteArray original = ReadAll(in);
    for (QString& a : args) {
        a.replace("IN", in).replace("OUT", out).replace("MISSING", dir.filePath("missing.pdf"));
        a.replace("TEXT", dir.filePath("text.pdf")).replace("FOLDER", dir.filePath("folder"));
    }

    ProcessResult r = args.value(0) == "LIMIT"
                          ? RunProgram("prlimit", QStringList{"--fsize=2048", Tool()} + args.mid(1))
                          : RunProgram(Tool(), args);
    const QString err = QString::fromUtf8(r.err);
    QCOMPARE(r.exitCode, exitCode);
    QVERIFY2(err.startsWith("mbtPdfAsm.exe: ") && err.endsWith('\n') && err.count('\n') == 1,
             qPrintable(err));
    QVERIFY2(err.contains(message), qPrintable(err));
    QCOMPARE(ReadAll(in), original);
    QCOMPARE(ReadAll(out), QByteArray("an older numbered copy"));
    QStringList files = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
    QCOMPARE(files, (QStringList{"in.pdf", "out.pdf", "text.pdf"}));
}

void StamperCliTest::accepted_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QStringList>("numbers"); // what pages 1 and 4 show at the bottom left

    QTest::newRow("as the run writes it") << kDefaults << QStringList{"1", "4"};
    QTest::newRow("any order") << QStringList{"-dOUT", "-Ny10", "-Nx10", "-Nc0,0,0",
                                              "-Ns10", "-N01",  "-n",    "-mIN"}
                               << QStringList{"1", "4"};
    QTest::newRow("plus sign") << With("-N0+5") << QStringList{"5", "8"};
    QTest::newRow("negative first number") << With("-N0-2") << QStringList{"-2", "1"};
    QTest::newRow("zero") << With("-N00") << QStringList{"0", "3"};
    QTest::newRow("leading zeros") << With("-N0007") << QStringList{"7", "10"};
    QTest::newRow("decimal size") << With("-Ns10.5") << QStringList{"1", "4"};
    QTest::newRow("only the required tokens") << QStringList{"-mIN", "-n", "-dOUT"} << QStringList{"1", "4"};
    // A blank typed before a value makes the run script split it from its switch.
    QTest::newRow("value split from its switch")
        << QStringList{"-mIN", "-n", "-N0", "5", "-Ns", "10", "-Nc", "0,0,0", "-Nx10", "-Ny10", "-dOUT"}
        << QStringList{"5", "8"};
    QTest::newRow("negative value split from its switch")
        << QStringList{"-mIN", "-n", "-N0", "-3", "-dOUT"} << QStringList{"-3", "0"};
    QTest::newRow("same file in and out")
        << QStringList{"-mIN", "-n", "-N01", "-dIN"} << QStringList{"1", "4"};
}

void StamperCliTest::accepted() {
    QFETCH(QStringList, args);
    QFETCH(QStringList, numbers);

    QTemporaryDir dir;
    const QString in = dir.filePath("in.pdf");
    const QString out = dir.filePath("out.pdf");
    QVERIFY(QFile::copy(SamplePdf(), in));
    const QByteArray original = ReadAll(in);
    const bool inPlace = args.contains("-dIN");
    for (QString& a : args)
        a.replace("IN", in).replace("OUT", out);

    ProcessResult r = RunProgram(Tool(), args);
    QVERIFY2(r.exitCode == 0, r.err.constData());
    QVERIFY2(r.err.isEmpty(), r.err.constData());
    const QString result = inPlace ? in : out;
    if (!inPlace)
        QCOMPARE(ReadAll(in), original);
    QCOMPARE(PdfProbe::pageCount(result), 4);
    const QList<int> pages{1, 4};
    for (int k = 0; k < 2; ++k) {
        bool found = false;
        for (const PdfWord& w : PdfProbe::words(result, pages[k]))
            found = found || (w.text == numbers[k] && qAbs(w.xMin - 10) < 0.5);
        QVERIFY2(found, qPrintable(QString("page %1 lacks %2").arg(pages[k]).arg(numbers[k])));
    }
    QStringList files = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
    QCOMPARE(files, inPlace ? QStringList{"in.pdf"} : (QStringList{"in.pdf", "out.pdf"}));
}

void StamperCliTest::helpAndVersion() {
    ProcessResult help = RunProgram(Tool(), {"--help"});
    QCOMPARE(help.exitCode, 0);
    QVERIFY(help.out.startsWith("Usage: mbtPdfAsm.exe -mIN -n"));
    ProcessResult version = RunProgram(Tool(), {"--version"});
    QCOMPARE(version.exitCode, 0);
    QVERIFY(version.out.startsWith("mbtPdfAsm.exe "));
    ProcessResult nothing = RunProgram(Tool(), {});
    QCOMPARE(nothing.exitCode, 2);
}

void StamperCliTest::offPageWarning_data() {
    QTest::addColumn<QString>("token");
    QTest::addColumn<QString>("warning"); // empty: the number shows, nothing is said
    const QString everyPage = QStringLiteral(
        "mbtPdfAsm.exe: warning: the number lies outside the visible page on every page of IN; no number "
        "can be seen (check the left and bottom margins)\n");
    QTest::newRow("left margin -400") << "-Nx-400" << everyPage;
    QTest::newRow("bottom margin 5000") << "-Ny5000" << everyPage;
    QTest::newRow("left margin past the right edge") << "-Nx700" << everyPage;
    QTest::newRow("below the bottom edge") << "-Ny-20" << everyPage;
    QTest::newRow("near the right edge still shows") << "-Nx590" << QString();
    QTest::newRow("partly below the bottom edge still shows") << "-Ny-3" << QString();
}

void StamperCliTest::offPageWarning() {
    QFETCH(QString, token);
    QFETCH(QString, warning);
    QTemporaryDir dir;
    const QString in = dir.filePath("in.pdf");
    const QString out = dir.filePath("out.pdf");
    QVERIFY(QFile::copy(SamplePdf(), in));
    QStringList args = With(token);
    for (QString& a : args)
        a.replace("IN", in).replace("OUT", out);
    ProcessResult r = RunProgram(Tool(), args);
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(QString::fromUtf8(r.err), warning.replace("IN", in));
    // The copy is made all the same.
    QCOMPARE(PdfProbe::pageCount(out), 4);
}

// The numbers are appended after the signed bytes: the signature still verifies for the revision it
// signed, and the user hears so in one warning line.
void StamperCliTest::signedInputKeepsItsSignature() {
    QTemporaryDir dir;
    const QString in = dir.filePath("in.pdf");
    const QString out = dir.filePath("out.pdf");
    QVERIFY(
        QFile::copy(QStringLiteral(NUMBREL_CORPUS_DIR "/qpdf/qpdf__qtest__qpdf__digitally-signed.pdf"), in));
    ProcessResult r = RunProgram(Tool(), {"-m" + in, "-n", "-N01", "-d" + out});
    QCOMPARE(r.exitCode, 0);
    const QString err = QString::fromUtf8(r.err);
    QVERIFY2(err.startsWith("mbtPdfAsm.exe: warning: ") && err.count('\n') == 1, qPrintable(err));
    QVERIFY2(err.contains("still holds for the signed revision"), qPrintable(err));
    const QByteArray original = ReadAll(in);
    QVERIFY(ReadAll(out).size() > original.size());
    QVERIFY(ReadAll(out).left(original.size()) == original);
    ProcessResult sig = RunProgram("pdfsig", {out});
    QVERIFY2(sig.out.contains("Signature Validation: Signature is Valid."), sig.out.constData());
    QCOMPARE(PdfProbe::pageCount(out), PdfProbe::pageCount(in));
}

// Temporary names don't grow with OUT's: the longest name a folder allows still works.
void StamperCliTest::longOutputName() {
    QTemporaryDir dir;
    const QString in = dir.filePath("in.pdf");
    const QString out = dir.filePath(QString(251, 'n') + ".pdf");
    QVERIFY(QFile::copy(SamplePdf(), in));
    for (int round = 0; round < 2; ++round) { // OUT new, then OUT replaced
        ProcessResult r = RunProgram(Tool(), {"-m" + in, "-n", "-N01", "-d" + out});
        QVERIFY2(r.exitCode == 0, r.err.constData());
        QCOMPARE(PdfProbe::pageCount(out), 4);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
    }
}

// Killed while it writes, the tool leaves neither OUT nor any other file behind: the copy has no
// name until it is complete. An existing OUT stays as it was.
void StamperCliTest::killedRunLeavesNoPartialFile() {
    QTemporaryDir dir;
    const QString sample = dir.filePath("sample.pdf");
    const QString in = dir.filePath("in.pdf");
    QVERIFY(QFile::copy(SamplePdf(), sample));
    QStringList pages{"--empty", "--pages"};
    for (int k = 0; k < 500; ++k)
        pages << sample;
    pages << "--" << in;
    QCOMPARE(RunProgram("qpdf", pages).exitCode, 0);
    QFile::remove(sample);
    const QString out = dir.filePath("out.pdf");

    int killedWhileWriting = 0;
    for (int attempt = 0; attempt < 6 && killedWhileWriting < 2; ++attempt) {
        const bool oldCopy = attempt % 2 == 0;
        QFile::remove(out);
        if (oldCopy)
            QVERIFY(WriteAll(out, "an older numbered copy"));
        QProcess tool;
        tool.start(Tool(), {"-m" + in, "-n", "-N01", "-d" + out});
        QVERIFY(tool.waitForStarted());
        const QString fds = QString("/proc/%1/fd").arg(tool.processId());
        bool killed = false;
        // Watch the tool's open files until one in the folder other than IN is open for writing.
        while (!killed && !tool.waitForFinished(1)) {
            for (const QString& fd :
                 QDir(fds).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
                char target[4096];
                const ssize_t n = readlink(qPrintable(fds + "/" + fd), target, sizeof target - 1);
                const QString path = QString::fromLocal8Bit(target, n > 0 ? n : 0);
                if (path.startsWith(dir.path() + "/") && path != in) {
                    ::kill(pid_t(tool.processId()), SIGKILL);
                    killed = true;
                    break;
                }
            }
        }
        tool.waitForFinished();
        const QStringList left = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
        if (!killed) {
            QCOMPARE(left, (QStringList{"in.pdf", "out.pdf"}));
            continue;
        }
        ++killedWhileWriting;
        QCOMPARE(left, oldCopy ? (QStringList{"in.pdf", "out.pdf"}) : QStringList{"in.pdf"});
        if (oldCopy)
            QCOMPARE(ReadAll(out), QByteArray("an older numbered copy"));
    }
    QVERIFY2(killedWhileWriting > 0, "the tool always finished before it could be stopped");
}

QTEST_GUILESS_MAIN(StamperCliTest)
#include "test_stamper_cli.moc"
