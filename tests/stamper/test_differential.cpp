// The two ways against each other, and files written byte by byte around the corners of the syntax.
//
// Every input that both the quick way and the qpdf way number is numbered both ways in memory and
// the copies compared as a viewer reads them (CompareNumberedCopies): any difference fails. The
// inputs: every corpus file, and the generated files below. Each generated file is also numbered
// by the real mbtPdfAsm.exe and its copy judged by poppler and MuPDF: the number where it was asked
// for in both, nothing else on the page changed (poppler's pixels), and every key of every page
// kept. Each input is also numbered through the in-memory entry (NumberPdfBytes), which must make
// the same copy.

#include "CleanFileUpdate.h"
#include "CopyCompare.h"
#include "NumberCheck.h"
#include "NumberPdfFile.h"
#include "PdfProbe.h"
#include "PdfWriter.h"
#include "StampError.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

namespace {

// NUMBREL_STAMPER names another build of the tool to judge (an older one, say).
QString Tool() {
    const QString other = qEnvironmentVariable("NUMBREL_STAMPER");
    return other.isEmpty() ? QStringLiteral(NUMBREL_PROGRAM_DIR "/mbtPdfAsm.exe") : other;
}

const QByteArray kText = PdfStream("BT /F1 20 Tf 1 0 0 1 50 200 Tm (Hello) Tj ET");
const QByteArray kFont = "<< /Type /Font /Subtype /Type1 /BaseFont /Times-Roman >>";

// Two pages under one node that hands down a media box and resources; the second page turns 90
// degrees, has a crop box and resources of its own, and draws a blue square too.
PdfRevision Base() {
    PdfRevision r;
    r.objects = {
        {1, "<< /Type /Catalog /Pages 2 0 R >>"},
        {2, "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 /MediaBox [0 0 300 400] /Resources 6 0 R >>"},
        {3, "<< /Type /Page /Parent 2 0 R /Contents 5 0 R >>"},
        {4, "<< /Type /Page /Parent 2 0 R /Contents [5 0 R 7 0 R] /Rotate 90 /CropBox [10 10 290 390] "
            "/Resources << /Font << /F1 8 0 R >> >> >>"},
        {5, kText},
        {6, "<< /Font << /F1 8 0 R >> >>"},
        {7, PdfStream("0 0 1 rg 100 100 20 20 re f")},
        {8, kFont},
    };
    r.trailer = "/Root 1 0 R";
    return r;
}

PdfRevision With(PdfRevision r, int number, const QByteArray& body) {
    r.objects[number] = body;
    return r;
}

struct Generated {
    QByteArray bytes;
    bool pixels = true;        // poppler shows the input as it should: compare its pixels
    QByteArray warning;        // what the tool must say on its error output
    QByteArray refusal;        // the file must be refused, with this in the reason
};

// A certification signature with permissions `p` (the signature's contents are not checked by the
// tool, only its presence and permissions).
PdfRevision Certified(int p) {
    PdfRevision r = Base();
    r.objects[1] = "<< /Type /Catalog /Pages 2 0 R /Perms << /DocMDP 10 0 R >> /AcroForm << /Fields [11 0 R] "
                   "/SigFlags 3 >> >>";
    r.objects[10] = "<< /Type /Sig /Filter /Adobe.PPKLite /SubFilter /adbe.pkcs7.detached /Contents <00> "
                    "/ByteRange [0 0 0 0] /Reference [<< /Type /SigRef /TransformMethod /DocMDP /TransformParams "
                    "<< /Type /TransformParams /P " +
                    QByteArray::number(p) + " /V /1.2 >> >>] >>";
    r.objects[11] = "<< /FT /Sig /T (cert) /V 10 0 R /Rect [0 0 0 0] /P 3 0 R /Subtype /Widget >>";
    return r;
}

Generated Make(const QString& row) {
    Generated g;
    const PdfRevision base = Base();
    if (row == "well-formed") {
        g.bytes = PdfFile({base});
    } else if (row == "resources: reference to null") {
        // The page's /Resources names a null object: it inherits the node's, with its font.
        PdfRevision r = With(With(base, 3, "<< /Type /Page /Parent 2 0 R /Contents 5 0 R /Resources 9 0 R >>"), 9,
                             "null");
        g.bytes = PdfFile({r});
    } else if (row == "resources: reference to a free object") {
        PdfRevision r = With(base, 3, "<< /Type /Page /Parent 2 0 R /Contents 5 0 R /Resources 9 0 R >>");
        r.freed[9] = 1;
        g.bytes = PdfFile({r});
    } else if (row == "media box: reference to null") {
        PdfRevision r =
            With(With(base, 3, "<< /Type /Page /Parent 2 0 R /Contents 5 0 R /MediaBox 9 0 R >>"), 9, "null");
        g.bytes = PdfFile({r});
    } else if (row == "crop box and rotation: references to null and to a missing object") {
        PdfRevision r = With(base, 2,
                             "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 /MediaBox [0 0 300 400] /Resources 6 0 R "
                             "/CropBox [20 30 280 370] /Rotate 270 >>");
        r.objects[3] = "<< /Type /Page /Parent 2 0 R /Contents 5 0 R /CropBox 9 0 R /Rotate 9 0 R >>";
        r.objects[9] = "null";
        r.objects[4] = "<< /Type /Page /Parent 2 0 R /Contents [5 0 R 7 0 R] /Rotate 5 1 R /CropBox 5 1 R "
                       "/Resources << /Font << /F1 8 0 R >> >> >>";
        g.bytes = PdfFile({r});
    } else if (row == "media box and rotation: a node's references to null") {
        // A node between the pages and the one that gives the box: MuPDF stops at the nearest node
        // that has the key at all, qpdf and poppler look further up.
        PdfRevision r = base;
        r.objects[2] = "<< /Type /Pages /Kids [10 0 R] /Count 2 /MediaBox [0 0 300 400] /Resources 6 0 R "
                       "/Rotate 180 >>";
        r.objects[10] = "<< /Type /Pages /Parent 2 0 R /Kids [3 0 R 4 0 R] /Count 2 /MediaBox 9 0 R /Rotate 9 0 R >>";
        r.objects[3] = "<< /Type /Page /Parent 10 0 R /Contents 5 0 R >>";
        r.objects[4] = "<< /Type /Page /Parent 10 0 R /Contents [5 0 R 7 0 R] /CropBox [10 10 290 390] "
                       "/Resources << /Font << /F1 8 0 R >> >> >>";
        r.objects[9] = "null";
        g.bytes = PdfFile({r});
    } else if (row == "resources: reference to a missing object above the highest") {
        g.bytes = PdfFile({With(base, 3, "<< /Type /Page /Parent 2 0 R /Contents 5 0 R /Resources 40 0 R >>")});
    } else if (row == "contents and fonts: references to null") {
        // No content on page 1 (nothing but the number to show), no fonts on page 2 (its text shows
        // in no viewer, before or after).
        PdfRevision r = With(base, 3, "<< /Type /Page /Parent 2 0 R /Contents 9 0 R >>");
        r.objects[4] = "<< /Type /Page /Parent 2 0 R /Contents [5 0 R 7 0 R] /Rotate 90 /Resources << /Font 9 0 R "
                       "/ProcSet 10 0 R >> >>";
        r.objects[9] = "null";
        g.bytes = PdfFile({r});
    } else if (row == "a catalog without a page tree") {
        // Pages no viewer shows (nothing leads to them): refused, as no copy would show them either.
        g.bytes = PdfFile({With(base, 1, "<< /Type /Catalog >>")});
        g.refusal = "no pages";
    } else if (row == "trailer /Size 100,000,000") {
        PdfRevision r = base;
        r.size = 100000000;
        g.bytes = PdfFile({r});
    } else if (row == "xref stream /Size 100,000,000") {
        PdfRevision r = base;
        r.xrefStream = true;
        r.size = 100000000;
        g.bytes = PdfFile({r});
        g.pixels = false; // poppler refuses the input; the copy, rewritten, opens everywhere
    } else if (row == "objects numbered up to 8,388,607") {
        PdfRevision r;
        const int n = 8388600;
        r.objects = {{n, "<< /Type /Catalog /Pages " + QByteArray::number(n + 1) + " 0 R >>"},
                     {n + 1, "<< /Type /Pages /Kids [" + QByteArray::number(n + 2) +
                                 " 0 R] /Count 1 /MediaBox [0 0 300 400] >>"},
                     {n + 2, "<< /Type /Page /Parent " + QByteArray::number(n + 1) + " 0 R /Contents " +
                                 QByteArray::number(n + 3) + " 0 R /Resources << /Font << /F1 " +
                                 QByteArray::number(n + 7) + " 0 R >> >> >>"},
                     {n + 3, kText},
                     {n + 7, kFont}};
        r.trailer = "/Root " + QByteArray::number(n) + " 0 R";
        g.bytes = PdfFile({r});
    } else if (row == "comments and strings holding >>, endobj, EI") {
        PdfRevision r = base;
        r.objects[3] = "<< /Type /Page % a comment >> endobj\n /Parent 2 0 R /PieceInfo << /X << /Private "
                       "(>> endobj EI \\) stream) /LastModified (D:2020) >> >> /Contents 5 0 R >>";
        r.objects[5] = PdfStream("% >> endobj EI Q\nBT /F1 20 Tf 1 0 0 1 50 200 Tm (Hello \\) EI Q >>) Tj ET");
        g.bytes = PdfFile({r});
    } else if (row == "free and reused object numbers") {
        // The second revision frees the square's stream and gives page 2 a new content stream under
        // number 5 with generation 1.
        PdfRevision update;
        update.objects[5] = PdfStream("BT /F1 20 Tf 1 0 0 1 60 220 Tm (Again) Tj ET");
        update.generations[5] = 1;
        update.objects[3] = "<< /Type /Page /Parent 2 0 R /Contents 5 1 R >>";
        update.objects[4] = "<< /Type /Page /Parent 2 0 R /Contents 5 1 R /Rotate 90 /Resources << /Font << /F1 8 0 R "
                            ">> >> >>";
        update.freed[7] = 1;
        update.trailer = "/Root 1 0 R";
        g.bytes = PdfFile({base, update});
    } else if (row == "an update that redefines the pages") {
        PdfRevision update;
        // (A crop box reaching beyond the media box is clipped differently by poppler and MuPDF.)
        update.objects[2] = "<< /Type /Pages /Kids [4 0 R 3 0 R 9 0 R] /Count 3 /MediaBox [0 0 400 450] "
                            "/Resources 6 0 R >>";
        update.objects[3] = "<< /Type /Page /Parent 2 0 R /Contents 5 0 R /Rotate 180 >>";
        update.objects[9] = "<< /Type /Page /Parent 2 0 R /Contents 7 0 R /UserUnit 2 >>";
        update.trailer = "/Root 1 0 R";
        g.bytes = PdfFile({base, update});
    } else if (row == "xref stream /W [1 3 0], /Index in runs") {
        PdfRevision r = base;
        r.objects.erase(6);
        r.objects[2] = "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 /MediaBox [0 0 300 400] /Resources 12 0 R >>";
        r.objects[12] = "<< /Font << /F1 8 0 R >> >>";
        r.xrefStream = true;
        r.widths = {1, 3, 0};
        g.bytes = PdfFile({r});
    } else if (row == "xref stream /W [0 4 1], no entry for object 0") {
        // A first field of no width: every entry is an object in the file.
        PdfRevision r = base;
        r.xrefStream = true;
        r.widths = {0, 4, 1};
        g.bytes = PdfFile({r});
    } else if (row == "xref stream without /Index, gaps listed free") {
        PdfRevision r = base;
        r.objects.erase(7);
        r.objects[4] = "<< /Type /Page /Parent 2 0 R /Contents [5 0 R 15 0 R] /Rotate 90 /CropBox [10 10 290 390] "
                       "/Resources << /Font << /F1 8 0 R >> >> >>";
        r.objects[15] = PdfStream("0 0 1 rg 100 100 20 20 re f");
        r.xrefStream = true;
        r.widths = {1, 2, 1};
        r.writeIndex = false;
        g.bytes = PdfFile({r});
    } else if (row == "xref stream /W [2 8 2], an update in another") {
        PdfRevision r = base;
        r.xrefStream = true;
        r.widths = {2, 8, 2};
        PdfRevision update;
        update.objects[3] = "<< /Type /Page /Parent 2 0 R /Contents 5 0 R /Rotate 90 >>";
        update.xrefStream = true;
        update.widths = {1, 2, 1};
        update.trailer = "/Root 1 0 R";
        g.bytes = PdfFile({r, update});
    } else if (row == "object streams holding the pages") {
        PdfRevision r = base;
        r.xrefStream = true;
        for (int n : {1, 2, 3, 4, 6, 8})
            r.inObjectStream[n] = 20;
        g.bytes = PdfFile({r});
    } else if (row == "resources given as a stream") {
        PdfRevision r = With(base, 6, PdfStream("", " /Font << /F1 8 0 R >>"));
        g.bytes = PdfFile({r});
        g.pixels = false; // poppler finds no fonts there and leaves the text out; MuPDF shows it
    } else if (row == "trailer /Encrypt that is a number") {
        PdfRevision r = base;
        r.trailer += " /Encrypt 5";
        g.bytes = PdfFile({r});
    } else if (row == "trailer /Encrypt that is a string, a stream /Length off") {
        // Damaged besides: the qpdf way reads it.
        PdfRevision r = base;
        r.objects[7] = "<< /Length 20 >>\nstream\n0 0 1 rg 100 100 20 20 re f\nendstream";
        r.trailer += " /Encrypt (none)";
        g.bytes = PdfFile({r});
    } else if (row == "trailer /Encrypt that names null") {
        PdfRevision r = With(base, 9, "null");
        r.trailer += " /Encrypt 9 0 R";
        g.bytes = PdfFile({r});
    } else if (row == "a page with kids") {
        g.bytes = PdfFile({With(base, 3, "<< /Type /Page /Parent 2 0 R /Kids [] /Contents 5 0 R >>")});
    } else if (row == "the catalog written into the trailer") {
        PdfRevision r = base;
        r.objects.erase(1);
        r.trailer = "/Root << /Type /Catalog /Pages 2 0 R >>";
        g.bytes = PdfFile({r});
        g.pixels = false; // poppler shows no page of the input
    } else if (row == "page tree /Count 0") {
        g.bytes = PdfFile({With(base, 2, "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 0 /MediaBox [0 0 300 400] "
                                         "/Resources 6 0 R >>")});
        g.pixels = false; // viewers take the count and show no page of the input
    } else if (row == "certified, no changes allowed") {
        g.bytes = PdfFile({Certified(1)});
        g.warning = "certified";
    } else if (row == "certified, form filling and signing allowed") {
        g.bytes = PdfFile({Certified(2)});
        g.warning = "certified";
    }
    return g;
}

const QStringList kRows = {
    "well-formed",
    "resources: reference to null",
    "resources: reference to a free object",
    "media box: reference to null",
    "crop box and rotation: references to null and to a missing object",
    "media box and rotation: a node's references to null",
    "resources: reference to a missing object above the highest",
    "contents and fonts: references to null",
    "a catalog without a page tree",
    "trailer /Size 100,000,000",
    "xref stream /Size 100,000,000",
    "objects numbered up to 8,388,607",
    "comments and strings holding >>, endobj, EI",
    "free and reused object numbers",
    "an update that redefines the pages",
    "xref stream /W [1 3 0], /Index in runs",
    "xref stream /W [0 4 1], no entry for object 0",
    "xref stream without /Index, gaps listed free",
    "xref stream /W [2 8 2], an update in another",
    "object streams holding the pages",
    "resources given as a stream",
    "trailer /Encrypt that is a number",
    "trailer /Encrypt that is a string, a stream /Length off",
    "trailer /Encrypt that names null",
    "a page with kids",
    "the catalog written into the trailer",
    "page tree /Count 0",
    "certified, no changes allowed",
    "certified, form filling and signing allowed",
};

bool TakenQuickly(const QByteArray& bytes) {
    try {
        CleanFileUpdate update(std::string_view(bytes.constData(), size_t(bytes.size())), StampOptions());
        return true;
    } catch (std::exception&) {
        return false;
    }
}

struct Tally {
    int compared = 0, quick = 0;
    QStringList differences;
};

// Both ways on `in`; false when either refuses it. A difference is noted in `tally`.
bool CompareWays(const QString& in, const QString& folder, Tally& tally) {
    StampOptions options;
    options.input = in.toStdString();
    options.firstNumber = 7;
    options.fontSize = 11;
    options.left = 15;
    options.bottom = 12;
    const QString quick = folder + "/quick.pdf", slow = folder + "/qpdf.pdf";
    NumberPdfResult a, b;
    bool numbered = false;
    try {
        options.output = quick.toStdString();
        a = NumberPdfFile(options);
        numbered = true;
        options.output = slow.toStdString();
        b = NumberPdfFile(options, false, NumberingWay::QpdfOnly);
    } catch (std::exception& e) {
        // Refused both ways is the rule; one way only is worth knowing.
        if (numbered)
            qInfo("%s: numbered the quick way, refused by the qpdf way: %s", qPrintable(QFileInfo(in).fileName()),
                  e.what());
        return false;
    }
    ++tally.compared;
    tally.quick += TakenQuickly(ReadAll(in)) ? 1 : 0;
    std::string difference;
    try {
        QPDF ca, cb;
        ca.setSuppressWarnings(true);
        cb.setSuppressWarnings(true);
        ca.processFile(quick.toLocal8Bit().constData());
        cb.processFile(slow.toLocal8Bit().constData());
        difference = CompareNumberedCopies(ca, cb);
    } catch (std::exception& e) {
        difference = std::string("a copy does not read: ") + e.what();
    }
    if (a.pages != b.pages || a.certification != b.certification)
        difference += " (results differ: pages or certification)";
    // The in-memory entry makes the same copy as the file's.
    if (difference.empty()) {
        try {
            const QByteArray bytes = ReadAll(in);
            const NumberedBytes m =
                NumberPdfBytes(std::string_view(bytes.constData(), size_t(bytes.size())), options);
            QPDF ca, cm;
            ca.setSuppressWarnings(true);
            cm.setSuppressWarnings(true);
            ca.processFile(quick.toLocal8Bit().constData());
            cm.processMemoryFile("in memory", m.copy.data(), m.copy.size());
            difference = CompareNumberedCopies(ca, cm);
            if (m.result.appended != a.appended || m.result.pages != a.pages)
                difference += " (the in-memory entry chose another way)";
        } catch (std::exception& e) {
            difference = std::string("the in-memory entry refused it: ") + e.what();
        }
    }
    if (!difference.empty())
        tally.differences << QFileInfo(in).fileName() + ": " + QString::fromStdString(difference);
    return true;
}

// Every key each input page has is still on the copy's page (the /Kids of a page that had some
// are the one thing a mended tree drops).
QString KeysKept(const QString& in, const QString& out) {
    try {
        QPDF a, b;
        a.setSuppressWarnings(true);
        b.setSuppressWarnings(true);
        try {
            a.processFile(in.toLocal8Bit().constData());
        } catch (std::exception&) {
            return {}; // qpdf does not read the input; its keys are checked through the viewers only
        }
        b.processFile(out.toLocal8Bit().constData());
        std::vector<QPDFPageObjectHelper> pa = QPDFPageDocumentHelper(a).getAllPages();
        std::vector<QPDFPageObjectHelper> pb = QPDFPageDocumentHelper(b).getAllPages();
        // qpdf's reading of the input's tree is not the viewers' here: pages can't be matched.
        if (pa.size() != pb.size())
            return {};
        for (size_t k = 0; k < pa.size(); ++k)
            for (auto& key : pa[k].getObjectHandle().getKeys())
                if (key != "/Kids" && !pb[k].getObjectHandle().hasKey(key))
                    return QString("page %1 lost %2").arg(k + 1).arg(QString::fromStdString(key));
    } catch (std::exception& e) {
        return QString::fromUtf8(e.what());
    }
    return {};
}

// The number as MuPDF finds it: its first character's origin where it was asked for. MuPDF
// measures in points (a page's /UserUnit applied), poppler's `shown` in user space units.
QString MupdfFindsNumber(const QString& path, int page, const DisplayedPage& shown, const NumberPlacement& place) {
    QString seen;
    const double height = shown.height * place.userUnit;
    for (const PdfWord& w : PdfProbe::mupdfWords(path, page)) {
        if (w.text != place.text)
            continue;
        if (std::abs(w.xMin - place.left) < 0.06 * place.size &&
            std::abs(w.yMax - (height - place.bottom)) < 0.06 * place.size)
            return {};
        seen += QString(" (%1,%2)").arg(w.xMin).arg(w.yMax);
    }
    return QString("MuPDF finds no %1 at (%2,%3) on page %4; seen%5")
        .arg(place.text)
        .arg(place.left)
        .arg(height - place.bottom)
        .arg(page)
        .arg(seen);
}

} // namespace

