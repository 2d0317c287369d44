// Page content that is hard to read past: inline images whose data holds bytes that look like
// operators, and content that ends inside a token or can't be decoded to its end. Each file is
// written here byte by byte, numbered both ways (the quick way and qpdf's alone), and judged by
// poppler and MuPDF: each finds the number at its place, and renders every pixel outside the
// number as it rendered the input.

#include "NumberCheck.h"
#include "NumberPdfFile.h"
#include "PdfProbe.h"
#include "PdfWriter.h"
#include "StampError.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <zlib.h>

namespace {

struct Stream {
    QByteArray data;    // as stored
    QByteArray entries; // more dictionary entries (a filter)
};

const QByteArray kText = "BT /F1 24 Tf 60 220 Td (Alpha) Tj ET\n";

// One page 300 x 300 whose content is `streams`, a Helvetica font /F1.
QByteArray PageFile(const QList<Stream>& streams) {
    QList<QByteArray> objects = {"<< /Type /Catalog /Pages 2 0 R >>",
                                 "<< /Type /Pages /Kids [3 0 R] /Count 1 >>", ""};
    QByteArray list;
    for (const Stream& s : streams) {
        list += QByteArray::number(objects.size() + 1) + " 0 R ";
        objects.append("<< /Length " + QByteArray::number(s.data.size()) + s.entries + " >>\nstream\n" +
                       s.data + "\nendstream");
    }
    const int font = int(objects.size()) + 1;
    objects.append("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    objects[2] = "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 300] /Contents [" + list +
                 "] /Resources << /Font << /F1 " + QByteArray::number(font) + " 0 R >> >> >>";
    return ClassicFile(objects, "/Root 1 0 R");
}

// The same page with an optional-content group /oc1 that is off, by `off`: "off" lists it in /OFF,
// "base" sets the base state to off, "ocmd" names a membership dictionary of it (any on, none is).
QByteArray LayerFile(const QList<Stream>& streams, const QByteArray& off) {
    QList<QByteArray> objects = {"", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>", ""};
    QByteArray list;
    for (const Stream& s : streams) {
        list += QByteArray::number(objects.size() + 1) + " 0 R ";
        objects.append("<< /Length " + QByteArray::number(s.data.size()) + s.entries + " >>\nstream\n" +
                       s.data + "\nendstream");
    }
    const QByteArray font = QByteArray::number(objects.size() + 1),
                     group = QByteArray::number(objects.size() + 2),
                     ocmd = QByteArray::number(objects.size() + 3);
    objects.append("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    objects.append("<< /Type /OCG /Name (Hidden) >>");
    objects.append("<< /Type /OCMD /OCGs [" + group + " 0 R] /P /AnyOn >>");
    const QByteArray config = off == "base" ? "/BaseState /OFF /ON []" : "/OFF [" + group + " 0 R]";
    objects[0] = "<< /Type /Catalog /Pages 2 0 R /OCProperties << /OCGs [" + group + " 0 R] /D << " + config +
                 " >> >> >>";
    objects[2] = "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 300] /Contents [" + list +
                 "] /Resources << /Font << /F1 " + font + " 0 R >> /Properties << /oc1 " +
                 (off == "ocmd" ? ocmd : group) + " 0 R >> >> >>";
    return ClassicFile(objects, "/Root 1 0 R");
}

// `file` with its first content stream's end written "endstreamendobj", keeping every offset.
QByteArray GluedEndobj(QByteArray file) {
    const qsizetype at = file.indexOf("\nendstream\nendobj\n");
    return file.replace(at, 18, "endstreamendobj\n\n\n");
}

QList<Stream> One(const QByteArray& content) {
    return {{content, {}}};
}

// LZW data that decodes to `text` and then meets a code no decoder knows: each byte is sent as its
// own 9-bit code, which is valid LZW, and 511 names no entry yet.
Stream BadLzw(const QByteArray& text) {
    QByteArray out;
    unsigned long long bits = 0;
    int count = 0;
    auto put = [&](unsigned code) {
        bits = (bits << 9) | code;
        count += 9;
        while (count >= 8) {
            out += char((bits >> (count - 8)) & 0xff);
            count -= 8;
        }
    };
    put(256);
    for (char c : text)
        put(static_cast<unsigned char>(c));
    put(511);
    put(257);
    if (count > 0)
        out += char((bits << (8 - count)) & 0xff);
    return {out, " /Filter /LZWDecode /DecodeParms << /EarlyChange 0 >>"};
}

// A Flate stream of `text` whose compressed bytes are cut off after `keep` of them.
Stream CutFlate(const QByteArray& text, int keep) {
    QByteArray out(int(compressBound(uLong(text.size()))), '\0');
    uLongf length = uLongf(out.size());
    compress2(reinterpret_cast<Bytef*>(out.data()), &length, reinterpret_cast<const Bytef*>(text.constData()),
              uLong(text.size()), 9);
    out.truncate(std::min<qsizetype>(qsizetype(length), keep));
    return {out, " /Filter /FlateDecode"};
}

// A zlib stream that keeps `data` as it is (a stored block), so its bytes hold whatever `data` holds.
QByteArray Stored(const QByteArray& data) {
    QByteArray out(int(compressBound(uLong(data.size()))), '\0');
    uLongf length = uLongf(out.size());
    compress2(reinterpret_cast<Bytef*>(out.data()), &length, reinterpret_cast<const Bytef*>(data.constData()),
              uLong(data.size()), 0);
    out.truncate(qsizetype(length));
    return out;
}

struct Word {
    QString text;
    double x = 0, y = 0; // MuPDF's origin of the first character, y down from the top
};

// The lines of text MuPDF finds on page 1.
QList<Word> MupdfLines(const QString& path) {
    ProcessResult r = RunProgram("mutool", {"draw", "-q", "-F", "stext", "-o", "-", path, "1"});
    QList<Word> lines;
    static const QRegularExpression item(
        QStringLiteral("<line |<char [^>]*x=\"([-0-9.]+)\" y=\"([-0-9.]+)\"[^>]*c=\"([^\"]*)\""));
    auto it = item.globalMatch(QString::fromUtf8(r.out));
    while (it.hasNext()) {
        auto m = it.next();
        if (m.captured(0).startsWith("<line")) {
            lines.append(Word());
            continue;
        }
        if (lines.isEmpty())
            continue;
        if (lines.last().text.isEmpty()) {
            lines.last().x = m.captured(1).toDouble();
            lines.last().y = m.captured(2).toDouble();
        }
        lines.last().text += m.captured(3);
    }
    return lines;
}

Raster MupdfRender(const QString& path, int dpi) {
    QTemporaryDir dir;
    const QString out = dir.path() + "/page.ppm";
    RunProgram("mutool", {"draw", "-q", "-c", "rgb", "-r", QString::number(dpi), "-o", out, path, "1"});
    return PdfProbe::readPpm(out);
}

// MuPDF's view: the number at its place, and the page as before outside the number's box.
QString CheckWithMupdf(const QString& original, const QString& numbered, const NumberPlacement& place,
                       double height) {
    bool found = false;
    QString seen;
    for (const Word& w : MupdfLines(numbered)) {
        seen += " [" + w.text + QString("] at %1,%2").arg(w.x).arg(w.y);
        if (w.text == place.text && std::abs(w.x - place.left) < 0.5 &&
            std::abs(w.y - (height - place.bottom)) < 0.5)
            found = true;
    }
    if (!found)
        return "MuPDF finds no " + place.text + " at its place; it finds" + seen;
    const int dpi = 72;
    const Raster a = MupdfRender(original, dpi), b = MupdfRender(numbered, dpi);
    if (!a.valid() || !b.valid() || a.width != b.width || a.height != b.height)
        return "MuPDF does not render both files alike in size";
    const double x0 = place.left - 2, x1 = place.left + 0.556 * place.size * place.text.size() + 2;
    const double y0 = height - place.bottom - place.size, y1 = height - place.bottom + 0.3 * place.size;
    int changed = 0, inside = 0;
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x) {
            if (std::equal(a.pixel(x, y), a.pixel(x, y) + 3, b.pixel(x, y)))
                continue;
            if (x >= x0 && x <= x1 && y >= y0 && y <= y1)
                ++inside;
            else
                ++changed;
        }
    if (changed > 0)
        return QString("MuPDF renders %1 pixels differently outside the number").arg(changed);
    if (inside == 0)
        return "MuPDF shows no number";
    return {};
}

} // namespace

class StamperContentTest : public QObject {
    Q_OBJECT

private slots:
    void content_data();
    void content();
    void taggedPageDrawnAsForm();
};

void StamperContentTest::content_data() {
    QTest::addColumn<QByteArray>("file");

    // Inline images whose data would be taken for operators by a scan that ends the data at the
    // first EI after white space: the number then comes out inside the page's own scaling, or the
    // qpdf way blanks a "stray" Q that is a pixel.
    QTest::newRow("gray pixels holding ' EI Q ' after a scaling left in force")
        << PageFile(One(kText + "200 0 0 20 50 50 cm BI /W 6 /H 1 /BPC 8 /CS /G ID \x20"
                                "EI Q\x20\nEI"));
    QTest::newRow("pixels holding ' EI Q Q ' inside two saves left open")
        << PageFile(One("q 2 0 0 2 0 0 cm q 1 0 0 1 5 5 cm " + kText +
                        "q 100 0 0 10 10 10 cm BI /W 8 /H 1 /BPC 8 /CS /G ID \x20"
                        "EI Q Q \nEI Q"));
    QTest::newRow("RGB pixels by abbreviations, two saves left open")
        << PageFile(One("q 2 0 0 2 0 0 cm q " + kText +
                        "q 100 0 0 10 10 10 cm BI /W 3 /H 1 /BPC 8 /CS /RGB ID  EI Q Q Q \nEI Q"));
    QTest::newRow("EI right after the data, then three saves left open")
        << PageFile(One("q 100 0 0 10 50 150 cm BI /W 2 /H 1 /BPC 8 /CS /G ID \x30\xa0"
                        "EI Q q 2 0 0 2 0 0 cm q q " +
                        kText));
    QTest::newRow("Flate data holding ' EI Q Q '") << PageFile(
        One("q 2 0 0 2 0 0 cm q " + kText + "q 100 0 0 10 10 10 cm BI /W 8 /H 1 /BPC 8 /CS /G /F /Fl ID " +
            Stored(" EI Q Q ") + "\nEI Q"));
    QTest::newRow("ASCII85 data holding ' EI Q Q '")
        << PageFile(One("q 2 0 0 2 0 0 cm q " + kText +
                        "q 100 0 0 10 10 10 cm BI /W 4 /H 1 /BPC 8 /CS /G /F /A85 ID  EI Q Q Q~>\nEI Q"));

    // Content that ends inside a token would swallow a number drawn after it.
    QTest::newRow("unterminated string") << PageFile(One(kText + "BT /F1 24 Tf 60 100 Td (Beta"));
    QTest::newRow("unterminated hex string") << PageFile(One(kText + "BT /F1 24 Tf 60 100 Td <426574"));
    QTest::newRow("unterminated array") << PageFile(One(kText + "BT /F1 24 Tf 60 100 Td [(Be) 5 (ta)"));
    QTest::newRow("unterminated dictionary") << PageFile(One(kText + "/Span << /ActualText (x) /Lang [(en)"));
    QTest::newRow("inline image without EI")
        << PageFile(One(kText + "q 100 0 0 20 50 50 cm BI /W 4 /H 1 /BPC 8 /CS /G ID \x10\x50\x90\xd0"));
    QTest::newRow("inline image cut short")
        << PageFile(One(kText + "q 100 0 0 20 50 50 cm BI /W 40 /H 1 /BPC 8 /CS /G ID \x10\x50"));
    QTest::newRow("second stream ends inside a string")
        << PageFile({{kText, {}}, {"BT /F1 24 Tf 60 100 Td (Beta) Tj ET BT (x", {}}});
    // Content that can't be decoded to its end: MuPDF stops the page's content at the bad code.
    QTest::newRow("LZW stream with a bad code") << PageFile({BadLzw(kText + "0 0 1 rg 50 50 40 40 re f\n")});
    QTest::newRow("corpus: LZW stream with a bad code") << ReadAll(
        QStringLiteral(NUMBREL_CORPUS_DIR "/qpdf/qpdf__qtest__qpdf__split-content-stream-errors.pdf"));
    // Content a viewer stops reading, swallows or splits partway: poppler abandons the rest at an
    // operator short of operands or reads it into a dictionary with a key but no value, MuPDF gives up
    // after 100 syntax errors or at the keyword endstream. The page's content is drawn as a form.
    const QByteArray square = "0 0 1 rg 50 50 40 40 re f\n";
    QTest::newRow("Tf with one operand")
        << PageFile(One(kText + "BT 24 Tf 60 100 Td (Beta) Tj ET\n" + square));
    QTest::newRow("a dash without its phase")
        << PageFile(One(kText + "[3] d 2 w 20 150 m 280 150 l S\n" + square));
    QTest::newRow("cm with four numbers") << PageFile(One(kText + "1 0 0 1 cm " + square));
    QTest::newRow("a bare Do") << PageFile(One(kText + "Do " + square));
    QTest::newRow("a name that lost its slash") << PageFile(One(kText + "EGS9 gs " + square));
    QTest::newRow("a dictionary key without a value")
        << PageFile(One("/Span << /MCID >> BDC " + kText + "EMC " + square));
    QTest::newRow("an inline image key without a value") << PageFile(
        One(kText + "q 100 0 0 20 50 50 cm BI /W 2 /H 1 /BPC 8 /CS /G /I ID \x10\x90\nEI Q\n" + square));
    // Poppler splits a word at 128 characters: this one ends in a Q it then reads alone.
    QTest::newRow("a word of 129 characters ending in Q")
        << PageFile(One(kText + QByteArray(128, 'a') + "Q 1 0 0 1 100 100 cm " + square));
    QByteArray strays;
    for (int k = 0; k < 120; ++k)
        strays += ") ";
    QTest::newRow("120 stray parentheses") << PageFile(One(strays + kText + square));
    QByteArray unknown;
    for (int k = 0; k < 120; ++k)
        unknown += "xq ";
    QTest::newRow("120 unknown operators outside BX/EX") << PageFile(One(kText + unknown + square));
    const char* const faults[][2] = {
        {"y with three operands", "90 210 m 159 77 105.5 y S"},
        {"l without operands", "90 210 m l S"},
        {"sh without its name", "sh"},
        {"a quote without operands", "BT /F1 12 Tf \""},
        {"a colour space name without its slash", "DeviceGray cs"},
        {"Tf with a font name without its slash", "BT F1 12 Tf 60 100 Td (Beta) Tj ET"},
    };
    for (const auto& [name, fault] : faults)
        QTest::newRow(name) << PageFile(One(kText + fault + "\n" + square));
    QByteArray mixed;
    for (int k = 0; k < 20; ++k)
        mixed += ") > } { ] foo ";
    QTest::newRow("120 syntax errors of every kind") << PageFile(One(kText + mixed + square));
    QTest::newRow("endstream inside the data") << PageFile(One(kText + "endstream\n" + square));
    QTest::newRow("a stream written endstreamendobj") << GluedEndobj(PageFile(One(kText + square)));

    // Poppler abandons the page's content at a Q that restores nothing; MuPDF reads on.
    QTest::newRow("a Q that restores nothing, then more content") << PageFile(One(kText + "Q " + square));

    // Marked content left open in a layer that is off would hide the number.
    const QByteArray layer = "/OC /oc1 BDC " + square;
    QTest::newRow("layer off by /OFF left open") << LayerFile(One(kText + layer), "off");
    QTest::newRow("layer off by /BaseState left open") << LayerFile(One(kText + layer), "base");
    QTest::newRow("layer off by a membership dictionary left open") << LayerFile(One(kText + layer), "ocmd");
    QTest::newRow("layer opened inside a text object")
        << LayerFile(One("BT /OC /oc1 BDC /F1 24 Tf 60 220 Td (Alpha) Tj"), "off");
    QTest::newRow("layer opened in the first of two streams")
        << LayerFile({{kText + "/OC /oc1 BDC", {}}, {square, {}}}, "off");
    QTest::newRow("layer opened in a Flate stream") << LayerFile({CutFlate(kText + layer, 1 << 20)}, "off");
    QTest::newRow("layer left open by content drawn as a form")
        << LayerFile(One(kText + layer + "BT /F1 24 Tf 60 100 Td (Beta"), "off");

    // Tokens readers split differently: poppler reads a number and Q, MuPDF one unknown word.
    for (const char* glued : {"0Q", ".5Q", "-Q"})
        QTest::newRow(qPrintable(QString("save left open, then %1").arg(glued)))
            << PageFile(One("q 1 0 0 1 100 100 cm " + kText + glued));

    QTest::newRow("Flate stream cut short") << PageFile(
        {CutFlate(kText + QByteArray("BT /F1 10 Tf 20 180 Td (") + QByteArray(300, 'w') + ") Tj ET", 60)});
}

void StamperContentTest::content() {
    QFETCH(QByteArray, file);
    QTemporaryDir dir;
    const QString input = dir.path() + "/in.pdf";
    QVERIFY(WriteAll(input, file));
    const QList<DisplayedPage> shown = PdfProbe::displayedPages(input, 1);
    QVERIFY(!shown.isEmpty());

    NumberPlacement place;
    place.text = "57";
    place.left = 20;
    place.bottom = 20;
    place.size = 12;
    for (NumberingWay way : {NumberingWay::Quickest, NumberingWay::QpdfOnly}) {
        const QString wayName = way == NumberingWay::Quickest ? "quick way" : "qpdf way";
        const QString output = dir.path() + "/out.pdf";
        QFile::remove(output);
        StampOptions options;
        options.input = input.toStdString();
        options.output = output.toStdString();
        options.firstNumber = 57;
        options.fontSize = place.size;
        options.left = place.left;
        options.bottom = place.bottom;
        try {
            NumberPdfFile(options, false, way);
        } catch (std::exception& e) {
            QFAIL(qPrintable(wayName + ": " + e.what()));
        }
        const QString poppler = CheckPageNumber(input, output, 1, shown.first(), place);
        QVERIFY2(poppler.isEmpty(), qPrintable(wayName + ", poppler: " + poppler));
        const QString mupdf = CheckWithMupdf(input, output, place, shown.first().height);
        QVERIFY2(mupdf.isEmpty(), qPrintable(wayName + ": " + mupdf));
    }
}

// A tagged page whose content is drawn as a form keeps its structure: each element's marked content,
// now in the form, is still found by poppler (the text it reads for each element).
void StamperContentTest::taggedPageDrawnAsForm() {
    const QByteArray content = "/P <</MCID 0>> BDC " + kText +
                               "EMC /P <</MCID 1>> BDC BT /F1 24 Tf 60 120 Td (Beta) Tj ET EMC q 0Q\n";
    const QByteArray file = ClassicFile(
        {"<< /Type /Catalog /Pages 2 0 R /MarkInfo << /Marked true >> /StructTreeRoot 6 0 R >>",
         "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
         "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 300] /Contents 4 0 R /StructParents 0 "
         "/Resources << /Font << /F1 5 0 R >> >> >>",
         "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "\nendstream",
         "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
         "<< /Type /StructTreeRoot /K [7 0 R] /ParentTree 9 0 R >>",
         "<< /Type /StructElem /S /Document /P 6 0 R /K [8 0 R 10 0 R] >>",
         "<< /Type /StructElem /S /P /P 7 0 R /Pg 3 0 R /K 0 >>", "<< /Nums [0 [8 0 R 10 0 R]] >>",
         "<< /Type /StructElem /S /P /P 7 0 R /Pg 3 0 R /K [<< /Type /MCR /MCID 1 >>] >>"},
        "/Root 1 0 R");
    QTemporaryDir dir;
    const QString input = dir.path() + "/in.pdf", output = dir.path() + "/out.pdf";
    QVERIFY(WriteAll(input, file));
    const QByteArray structure = RunProgram("pdfinfo", {"-struct-text", input}).out;
    QVERIFY(structure.contains("\"Alpha\"") && structure.contains("\"Beta\""));
    for (NumberingWay way : {NumberingWay::Quickest, NumberingWay::QpdfOnly}) {
        QFile::remove(output);
        StampOptions options;
        options.input = input.toStdString();
        options.output = output.toStdString();
        NumberPdfFile(options, false, way);
        QCOMPARE(RunProgram("pdfinfo", {"-struct-text", output}).out, structure);
        bool beta = false;
        for (const Word& w : MupdfLines(output))
            beta = beta || w.text == "Beta";
        QVERIFY(beta);
    }
}

QTEST_GUILESS_MAIN(StamperContentTest)
#include "test_stamper_content.moc"
