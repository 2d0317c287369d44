// Pages built to hold one trap each (what real files do to stamping tools), numbered by the real
// mbtPdfAsm.exe and judged by poppler: the number sits at the displayed bottom-left corner and
// nothing else on any page changes.

#include "NumberCheck.h"
#include "PdfProbe.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <map>

namespace {

QString Tool() {
    return QStringLiteral(NUMBREL_PROGRAM_DIR "/mbtPdfAsm.exe");
}

using Oh = QPDFObjectHandle;

struct Builder {
    QPDF pdf;
    Oh font;
    Builder() {
        pdf.emptyPDF();
        font = pdf.makeIndirectObject(Oh::parse("<< /Type /Font /Subtype /Type1 /BaseFont /Times-Roman >>"));
    }
    Oh fonts(const std::string& name = "/F1") {
        Oh fontDict = Oh::newDictionary();
        fontDict.replaceKey(name, font);
        Oh res = Oh::newDictionary();
        res.replaceKey("/Font", fontDict);
        return res;
    }
    Oh stream(const std::string& content) { return pdf.newStream(content); }
    // Kept ASCIIHex-encoded in the file; the whole file is then written with its streams as made.
    bool keepFilters = false;
    Oh hexStream(const std::string& content) {
        keepFilters = true;
        std::string hex;
        for (unsigned char c : content)
            hex += "0123456789abcdef"[c >> 4], hex += "0123456789abcdef"[c & 15];
        Oh s = pdf.newStream();
        s.replaceStreamData(hex + ">", Oh::newName("/ASCIIHexDecode"), Oh::newNull());
        return s;
    }
    // A page with the given dictionary entries; /Contents and /Resources as given (null leaves them out).
    Oh page(const std::string& entries, Oh contents, Oh resources) {
        Oh dict = Oh::parse("<< /Type /Page " + entries + " >>");
        if (!contents.isNull())
            dict.replaceKey("/Contents", contents);
        if (!resources.isNull())
            dict.replaceKey("/Resources", resources);
        Oh page = pdf.makeIndirectObject(dict);
        QPDFPageDocumentHelper(pdf).addPage(QPDFPageObjectHelper(page), false);
        return page;
    }
    Oh pagesNode() { return pdf.getRoot().getKey("/Pages"); }
    void write(const QString& path) {
        QPDFWriter w(pdf, path.toLocal8Bit().constData());
        w.setStaticID(true);
        if (keepFilters) {
            w.setCompressStreams(false);
            w.setDecodeLevel(qpdf_dl_none);
        }
        w.write();
    }
};

const Oh kNone = Oh::newNull();
const std::string kLetterish = "/MediaBox [0 0 300 400] ";

const std::map<QString, std::function<void(Builder&)>>& Cases() {
    static const std::map<QString, std::function<void(Builder&)>> cases = {
        {"q and cm left open, one stream and resources shared by two pages",
         [](Builder& b) {
             Oh res = b.pdf.makeIndirectObject(b.fonts());
             Oh s = b.stream(
                 "q 3 0 0 3 0 0 cm 0 0 1 rg 10 10 40 40 re f BT /F1 4 Tf 1 0 0 1 5 100 Tm (shared) Tj ET");
             b.page(kLetterish, s, res);
             b.page(kLetterish, s, res);
         }},
        {"clip path left open",
         [](Builder& b) {
             b.page(kLetterish, b.stream("q 0 0 20 20 re W n 0 0 1 rg 0 0 300 400 re f"), kNone);
         }},
        // At the end, where real files have them: poppler stops reading a content stream at the first
        // Q that closes nothing, other viewers skip it, so only there do they all agree on the original.
        {"restores that close nothing",
         [](Builder& b) {
             b.page(kLetterish, b.stream("2 0 0 2 0 0 cm 1 0 1 rg 20 20 50 50 re f Q Q"), kNone);
         }},
        // Not plain Flate: decoded through qpdf instead of the quick inflate.
        {"hex-encoded content with two q and a cm between them left open, then with a stray restore",
         [](Builder& b) {
             b.page(kLetterish, b.hexStream("q 3 0 0 3 0 0 cm q 0 0 1 rg 10 10 40 40 re f"), kNone);
             Oh list = Oh::newArray();
             list.appendItem(b.hexStream("2 0 0 2 0 0 cm 1 0 1 rg 20 20 50 50 re f"));
             list.appendItem(b.stream("Q"));
             b.page(kLetterish, list, kNone);
         }},
        {"text object left open",
         [](Builder& b) {
             b.page(kLetterish, b.stream("BT /F1 20 Tf 1 0 0 1 50 200 Tm (open) Tj 3 Tr"), b.fonts());
         }},
        {"one contents array shared, tokens split across streams",
         [](Builder& b) {
             Oh list = b.pdf.makeIndirectObject(Oh::newArray());
             list.appendItem(b.stream("q 0 0.5 0 rg 2 0 0 2"));
             list.appendItem(b.stream(" 0 0 cm 30 30 100 100 re f"));
             b.page(kLetterish, list, kNone);
             b.page(kLetterish, list, kNone);
         }},
        {"rotate -90 and offset crop box inherited, user unit 2",
         [](Builder& b) {
             Oh s = b.stream("0 0 1 rg 60 70 100 50 re f");
             b.page(kLetterish, s, kNone);
             b.page(kLetterish + "/UserUnit 2", s, kNone);
             b.pagesNode().replaceKey("/Rotate", Oh::newInteger(-90));
             b.pagesNode().replaceKey("/CropBox", Oh::parse("[50 60 250 360]"));
         }},
        {"rotate 450 on an offset media box, crop box reaching beyond it",
         [](Builder& b) {
             b.page("/MediaBox [100 200 500 700] /CropBox [50 150 400 600] /Rotate 450",
                    b.stream("1 0 0 rg 150 250 80 80 re f"), kNone);
         }},
        {"rotate 180, 270 and 990",
         [](Builder& b) {
             Oh s = b.stream("0 0 1 rg 20 300 80 80 re f");
             b.page(kLetterish + "/Rotate 180", s, kNone);
             b.page(kLetterish + "/Rotate 270", s, kNone);
             b.page(kLetterish + "/Rotate 990", s, kNone);
         }},
        {"no resources and no contents", [](Builder& b) { b.page(kLetterish, kNone, kNone); }},
        {"font name already taken",
         [](Builder& b) {
             Oh res = b.fonts("/NbF");
             b.page(kLetterish, b.stream("BT /NbF 30 Tf 1 0 0 1 40 300 Tm (Taken) Tj ET"), res);
         }},
        {"media box given upside down",
         [](Builder& b) { b.page("/MediaBox [300 400 0 0]", b.stream("0 0 1 rg 40 40 40 40 re f"), kNone); }},
    };
    return cases;
}

} // namespace