class DifferentialTest : public QObject {
    Q_OBJECT

private slots:
    void generated_data();
    void generated();
    void corpus();
    void cleanupTestCase();

private:
    Tally generatedTally_;
};

void DifferentialTest::generated_data() {
    QTest::addColumn<QString>("row");
    for (const QString& row : kRows)
        QTest::newRow(qPrintable(row)) << row;
}

void DifferentialTest::generated() {
    QFETCH(QString, row);
    const Generated g = Make(row);
    QVERIFY(!g.bytes.isEmpty());
    QTemporaryDir dir;
    const QString in = dir.filePath("in.pdf"), out = dir.filePath("out.pdf");
    QVERIFY(WriteAll(in, g.bytes));

    ProcessResult r =
        RunProgram(Tool(), {"-m" + in, "-n", "-N07", "-Ns11", "-Nc255,0,0", "-Nx15", "-Ny12", "-d" + out});
    // NUMBREL_DIFF_KEEP=folder keeps each row's input and copy there, to look at.
    if (const QString keep = qEnvironmentVariable("NUMBREL_DIFF_KEEP"); !keep.isEmpty()) {
        const QString name = QString(row).replace(QRegularExpression("[^A-Za-z0-9]+"), "-");
        WriteAll(keep + "/" + name + ".pdf", g.bytes);
        WriteAll(keep + "/" + name + "-numbered.pdf", ReadAll(out));
    }
    if (!g.refusal.isEmpty()) {
        QVERIFY2(r.exitCode == 1 && r.err.contains(g.refusal), r.err.constData());
        QVERIFY(!QFile::exists(out));
        return;
    }
    QVERIFY2(r.exitCode == 0, r.err.constData());
    if (!g.warning.isEmpty())
        QVERIFY2(r.err.contains(g.warning), r.err.constData());
    const int pages = PdfProbe::pageCount(out);
    QVERIFY2(pages > 0, "poppler finds no page in the copy");
    QCOMPARE(PdfProbe::mupdfPageCount(out), pages);
    const int shownBefore = std::max(PdfProbe::pageCount(in), PdfProbe::mupdfPageCount(in));
    QVERIFY2(pages >= shownBefore, "the copy shows fewer pages than a viewer finds in the input");
    const ProcessResult check = PdfProbe::check(out);
    QVERIFY2(check.exitCode == 0, check.out.constData());
    const QList<DisplayedPage> shown = PdfProbe::displayedPages(out, pages);
    for (int p = 1; p <= pages; ++p) {
        // /UserUnit 2 on the last page of one row.
        const double unit = row.startsWith("an update") && p == 3 ? 2 : 1;
        const NumberPlacement place{QString::number(6 + p), 15, 12, 11, unit};
        if (g.pixels) {
            const QString problem = CheckPageNumber(in, out, p, shown[p - 1], place);
            QVERIFY2(problem.isEmpty(), qPrintable(problem));
        } else {
            bool found = false;
            for (const PdfWord& w : PdfProbe::words(out, p))
                found = found || w.text == place.text;
            QVERIFY2(found, qPrintable(QString("poppler finds no number on page %1").arg(p)));
        }
        const QString mupdf = MupdfFindsNumber(out, p, shown[p - 1], place);
        QVERIFY2(mupdf.isEmpty(), qPrintable(mupdf));
    }
    const QString keys = KeysKept(in, out);
    QVERIFY2(keys.isEmpty(), qPrintable(keys));

    CompareWays(in, dir.path(), generatedTally_);
    QVERIFY2(generatedTally_.differences.isEmpty(), qPrintable(generatedTally_.differences.join('\n')));
}

void DifferentialTest::corpus() {
    QTemporaryDir dir;
    Tally tally;
    int files = 0;
    const QDir corpus(QStringLiteral(NUMBREL_CORPUS_DIR));
    for (const QString& sub : corpus.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        for (const QFileInfo& file : QDir(corpus.filePath(sub)).entryInfoList({"*.pdf"}, QDir::Files)) {
            ++files;
            CompareWays(file.filePath(), dir.path(), tally);
        }
    qInfo("corpus: %d files, %d numbered both ways and compared (%d of them the quick way), %lld differences",
          files, tally.compared, tally.quick, (long long)tally.differences.size());
    QVERIFY2(tally.differences.isEmpty(), qPrintable(tally.differences.join('\n')));
    QVERIFY(tally.compared >= 100);
}

void DifferentialTest::cleanupTestCase() {
    qInfo("generated: %d files compared both ways (%d of them the quick way)", generatedTally_.compared,
          generatedTally_.quick);
}

QTEST_GUILESS_MAIN(DifferentialTest)
#include "test_differential.moc"
