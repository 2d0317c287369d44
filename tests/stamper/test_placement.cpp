// Where the number lands, as poppler and MuPDF see the page: every position on pages of four sizes in
// all four turns, with and without a crop box offset from the media box, through both of the
// engine's ways; --mirror, --box trim, and the background box under the text in both renderers.

#include "NumberPdfFile.h"
#include "OptionTable.h"
#include "PdfProbe.h"
#include "PdfWriter.h"
#include "StampError.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

namespace {
struct PageSpec {
    double w, h; // the media box (or the crop box when cropped), unturned
    int rotate;
    bool cropped; // media box 40 x 60 larger, crop box offset by 20, 30; trim box 20 inside the crop box
};

QList<PageSpec> Pages() {
    QList<PageSpec> pages;
    const double sizes[4][2] = {{595, 842}, {792, 612}, {612, 1008}, {300, 200}};
    for (bool cropped : {false, true})
        for (const auto& s : sizes)
            for (int r : {0, 90, 180, 270})
                pages.append({s[0], s[1], r, cropped});
    return pages;
}

QByteArray n(double v) {
    return QByteArray::number(v, 'f', 2);
}

QByteArray PagesFile(const QList<PageSpec>& pages) {
    QList<QByteArray> objects = {"<< /Type /Catalog /Pages 2 0 R >>", ""};
    QByteArray kids;
    for (const PageSpec& p : pages) {
        kids += QByteArray::number(objects.size() + 1) + " 0 R ";
        QByteArray boxes;
        if (p.cropped)
            boxes = "/MediaBox [0 0 " + n(p.w + 40) + " " + n(p.h + 60) + "] /CropBox [20 30 " + n(p.w + 20) +
                    " " + n(p.h + 30) + "] /TrimBox [40 50 " + n(p.w) + " " + n(p.h + 10) + "]";
        else
            boxes = "/MediaBox [0 0 " + n(p.w) + " " + n(p.h) + "]";
        objects.append("<< /Type /Page /Parent 2 0 R " + boxes + " /Rotate " + QByteArray::number(p.rotate) +
                       " /Contents " + QByteArray::number(objects.size() + 2) + " 0 R /Resources << >> >>");
        objects.append(PdfStream("0.9 g 0 0 1 1 re f\n"));
    }
    objects[1] = "<< /Type /Pages /Kids [" + kids + "] /Count " + QByteArray::number(pages.size()) + " >>";
    return ClassicFile(objects, "/Root 1 0 R");
}

// Helvetica's widths (its AFM) of what the tests print: "Wy" and digits.
double TextWidth(const QString& text, double size) {
    double w = 0;
    for (QChar c : text)
        w += c == 'W' ? 944 : c == 'y' ? 500 : 556;
    return w * size / 1000;
}

constexpr double kSize = 12, kH = 15, kV = 25, kCap = 0.718, kTolerance = 0.75;

struct Rgb {
    int r, g, b;
};

struct Expected {
    double x, baseline; // from the displayed top-left corner, y downwards
};

Expected Where(const PageSpec& p, int index, int position, bool trim, bool mirror, double width) {
    const bool turned = p.rotate == 90 || p.rotate == 270;
    const double W = turned ? p.h : p.w, H = turned ? p.w : p.h;
    const double inset = trim && p.cropped ? 20 : 0;
    const double x0 = inset, x1 = W - inset, top = inset, bottom = H - inset;
    int column = position % 3;
    const int row = position / 3;
    if (mirror && index % 2 == 1)
        column = 2 - column;
    const double x = column == 0 ? x0 + kH : column == 2 ? x1 - kH - width : (x0 + x1 - width) / 2;
    const double cap = kCap * kSize;
    const double baseline = row == 2 ? bottom - kV : row == 0 ? top + kV + cap : (top + bottom + cap) / 2;
    return {x, baseline};
}

StampOptions Options(const QString& in, const QString& out) {
    StampOptions o;
    o.input = in.toStdString();
    o.output = out.toStdString();
    o.fontSize = kSize;
    o.left = kH;
    o.bottom = kV;
    o.format = "Wy{n}";
    return o;
}

void Set(StampOptions& o, const char* name, const std::string& value) {
    const StampOptionRow* row = FindStampOption(name);
    row->read(o, row->info, value, name, OptionDialect::Batch);
}
} // namespace