class StamperPagesTest : public QObject {
    Q_OBJECT

private slots:
    void trap_data();
    void trap();
};

void StamperPagesTest::trap_data() {
    QTest::addColumn<QString>("name");
    for (const auto& [name, build] : Cases())
        QTest::newRow(qPrintable(name)) << name;
}

void StamperPagesTest::trap() {
    QFETCH(QString, name);
    QTemporaryDir dir;
    const QString in = dir.filePath("in.pdf");
    const QString out = dir.filePath("out.pdf");
    {
        Builder b;
        Cases().at(name)(b);
        b.write(in);
    }
    ProcessResult r =
        RunProgram(Tool(), {"-m" + in, "-n", "-N01", "-Ns11", "-Nc255,0,0", "-Nx15", "-Ny12", "-d" + out});
    QVERIFY2(r.exitCode == 0, r.err.constData());
    const int pages = PdfProbe::pageCount(in);
    QVERIFY(pages > 0);
    QCOMPARE(PdfProbe::pageCount(out), pages);
    ProcessResult check = PdfProbe::check(out);
    QVERIFY2(check.exitCode == 0, check.out.constData());

    const QList<DisplayedPage> shown = PdfProbe::displayedPages(out, pages);
    for (int p = 1; p <= pages; ++p) {
        // The one page given a /UserUnit has its own unit; poppler reports user space units.
        const double unit = name.contains("user unit") && p == 2 ? 2 : 1;
        const QString problem =
            CheckPageNumber(in, out, p, shown[p - 1], {QString::number(p), 15, 12, 11, unit});
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
    }
}

QTEST_GUILESS_MAIN(StamperPagesTest)
#include "test_stamper_pages.moc"
