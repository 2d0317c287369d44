// Small damaged files of each kind that viewers still show, written here byte by byte, numbered by
// the real mbtPdfAsm.exe and judged by poppler, MuPDF and the qpdf command line: every page a
// viewer would show is numbered, in order, and the copy opens cleanly everywhere.

#include "CopyWithoutNumber.h"
#include "NumberCheck.h"
#include "PdfProbe.h"
#include "PdfWriter.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <zlib.h>

namespace {

QString Tool() {
    return QStringLiteral(NUMBREL_PROGRAM_DIR "/mbtPdfAsm.exe");
}

// A page that shows one word in Helvetica, object `font`.
QByteArray PageBody(int parent, int contents, int font, const QByteArray& more = {}) {
    return "<< /Type /Page /Parent " + QByteArray::number(parent) +
           " 0 R /MediaBox [0 0 300 300] /Contents " + QByteArray::number(contents) +
           " 0 R /Resources << /Font << /F1 " + QByteArray::number(font) + " 0 R >> >> " + more + ">>";
}

QByteArray TextStream(const QByteArray& word) {
    const QByteArray content = "BT /F1 24 Tf 60 150 Td (" + word + ") Tj ET";
    return "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "\nendstream";
}

const QByteArray kFont = "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>";

// Catalog 1, page tree root 2, font 3, then for each word a page and its content stream.
QList<QByteArray> SimpleObjects(const QByteArray& kids, int count, const QList<QByteArray>& words) {
    QList<QByteArray> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [" + kids + "] /Count " + QByteArray::number(count) + " >>", kFont};
    for (const QByteArray& w : words) {
        const int page = int(objects.size()) + 1;
        objects.append(PageBody(2, page + 1, 3));
        objects.append(TextStream(w));
    }
    return objects;
}

// A tree `levels` deep: nodes 4.. each with the next as their only kid, the last holding the page.
QByteArray DeepTree(int levels) {
    QList<QByteArray> objects = {"<< /Type /Catalog /Pages 4 0 R >>", TextStream("Deep"), kFont};
    for (int level = 0; level < levels; ++level) {
        const int self = 4 + level;
        const QByteArray kid =
            level + 1 < levels ? QByteArray::number(self + 1) : QByteArray::number(4 + levels);
        const QByteArray parent =
            level == 0 ? QByteArray() : " /Parent " + QByteArray::number(self - 1) + " 0 R";
        objects.append("<< /Type /Pages /Kids [" + kid + " 0 R] /Count 1" + parent + " >>");
    }
    objects.append(PageBody(3 + levels, 2, 3)); // object 4 + levels
    return ClassicFile(objects, "/Root 1 0 R");
}

// Written by qpdf with object streams and a cross-reference stream, then cut or damaged.
QByteArray XrefStreamFile(const QList<QByteArray>& words) {
    QPDF pdf;
    pdf.emptyPDF();
    auto font = pdf.makeIndirectObject(QPDFObjectHandle::parse(kFont.toStdString()));
    for (const QByteArray& w : words) {
        auto page = pdf.makeIndirectObject(QPDFObjectHandle::parse(
            "<< /Type /Page /MediaBox [0 0 300 300] /Resources << /Font << >> >> >>"));
        page.getKey("/Resources").getKey("/Font").replaceKey("/F1", font);
        page.replaceKey("/Contents",
                        pdf.newStream(("BT /F1 24 Tf 60 150 Td (" + w + ") Tj ET").toStdString()));
        QPDFPageDocumentHelper(pdf).addPage(QPDFPageObjectHelper(page), false);
    }
    QPDFWriter w(pdf);
    w.setOutputMemory();
    w.setObjectStreamMode(qpdf_o_generate);
    w.setStaticID(true);
    w.write();
    auto buffer = w.getBufferSharedPointer();
    return QByteArray(reinterpret_cast<const char*>(buffer->getBuffer()), qsizetype(buffer->getSize()));
}

// Everything from the last startxref on is gone: no trailer keyword anywhere, no pointer.
QByteArray WithoutStartxref(QByteArray pdf) {
    pdf.truncate(pdf.lastIndexOf("startxref"));
    return pdf;
}

// The cross-reference stream's data is overwritten (its dictionary still names the catalog).
QByteArray WithDamagedXrefStream(QByteArray pdf) {
    const qsizetype type = pdf.lastIndexOf("/Type /XRef");
    const qsizetype data = pdf.indexOf("stream\n", type) + 7;
    for (qsizetype k = data; k < data + 8 && k < pdf.size(); ++k)
        pdf[k] = 'x';
    return pdf;
}

// A Flate stream of `mib` mebibytes of zero bytes and then `tail`, made without compressing the
// zeros more than once: after a full flush a deflate block doesn't depend on what came before, so
// one compressed mebibyte is repeated.
QByteArray DeflatedZeros(int mib, const QByteArray& tail) {
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
    QByteArray zeros(1 << 20, '\0');
    QByteArray block(1 << 20, '\0');
    z.next_in = reinterpret_cast<Bytef*>(zeros.data());
    z.avail_in = uInt(zeros.size());
    z.next_out = reinterpret_cast<Bytef*>(block.data());
    z.avail_out = uInt(block.size());
    deflate(&z, Z_FULL_FLUSH);
    block.truncate(block.size() - qsizetype(z.avail_out));
    QByteArray end(4096, '\0');
    QByteArray tailCopy = tail;
    z.next_in = reinterpret_cast<Bytef*>(tailCopy.data());
    z.avail_in = uInt(tailCopy.size());
    z.next_out = reinterpret_cast<Bytef*>(end.data());
    z.avail_out = uInt(end.size());
    deflate(&z, Z_FINISH);
    end.truncate(end.size() - qsizetype(z.avail_out));
    deflateEnd(&z);

    uLong blockSum = adler32(adler32(0, nullptr, 0), reinterpret_cast<const Bytef*>(zeros.constData()),
                             uInt(zeros.size()));
    uLong sum = adler32(0, nullptr, 0);
    for (int k = 0; k < mib; ++k)
        sum = adler32_combine(sum, blockSum, zeros.size());
    sum = adler32(sum, reinterpret_cast<const Bytef*>(tail.constData()), uInt(tail.size()));

    QByteArray out("\x78\xda", 2);
    out.reserve(2 + block.size() * mib + end.size() + 4);
    for (int k = 0; k < mib; ++k)
        out += block;
    out += end;
    for (int shift : {24, 16, 8, 0})
        out += char((sum >> shift) & 0xff);
    return out;
}

bool WriteFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

int MupdfPageCount(const QString& path) {
    ProcessResult r = RunProgram("mutool", {"info", path});
    static const QRegularExpression pagesLine(QStringLiteral("^Pages:\\s+(\\d+)"),
                                              QRegularExpression::MultilineOption);
    auto m = pagesLine.match(QString::fromLatin1(r.out));
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

} // namespace

class StamperDamagedTest : public QObject {
    Q_OBJECT

private slots:
    void damaged_data();
    void damaged();
    void zeroBomb_data();
    void zeroBomb();
    void malformedEncryption_data();
    void malformedEncryption();
};

void StamperDamagedTest::damaged_data() {
    QTest::addColumn<QByteArray>("file");
    // What each page shows, in the order viewers show them; empty for one page that shows no text.
    QTest::addColumn<QStringList>("words");

    QTest::newRow("page tree whose root lists itself")
        << ClassicFile(SimpleObjects("4 0 R 2 0 R", 1, {"Alpha"}), "/Root 1 0 R") << QStringList{"Alpha"};
    QTest::newRow("loop through a lower node")
        << ClassicFile({"<< /Type /Catalog /Pages 2 0 R >>",
                        "<< /Type /Pages /Kids [4 0 R 6 0 R] /Count 2 >>", kFont, PageBody(2, 5, 3),
                        TextStream("Alpha"), "<< /Type /Pages /Kids [7 0 R 2 0 R] /Count 1 /Parent 2 0 R >>",
                        PageBody(6, 8, 3), TextStream("Beta")},
                       "/Root 1 0 R")
        << QStringList{"Alpha", "Beta"};
    QTest::newRow("page listed twice")
        << ClassicFile(SimpleObjects("4 0 R 4 0 R 6 0 R", 3, {"Alpha", "Beta"}), "/Root 1 0 R")
        << QStringList{"Alpha", "Alpha", "Beta"};
    QTest::newRow("kids that are no pages")
        << ClassicFile(SimpleObjects("4 0 R 42 0 R 3 0 R 7 6 R", 1, {"Alpha"}), "/Root 1 0 R")
        << QStringList{"Alpha"};
    {
        // The catalog's /Pages names an object the file lacks; the pages point to it as their parent.
        QList<QByteArray> objects = SimpleObjects("4 0 R 6 0 R", 2, {"Alpha", "Beta"});
        objects[0] = "<< /Type /Catalog /Pages 99 0 R >>";
        objects[3] = PageBody(99, 5, 3);
        objects[5] = PageBody(99, 7, 3);
        QTest::newRow("catalog whose page tree is missing")
            << ClassicFile(objects, "/Root 1 0 R") << QStringList{"Alpha", "Beta"};
        objects[0] = "<< /Type /Catalog /Pages 12 >>";
        QTest::newRow("catalog whose page tree is a number")
            << ClassicFile(objects, "/Root 1 0 R") << QStringList{"Alpha", "Beta"};
    }
    // qpdf reads it by rebuilding its cross-references, and its writer then leaves /Size out too.
    QTest::newRow("trailer without /Size")
        << ClassicFile(SimpleObjects("4 0 R 6 0 R", 2, {"Alpha", "Beta"}), "/Root 1 0 R")
               .replace("/Size 8 ", "")
        << QStringList{"Alpha", "Beta"};
    QTest::newRow("trailer without /Root")
        << ClassicFile(SimpleObjects("4 0 R 6 0 R", 2, {"Alpha", "Beta"}), "")
        << QStringList{"Alpha", "Beta"};
    QTest::newRow("no trailer, only cross-reference streams")
        << WithoutStartxref(XrefStreamFile({"Alpha", "Beta", "Gamma"}))
        << QStringList{"Alpha", "Beta", "Gamma"};
    QTest::newRow("damaged cross-reference stream")
        << WithDamagedXrefStream(XrefStreamFile({"Alpha", "Beta"})) << QStringList{"Alpha", "Beta"};
    {
        // Crashed the tool before: a copy of the page made as its font dictionary.
        QList<QByteArray> objects = SimpleObjects("4 0 R", 1, {"Alpha"});
        objects[3] = PageBody(2, 5, 3).replace("/Resources << /Font << /F1 3 0 R >> >>",
                                               "/Resources << /Font 4 0 R /ExtGState << >> >>");
        QTest::newRow("page that is its own font dictionary")
            << ClassicFile(objects, "/Root 1 0 R") << QStringList{};
    }
    QTest::newRow("page tree 22,000 levels deep") << DeepTree(22000) << QStringList{"Deep"};
    QTest::newRow("page tree 100,000 levels deep") << DeepTree(100000) << QStringList{"Deep"};
}

void StamperDamagedTest::damaged() {
    QFETCH(QByteArray, file);
    QFETCH(QStringList, words);
    QTemporaryDir dir;
    const QString in = dir.filePath("in.pdf"), out = dir.filePath("out.pdf");
    QVERIFY(WriteFile(in, file));

    ProcessResult run =
        RunProgram(Tool(), {"-m" + in, "-n", "-N01", "-Ns11", "-Nc255,0,0", "-Nx15", "-Ny12", "-d" + out});
    QVERIFY2(run.exitCode == 0, run.err.constData());
    // The repair is not silent.
    const int pages = std::max(1, int(words.size()));
    if (!words.isEmpty())
        QVERIFY2(run.err.contains("warning"), run.err.constData());

    QCOMPARE(PdfProbe::pageCount(out), pages);
    QCOMPARE(MupdfPageCount(out), pages);
    ProcessResult check = PdfProbe::check(out);
    QVERIFY2(check.exitCode == 0, check.out.constData());

    const QString original = dir.filePath("without-number.pdf");
    QVERIFY(WriteCopyWithoutNumber(out, original));
    const QList<DisplayedPage> shown = PdfProbe::displayedPages(out, pages);
    for (int p = 1; p <= pages; ++p) {
        bool found = words.isEmpty(); // a page whose text can't show: its font is gone
        for (const PdfWord& w : PdfProbe::words(out, p))
            found = found || w.text == words.value(p - 1);
        QVERIFY2(found, qPrintable(QString("page %1 does not show %2").arg(p).arg(words.value(p - 1))));
        const QString problem =
            CheckPageNumber(original, out, p, shown[p - 1], {QString::number(p), 15, 12, 11, 1});
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
    }
}

// A page whose content inflates to a gibibyte of zero bytes (a one-megabyte file) is numbered like
// any other; the memory this takes is measured in bench/stamper, not here.
void StamperDamagedTest::zeroBomb_data() {
    QTest::addColumn<QByteArray>("filter");
    QTest::newRow("plain Flate, inflated by the tool") << QByteArray("/Filter /FlateDecode");
    QTest::newRow("Flate with parameters, decoded by qpdf")
        << QByteArray("/Filter [/FlateDecode] /DecodeParms [<< /Predictor 1 >>]");
}

void StamperDamagedTest::zeroBomb() {
    QFETCH(QByteArray, filter);
    QTemporaryDir dir;
    const QString in = dir.filePath("zeros.pdf"), out = dir.filePath("out.pdf");
    const QByteArray stream = DeflatedZeros(1024, "\nBT /F1 24 Tf 60 150 Td (Zeros) Tj ET\n");
    QVERIFY(stream.size() < 2 << 20);
    const QByteArray file =
        ClassicFile({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [4 0 R] /Count 1 >>", kFont,
                     PageBody(2, 5, 3),
                     "<< /Length " + QByteArray::number(stream.size()) + " " + filter + " >>\nstream\n" +
                         stream + "\nendstream"},
                    "/Root 1 0 R");
    QVERIFY(WriteFile(in, file));
    ProcessResult run = RunProgram(Tool(), {"-m" + in, "-n", "-N07", "-Nx15", "-Ny12", "-d" + out}, 300000);
    QVERIFY2(run.exitCode == 0, run.err.constData());
    QCOMPARE(MupdfPageCount(out), 1);
    QStringList seen;
    for (const PdfWord& w : PdfProbe::words(out, 1))
        seen << w.text;
    QVERIFY2(seen.contains("Zeros") && seen.contains("7"), qPrintable(seen.join(' ')));
}

// qpdf reads an encryption dictionary whose key length is off; MuPDF or both viewers refuse it. The
// copy must open in both, or no copy is written and the reason is given.
void StamperDamagedTest::malformedEncryption_data() {
    QTest::addColumn<QByteArray>("length");
    QTest::addColumn<bool>("numbered");
    QTest::newRow("129 bits: MuPDF refuses the input, the copy says 128")
        << QByteArray("/Length 129 ") << true;
    QTest::newRow("8 bits: every viewer refuses") << QByteArray("/Length 8   ") << false;
    QTest::newRow("no length: every viewer refuses") << QByteArray("/Lxngth 128 ") << false;
}

void StamperDamagedTest::malformedEncryption() {
    QFETCH(QByteArray, length);
    QFETCH(bool, numbered);
    QFile source(QStringLiteral(NUMBREL_CORPUS_DIR "/qpdf/qpdf__qtest__qpdf__enc-R3_V2.pdf"));
    QVERIFY(source.open(QIODevice::ReadOnly));
    QByteArray file = source.readAll();
    QVERIFY(file.contains("/Length 128 "));
    file.replace("/Length 128 ", length); // as long as before: the cross-reference table stays right
    QTemporaryDir dir;
    const QString in = dir.filePath("in.pdf"), out = dir.filePath("out.pdf");
    QVERIFY(WriteFile(in, file));
    ProcessResult run = RunProgram(Tool(), {"-m" + in, "-n", "-N01", "-Nx15", "-Ny12", "-d" + out});
    if (!numbered) {
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.count('\n') == 1 && run.err.contains("encryption"), run.err.constData());
        QVERIFY(!QFile::exists(out));
        return;
    }
    QVERIFY2(run.exitCode == 0, run.err.constData());
    const int pages = PdfProbe::pageCount(in);
    QVERIFY(pages > 0);
    QCOMPARE(PdfProbe::pageCount(out), pages);
    QCOMPARE(MupdfPageCount(out), pages);
}

QTEST_GUILESS_MAIN(StamperDamagedTest)
#include "test_stamper_damaged.moc"
