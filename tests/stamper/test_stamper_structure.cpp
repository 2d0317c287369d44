// Files whose structure viewers read one way and a careless writer another: dangling references that
// new objects must not take, page trees whose counts and kids disagree, page values the viewers
// themselves read differently, and damage that viewers show through. Each file is numbered both
// ways (quick and qpdf) and its copy judged by poppler and MuPDF: the pages a viewer shows, the
// number at its place in both, every other pixel as the input shows it (in MuPDF too where both
// viewers show the input alike), and the warning where the viewers disagree.

#include "NumberCheck.h"
#include "NumberPdfFile.h"
#include "PdfProbe.h"
#include "PdfWriter.h"
#include "ResultWarnings.h"

#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cmath>

namespace {

const QByteArray kFont = "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>";

QByteArray Text(const QByteArray& word, int x = 60, int y = 150) {
    return PdfStream("BT /F1 24 Tf " + QByteArray::number(x) + " " + QByteArray::number(y) + " Td (" + word +
                     ") Tj ET");
}

// Catalog 1, tree 2, font 3, page 4 with `pageEntries`, its content 5.
PdfRevision OnePage(const QByteArray& pageEntries, const QByteArray& treeEntries = {}) {
    PdfRevision r;
    r.objects = {
        {1, "<< /Type /Catalog /Pages 2 0 R >>"},
        {2, "<< /Type /Pages /Kids [4 0 R] /Count 1 " + treeEntries + " >>"},
        {3, kFont},
        {4, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 300] /Contents 5 0 R /Resources << /Font << /F1 "
            "3 0 "
            "R >> >> " +
                pageEntries + " >>"},
        {5, Text("Hello")},
    };
    r.trailer = "/Root 1 0 R";
    return r;
}

// A square annotation with a thick red border whose appearance names object `appearance`, which the
// file lacks: viewers draw the border themselves.
PdfRevision DanglingAppearance(int appearance) {
    PdfRevision r = OnePage("/Annots [6 0 R]");
    r.objects[6] =
        "<< /Type /Annot /Subtype /Square /Rect [100 100 200 200] /C [1 0 0] /BS << /W 5 >> /AP << /N " +
        QByteArray::number(appearance) + " 0 R >> >>";
    return r;
}

// Pages A (4) and B (6) under a tree whose root lists `kids` with /Count `count`; node 8, when
// listed, holds `inner` with /Count `innerCount`.
PdfRevision Tree(const QByteArray& kids, int count, const QByteArray& inner = {}, int innerCount = 0) {
    PdfRevision r;
    auto page = [](int parent, int contents) {
        return "<< /Type /Page /Parent " + QByteArray::number(parent) +
               " 0 R /MediaBox [0 0 300 300] /Contents " + QByteArray::number(contents) +
               " 0 R /Resources << /Font << /F1 3 0 R >> >> >>";
    };
    r.objects = {{1, "<< /Type /Catalog /Pages 2 0 R >>"},
                 {2, "<< /Type /Pages /Kids [" + kids + "] /Count " + QByteArray::number(count) + " >>"},
                 {3, kFont},
                 {4, page(inner.isEmpty() ? 2 : 8, 5)},
                 {5, Text("A")},
                 {6, page(2, 7)},
                 {7, Text("B", 150, 60)}};
    if (!inner.isEmpty())
        r.objects[8] = "<< /Type /Pages /Parent 2 0 R /Kids [" + inner + "] /Count " +
                       QByteArray::number(innerCount) + " >>";
    r.trailer = "/Root 1 0 R";
    return r;
}

struct Row {
    QByteArray bytes;
    int pages = 1;             // as poppler and MuPDF show the input (and must show the copy)
    QString warning;           // a warning line holds this
    bool mupdfPixels = true;   // compare MuPDF's pixels of the copy with its pixels of the input
    bool popplerPixels = true; // the same for poppler (else only the number's place is checked)
};

