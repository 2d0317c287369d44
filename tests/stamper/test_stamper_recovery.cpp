// A damaged file larger than the tool reads whole (no cross-reference section, no trailer) is
// rebuilt from the objects found by scanning it a piece at a time. Objects that straddle the
// pieces' borders must be found as well as any other; the copy is judged by poppler.

#include "PdfProbe.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QString Tool() {
    return QStringLiteral(NUMBREL_PROGRAM_DIR "/mbtPdfAsm.exe");
}

// Writes `text` at `offset`; the file grows as a sparse file (zeros) up to there.
bool WriteAt(QFile& file, qint64 offset, const QByteArray& text) {
    return file.seek(offset) && file.write(text) == text.size();
}

} // namespace

class StamperRecoveryTest : public QObject {
    Q_OBJECT

private slots:
    void largeDamagedFile();
};

void StamperRecoveryTest::largeDamagedFile() {
    QTemporaryDir dir;
    const QString input = dir.path() + "/large.pdf";
    {
        QFile f(input);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(WriteAt(f, 0, "%PDF-1.4\n1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n"));
        // The page tree right across the first border between pieces (16 MiB), the page and its
        // content across the second, the font past 256 MiB, which makes the file one read in pieces.
        const qint64 mib = 1 << 20;
        QVERIFY(WriteAt(f, 16 * mib - 7, "\n2 0 obj\n<< /Type /Pages /Kids [3 0 R] /Count 1 >>\nendobj\n"));
        QVERIFY(
            WriteAt(f, 32 * mib - 3,
                    "\n3 0 obj\n<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 300] /Contents 4 0 R "
                    "/Resources << /Font << /F1 5 0 R >> >> >>\nendobj\n4 0 obj\n<< /Length 37 >>\nstream\n"
                    "BT /F1 24 Tf 60 150 Td (Alpha) Tj ET\nendstream\nendobj\n"));
        QVERIFY(WriteAt(f, 270 * mib,
                        "\n5 0 obj\n<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>\nendobj\n"));
    }
    const QString output = dir.path() + "/out.pdf";
    ProcessResult r = RunProgram(Tool(), {"-m" + input, "-n", "-N07", "-d" + output}, 300000);
    QVERIFY2(r.exitCode == 0, r.err.constData());
    QCOMPARE(PdfProbe::pageCount(output), 1);
    QStringList words;
    for (const PdfWord& w : PdfProbe::words(output, 1))
        words << w.text;
    QVERIFY2(words.contains("Alpha") && words.contains("7"), qPrintable(words.join(' ')));
}

QTEST_GUILESS_MAIN(StamperRecoveryTest)
#include "test_stamper_recovery.moc"