class PlacementTest : public QObject {
    Q_OBJECT

private slots:
    void positions_data();
    void positions();
    void background_data();
    void background();
};

void PlacementTest::positions_data() {
    QTest::addColumn<QString>("position");
    QTest::addColumn<bool>("trim");
    QTest::addColumn<bool>("mirror");
    QTest::addColumn<bool>("qpdfWay");
    const QString all[] = {"top-left", "top",         "top-right", "left",        "center",
                           "right",    "bottom-left", "bottom",    "bottom-right"};
    for (bool qpdfWay : {false, true}) {
        const char* way = qpdfWay ? "qpdf way" : "quick way";
        for (const QString& p : all)
            QTest::addRow("%s, %s", qPrintable(p), way) << p << false << false << qpdfWay;
        for (const char* p : {"top-left", "center", "bottom-right"})
            QTest::addRow("%s in the trim box, %s", p, way) << QString(p) << true << false << qpdfWay;
        for (const char* p : {"bottom-right", "top-left", "top"})
            QTest::addRow("%s mirrored, %s", p, way) << QString(p) << false << true << qpdfWay;
    }
}

void PlacementTest::positions() {
    QFETCH(QString, position);
    QFETCH(bool, trim);
    QFETCH(bool, mirror);
    QFETCH(bool, qpdfWay);
    QTemporaryDir dir;
    const QString in = dir.filePath("in.pdf"), out = dir.filePath("out.pdf");
    const QList<PageSpec> pages = Pages();
    QVERIFY(WriteAll(in, PagesFile(pages)));
    StampOptions o = Options(in, out);
    Set(o, "--position", position.toStdString());
    if (trim)
        Set(o, "--box", "trim");
    if (mirror)
        Set(o, "--mirror", "");
    const NumberPdfResult result =
        NumberPdfFile(o, false, qpdfWay ? NumberingWay::QpdfOnly : NumberingWay::Quickest);
    QCOMPARE(result.pages, size_t(pages.size()));
    QCOMPARE(result.pagesWithNumberOffPage, size_t(0));
    const int k = ChoiceIndex(FindStampOption("--position")->info.choices, position.toStdString());

    for (int i = 0; i < pages.size(); ++i) {
        const QString text = QStringLiteral("Wy%1").arg(i + 1);
        const double width = TextWidth(text, kSize);
        const Expected e = Where(pages[i], i, k, trim, mirror, width);
        const QString page = QStringLiteral("page %1 (%2 x %3, /Rotate %4%5)")
                                 .arg(i + 1)
                                 .arg(pages[i].w)
                                 .arg(pages[i].h)
                                 .arg(pages[i].rotate)
                                 .arg(pages[i].cropped ? ", cropped" : "");
        const QList<PdfWord> poppler = PdfProbe::words(out, i + 1);
        QVERIFY2(poppler.size() == 1 && poppler[0].text == text, qPrintable(page));
        const PdfWord& p = poppler[0];
        // poppler's word box: the advance widths across, the capitals' top to the descenders' bottom.
        const QString seen = page + QStringLiteral(": poppler %1 %2 %3, expected %4 %5 %6")
                                        .arg(p.xMin)
                                        .arg(p.xMax)
                                        .arg(p.yMin)
                                        .arg(e.x)
                                        .arg(e.x + width)
                                        .arg(e.baseline - kCap * kSize);
        QVERIFY2(std::fabs(p.xMin - e.x) < kTolerance, qPrintable(seen));
        QVERIFY2(std::fabs(p.xMax - (e.x + width)) < kTolerance, qPrintable(seen));
        QVERIFY2(std::fabs(p.yMin - (e.baseline - kCap * kSize)) < kTolerance, qPrintable(seen));
        const QList<PdfWord> mupdf = PdfProbe::mupdfWords(out, i + 1);
        QVERIFY2(mupdf.size() == 1 && mupdf[0].text == text, qPrintable(page));
        const QString seenMupdf = page + QStringLiteral(": MuPDF origin %1 %2, end %3, expected %4 %5")
                                             .arg(mupdf[0].xMin)
                                             .arg(mupdf[0].yMax)
                                             .arg(mupdf[0].xMax)
                                             .arg(e.x)
                                             .arg(e.baseline);
        QVERIFY2(std::fabs(mupdf[0].xMin - e.x) < kTolerance, qPrintable(seenMupdf));
        QVERIFY2(std::fabs(mupdf[0].xMax - (e.x + width)) < kTolerance, qPrintable(seenMupdf));
        QVERIFY2(std::fabs(mupdf[0].yMax - e.baseline) < kTolerance, qPrintable(seenMupdf));
    }
}