// MuPDF's rendering of one page at `dpi`.
Raster MupdfRender(const QString& path, int page, int dpi) {
    QTemporaryDir dir;
    const QString out = dir.filePath("page.ppm");
    RunProgram("mutool", {"draw", "-q", "-r", QString::number(dpi), "-o", out, path, QString::number(page)});
    return PdfProbe::readPpm(out);
}

// The number as MuPDF finds it, and every pixel MuPDF draws outside it as in the input.
QString MupdfCheck(const QString& in, const QString& out, int page, const NumberPlacement& place,
                   bool pixels) {
    const int dpi = 72;
    const Raster b = MupdfRender(out, page, dpi);
    if (!b.valid())
        return QString("MuPDF does not render page %1").arg(page);
    const double height = b.height;
    bool found = false;
    QString seen;
    for (const PdfWord& w : PdfProbe::mupdfWords(out, page)) {
        if (w.text != place.text)
            continue;
        found = found || (std::abs(w.xMin - place.left) < 0.06 * place.size &&
                          std::abs(w.yMax - (height - place.bottom)) < 0.06 * place.size);
        seen += QString(" (%1,%2)").arg(w.xMin).arg(w.yMax);
    }
    if (!found)
        return QString("MuPDF finds no %1 at (%2,%3) on page %4; seen%5")
            .arg(place.text)
            .arg(place.left)
            .arg(height - place.bottom)
            .arg(page)
            .arg(seen);
    if (!pixels)
        return {};
    const Raster a = MupdfRender(in, page, dpi);
    if (a.width != b.width || a.height != b.height)
        return QString("MuPDF renders page %1 %2x%3 instead of %4x%5")
            .arg(page)
            .arg(b.width)
            .arg(b.height)
            .arg(a.width)
            .arg(a.height);
    const double x0 = place.left - 3, x1 = place.left + place.text.size() * place.size * 0.7 + 3;
    const double y0 = height - place.bottom - place.size - 3,
                 y1 = height - place.bottom + 0.3 * place.size + 3;
    int inside = 0;
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x) {
            if (std::equal(a.pixel(x, y), a.pixel(x, y) + 3, b.pixel(x, y)))
                continue;
            if (x >= x0 && x <= x1 && y >= y0 && y <= y1)
                ++inside;
            else
                return QString("MuPDF: page %1 changed outside the number at %2,%3").arg(page).arg(x).arg(y);
        }
    return inside > 0 ? QString() : QString("MuPDF: the number does not show on page %1").arg(page);
}

} // namespace

class StructureTest : public QObject {
    Q_OBJECT

private slots:
    void bothWays_data();
    void bothWays();
};

void StructureTest::bothWays_data() {
    QTest::addColumn<Row>("row");
    auto add = [](const char* name, Row row) { QTest::newRow(name) << row; };

    // New objects against references to objects the file lacks.
    add("an annotation's appearance names a missing object", {PdfFile({DanglingAppearance(8)})});
    {
        // Inside an object stream, numbered where the first new objects would go (after the
        // cross-reference stream, 21).
        PdfRevision r = DanglingAppearance(23);
        r.xrefStream = true;
        r.inObjectStream = {{6, 20}};
        add("the same, the annotation in an object stream", {PdfFile({r})});
    }
    {
        PdfRevision r = DanglingAppearance(9);
        r.size = 30; // new objects from 30
        add("a dangling reference between the highest object and /Size", {PdfFile({r})});
    }
    add("a dangling reference just below the highest number readers take",
        {PdfFile({DanglingAppearance(8388606)})});

    // Page trees whose counts and kids disagree: viewers show the root's /Count of pages.
    add("a page listed several times, limited by the root's /Count",
        {PdfFile({Tree("4 0 R 4 0 R 6 0 R 4 0 R 6 0 R 6 0 R", 4)}), 4});
    // An inner node counts fewer than it lists: MuPDF skips by the counts, poppler walks the kids.
    add("an inner node's /Count below its kids",
        {PdfFile({Tree("8 0 R 6 0 R 6 0 R", 4, "4 0 R 4 0 R", 1)}), 4, "MuPDF follows the counts", false});

    // Page values the viewers read differently in the input: the copy states what the PDF
    // reference reads, which one viewer showed before and both show now.
    add("/Rotate 45", {PdfFile({OnePage("/Rotate 45")}), 1, "/Rotate 45 is no multiple of 90", false});
    add("/Rotate 135", {PdfFile({OnePage("/Rotate 135")}), 1, "MuPDF turned by 180 degrees", false});
    add("/Rotate -45 (both show it unrotated)", {PdfFile({OnePage("/Rotate -45")})});
    add("/Rotate 180.0",
        {PdfFile({OnePage("/Rotate 180.0")}), 1, "/Rotate 180.0 is no integer", true, false});
    add("/Rotate 90.0 inherited", {PdfFile({OnePage("", "/Rotate 90.0")}), 1, "no integer", true, false});
    {
        PdfRevision r = OnePage("/Rotate 9 0 R", "/Rotate 90");
        r.objects[9] = "null";
        add("/Rotate a reference to null under a node's 90",
            {PdfFile({r}), 1, "/Rotate is given as null", false});
    }
    add("a page group in DeviceGray",
        {PdfFile({OnePage("/Group << /S /Transparency /CS /DeviceGray >>")}), 1, "DeviceGray", false});
}

void StructureTest::bothWays() {
    QFETCH(Row, row);
    QTemporaryDir dir;
    const QString in = dir.filePath("in.pdf");
    QVERIFY(WriteAll(in, row.bytes));
    for (NumberingWay way : {NumberingWay::Quickest, NumberingWay::QpdfOnly}) {
        const char* wayName = way == NumberingWay::Quickest ? "quick way" : "qpdf way";
        const QString out = dir.filePath(way == NumberingWay::Quickest ? "quick.pdf" : "qpdf.pdf");
        StampOptions options;
        options.input = in.toStdString();
        options.output = out.toStdString();
        options.firstNumber = 1;
        options.fontSize = 11;
        options.left = 15;
        options.bottom = 12;
        NumberPdfResult result;
        try {
            result = NumberPdfFile(options, false, way);
        } catch (std::exception& e) {
            QFAIL(qPrintable(QString("%1: %2").arg(wayName, e.what())));
        }
        QCOMPARE(int(result.pages), row.pages);
        if (!row.warning.isEmpty()) {
            bool warned = false;
            for (const std::string& line : ResultWarnings(result, in.toStdString()))
                warned = warned || QString::fromStdString(line).contains(row.warning);
            QVERIFY2(warned, wayName);
        }
        QCOMPARE(PdfProbe::pageCount(out), row.pages);
        QCOMPARE(PdfProbe::mupdfPageCount(out), row.pages);
        const ProcessResult check = PdfProbe::check(out);
        QVERIFY2(check.exitCode == 0, check.out.constData());
        const QList<DisplayedPage> shown = PdfProbe::displayedPages(out, row.pages);
        for (int p = 1; p <= row.pages; ++p) {
            const NumberPlacement place{QString::number(p), 15, 12, 11};
            QString poppler;
            if (row.popplerPixels) {
                poppler = CheckPageNumber(in, out, p, shown[p - 1], place);
            } else {
                poppler = QString("poppler finds no %1 on page %2").arg(place.text).arg(p);
                for (const PdfWord& w : PdfProbe::words(out, p))
                    if (w.text == place.text && std::abs(w.xMin - place.left) < 1)
                        poppler.clear();
            }
            QVERIFY2(poppler.isEmpty(), qPrintable(QString("%1: %2").arg(wayName, poppler)));
            const QString mupdf = MupdfCheck(in, out, p, place, row.mupdfPixels);
            QVERIFY2(mupdf.isEmpty(), qPrintable(QString("%1: %2").arg(wayName, mupdf)));
        }
    }
}

QTEST_GUILESS_MAIN(StructureTest)
#include "test_stamper_structure.moc"