void PlacementTest::background_data() {
    QTest::addColumn<bool>("qpdfWay");
    QTest::addColumn<bool>("mupdf");
    QTest::newRow("quick way, poppler") << false << false;
    QTest::newRow("quick way, MuPDF") << false << true;
    QTest::newRow("qpdf way, poppler") << true << false;
    QTest::newRow("qpdf way, MuPDF") << true << true;
}

// Dark text on a dark page reads on the box: the box's colour all around the text, the text's inside
// it, and the page's own colour a little further out.
void PlacementTest::background() {
    QFETCH(bool, qpdfWay);
    QFETCH(bool, mupdf);
    QTemporaryDir dir;
    const QString in = dir.filePath("in.pdf"), out = dir.filePath("out.pdf");
    // A dark grey page of 300 x 200, turned, with an offset crop box.
    QList<QByteArray> objects = {"<< /Type /Catalog /Pages 2 0 R >>",
                                 "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                                 "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 340 260] /CropBox [20 30 320 "
                                 "230] /Rotate 90 /Contents 4 0 R "
                                 "/Resources << >> >>",
                                 PdfStream("0.2 g 0 0 340 260 re f\n")};
    QVERIFY(WriteAll(in, ClassicFile(objects, "/Root 1 0 R")));
    StampOptions o = Options(in, out);
    o.fontSize = 40;
    o.format = "88";
    Set(o, "--position", "center");
    Set(o, "--background", "#FFE000");
    QVERIFY(NumberPdfFile(o, false, qpdfWay ? NumberingWay::QpdfOnly : NumberingWay::Quickest).pages == 1);

    Raster r;
    if (mupdf) {
        const QString ppm = dir.filePath("page.ppm");
        QCOMPARE(RunProgram("mutool", {"draw", "-r", "72", "-o", ppm, out, "1"}).exitCode, 0);
        r = PdfProbe::readPpm(ppm);
    } else {
        r = PdfProbe::render(out, 1, 72);
    }
    QVERIFY(r.valid());
    QCOMPARE(r.width, 200); // turned: 200 wide, 300 high
    QCOMPARE(r.height, 300);
    // The text "88" is 44.48 wide, centred; its capitals 28.72 high, centred on 150.
    const double width = 2 * 0.556 * 40, cap = 0.718 * 40, x = (200 - width) / 2, base = 150 + cap / 2;
    const auto at = [&](double px, double py) {
        const unsigned char* p = r.pixel(int(px), int(py));
        return Rgb{p[0], p[1], p[2]};
    };
    const auto isBox = [](Rgb c) { return c.r > 230 && c.g > 200 && c.b < 40; };
    const auto isPage = [](Rgb c) { return std::abs(c.r - 51) < 12 && std::abs(c.b - 51) < 12; };
    // Inside the padding: left, right, above the capitals and below the baseline.
    QVERIFY(isBox(at(x - 2, base - cap / 2)));
    QVERIFY(isBox(at(x + width + 1.5, base - cap / 2)));
    QVERIFY(isBox(at(x + width / 2, base - cap - 2)));
    QVERIFY(isBox(at(x + 1, base + 1)));
    // Well outside it: the page.
    QVERIFY(isPage(at(x - 12, base - cap / 2)));
    QVERIFY(isPage(at(x + width / 2, base - cap - 14)));
    QVERIFY(isPage(at(x + width / 2, base + 0.207 * 40 + 12)));
    // The text is drawn over the box: dark pixels inside.
    int dark = 0;
    for (int py = int(base - cap); py < int(base); ++py)
        for (int px = int(x); px < int(x + width); ++px)
            dark += at(px, py).r < 60;
    QVERIFY(dark > 100);
}

QTEST_GUILESS_MAIN(PlacementTest)
#include "test_placement.moc"
