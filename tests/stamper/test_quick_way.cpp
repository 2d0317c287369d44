// The quick way: a well-formed file is numbered straight from its bytes, anything else goes through
// qpdf. Files written byte by byte, each well-formed or with one flaw, show which way each takes and
// that the real mbtPdfAsm.exe numbers every one correctly either way (judged by poppler and the qpdf
// command line). Then every corpus file the quick way takes comes out with the same words in the
// same places as through qpdf alone.

#include "CleanFileUpdate.h"
#include "NumberCheck.h"
#include "NumberPdfFile.h"
#include "PdfProbe.h"
#include "StampError.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

#include <cmath>
#include <map>

namespace {

QString Tool() {
    return QStringLiteral(NUMBREL_PROGRAM_DIR "/mbtPdfAsm.exe");
}

QByteArray Stream(const QByteArray& data, int lengthOff = 0, const QByteArray& entries = {}) {
    return "<< /Length " + QByteArray::number(data.size() + lengthOff) + entries + " >>\nstream\n" + data +
           "\nendstream";
}

using Objects = std::map<int, QByteArray>;

// Objects, then a table listing them and the trailer; `shift` moves one object's entry off its place.
QByteArray Revision(const QByteArray& before, const Objects& objects, const QByteArray& trailer,
                    std::pair<int, int> shift = {0, 0}) {
    QByteArray pdf = before.isEmpty() ? QByteArray("%PDF-1.4\n%\xe2\xe3\xcf\xd3\n") : before;
    std::map<int, qsizetype> at;
    for (const auto& [n, body] : objects) {
        at[n] = pdf.size();
        pdf += QByteArray::number(n) + " 0 obj\n" + body + "\nendobj\n";
    }
    const qsizetype xref = pdf.size();
    pdf += "xref\n0 1\n0000000000 65535 f \n";
    for (const auto& [n, offset] : at) {
        pdf += QByteArray::number(n) + " 1\n";
        pdf += QByteArray::number(offset + (n == shift.first ? shift.second : 0)).rightJustified(10, '0') +
               " 00000 n \n";
    }
    pdf += "trailer\n<< " + trailer + " >>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
    return pdf;
}

// Two pages: the first inherits its media box and resources (which already name a font /NbF) from the
// tree, the second turns 90 degrees, has resources of its own and shares the first's content stream.
Objects Base() {
    return {
        {1, "<< /Type /Catalog /Pages 2 0 R >>"},
        {2, "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 /MediaBox [0 0 300 400] /Resources 6 0 R >>"},
        {3, "<< /Type /Page /Parent 2 0 R /Contents 5 0 R >>"},
        {4, "<< /Type /Page /Parent 2 0 R /Contents [5 0 R 7 0 R] /Rotate 90 "
            "/Resources << /Font << /F1 8 0 R >> >> >>"},
        {5, Stream("BT /F1 20 Tf 1 0 0 1 50 200 Tm (Hello) Tj ET")},
        {6, "<< /Font << /F1 8 0 R /NbF 8 0 R >> >>"},
        {7, Stream("0 0 1 rg 100 100 20 20 re f")},
        {8, "<< /Type /Font /Subtype /Type1 /BaseFont /Times-Roman >>"},
    };
}

const QByteArray kTrailer = "/Size 9 /Root 1 0 R";

// Enough pages with enough content that a second thread scans it while the tree is walked; the last
// page's content ends with `lastEnding`.
QByteArray Large(const QByteArray& lastEnding) {
    constexpr int kPages = 200;
    Objects objects{{1, "<< /Type /Catalog /Pages 2 0 R >>"},
                    {3, "<< /Type /Font /Subtype /Type1 /BaseFont /Times-Roman >>"}};
    QByteArray kids;
    for (int k = 0; k < kPages; ++k) {
        const int page = 10 + 2 * k;
        kids += QByteArray::number(page) + " 0 R ";
        QByteArray content = "BT /F1 12 Tf 1 0 0 1 60 300 Tm (Page" + QByteArray::number(k + 1) + ") Tj ET\n";
        for (int line = 0; line < 80; ++line)
            content += "0 0 1 rg " + QByteArray::number(100 + line) + " 100 20 20 re f\n";
        objects[page] = "<< /Type /Page /Parent 2 0 R /Contents " + QByteArray::number(page + 1) + " 0 R >>";
        objects[page + 1] = Stream(k + 1 == kPages ? content + lastEnding : content);
    }
    objects[2] = "<< /Type /Pages /Kids [" + kids + "] /Count " + QByteArray::number(kPages) +
                 " /MediaBox [0 0 300 400] /Resources << /Font << /F1 3 0 R >> >> >>";
    return Revision({}, objects, "/Size " + QByteArray::number(10 + 2 * kPages) + " /Root 1 0 R");
}

Objects With(Objects objects, int number, const QByteArray& body) {
    objects[number] = body;
    return objects;
}

// The file as the row makes it; some rows run qpdf on the well-formed file.
QByteArray Make(const QString& row, const QString& folder) {
    const QByteArray base = Revision({}, Base(), kTrailer);
    auto throughQpdf = [&](const QStringList& args) {
        const QString in = folder + "/base.pdf", out = folder + "/qpdf.pdf";
        WriteAll(in, base);
        RunProgram("qpdf", args + QStringList{in, out});
        return ReadAll(out);
    };
    if (row == "well-formed")
        return base;
    // qpdf takes the second "%PDF-" for the header and counts offsets from there.
    if (row == "a header without its version, then the real one")
        return "%PDF-" + base;
    if (row == "cross-reference stream with predictor, object streams")
        return throughQpdf({"--object-streams=generate"});
    if (row == "a later revision turns page 1 and moves its content")
        return Revision(base,
                        {{3, "<< /Type /Page /Parent 2 0 R /Contents 9 0 R /Rotate 180 >>"},
                         {9, Stream("BT /F1 20 Tf 1 0 0 1 60 220 Tm (Later) Tj ET")}},
                        "/Size 10 /Root 1 0 R /Prev " + QByteArray::number(base.lastIndexOf("\nxref") + 1));
    if (row == "contents as an object holding the list")
        return Revision(
            {}, With(With(Base(), 4, "<< /Type /Page /Parent 2 0 R /Contents 9 0 R >>"), 9, "[5 0 R 7 0 R]"),
            "/Size 10 /Root 1 0 R");
    if (row == "stream /Length one short")
        return Revision({}, With(Base(), 7, Stream("0 0 1 rg 100 100 20 20 re f", -1)), kTrailer);
    if (row == "cross-reference entry one byte off")
        return Revision({}, Base(), kTrailer, {4, 1});
    if (row == "page listed twice")
        return Revision({},
                        With(Base(), 2,
                             "<< /Type /Pages /Kids [3 0 R 4 0 R 3 0 R] /Count 3 "
                             "/MediaBox [0 0 300 400] /Resources 6 0 R >>"),
                        kTrailer);
    if (row == "page whose /Parent is another node")
        return Revision({}, With(Base(), 3, "<< /Type /Page /Parent 1 0 R /Contents 5 0 R >>"), kTrailer);
    if (row == "restore that closes nothing")
        return Revision({}, With(Base(), 7, Stream("0 0 1 rg 100 100 20 20 re f Q")), kTrailer);
    if (row == "key with a # escape")
        return Revision({}, With(Base(), 3, "<< /Type /Page /Parent 2 0 R /Contents 5 0 R /Ex#41mple 1 >>"),
                        kTrailer);
    if (row == "content through ASCIIHex")
        return Revision({}, With(Base(), 7, Stream("3020302031207267>", 0, " /Filter /ASCIIHexDecode")),
                        kTrailer);
    if (row == "trailer /Size below the objects")
        return Revision({}, Base(), "/Size 5 /Root 1 0 R");
    if (row == "200 pages, content scanned on two threads")
        return Large("");
    if (row == "200 pages, a restore that closes nothing on the last")
        return Large("Q\n");
    if (row == "encrypted (AES-256, empty user password)")
        return throughQpdf({"--encrypt", "", "owner", "256", "--"});
    return {};
}

// Whether the quick way takes the file.
bool Taken(const QByteArray& bytes) {
    try {
        StampOptions options;
        CleanFileUpdate update(std::string_view(bytes.constData(), size_t(bytes.size())), options);
        return true;
    } catch (NotClean&) {
        return false;
    }
}

// Words of a page as poppler finds them, placed to a hundredth of a point.
QStringList PlacedWords(const QString& path, int page) {
    QStringList placed;
    for (const PdfWord& w : PdfProbe::words(path, page))
        placed << QStringLiteral("%1@%2,%3")
                      .arg(w.text)
                      .arg(std::round(w.xMin * 100))
                      .arg(std::round(w.yMin * 100));
    return placed;
}

} // namespace

class QuickWayTest : public QObject {
    Q_OBJECT

private slots:
    void craftedFile_data();
    void craftedFile();
    void corpusSameAsThroughQpdf();
    void fuzzFindingsReadBack();
    void selectedPagesBothWays_data();
    void selectedPagesBothWays();
};

void QuickWayTest::craftedFile_data() {
    QTest::addColumn<QString>("row");
    QTest::addColumn<bool>("quick");
    QTest::newRow("well-formed") << "well-formed" << true;
    QTest::newRow("xref stream") << "cross-reference stream with predictor, object streams" << true;
    QTest::newRow("revision") << "a later revision turns page 1 and moves its content" << true;
    QTest::newRow("contents object") << "contents as an object holding the list" << true;
    QTest::newRow("length") << "stream /Length one short" << false;
    QTest::newRow("offset") << "cross-reference entry one byte off" << false;
    QTest::newRow("twice") << "page listed twice" << false;
    QTest::newRow("parent") << "page whose /Parent is another node" << false;
    QTest::newRow("stray Q") << "restore that closes nothing" << false;
    QTest::newRow("escape") << "key with a # escape" << false;
    QTest::newRow("hex") << "content through ASCIIHex" << false;
    QTest::newRow("size") << "trailer /Size below the objects" << false;
    QTest::newRow("header") << "a header without its version, then the real one" << false;
    QTest::newRow("encrypted") << "encrypted (AES-256, empty user password)" << false;
    QTest::newRow("large") << "200 pages, content scanned on two threads" << true;
    QTest::newRow("large, stray Q at the end")
        << "200 pages, a restore that closes nothing on the last" << false;
}

void QuickWayTest::craftedFile() {
    QFETCH(QString, row);
    QFETCH(bool, quick);
    QTemporaryDir dir;
    const QByteArray bytes = Make(row, dir.path());
    QVERIFY(!bytes.isEmpty());
    const QString in = dir.filePath("in.pdf"), out = dir.filePath("out.pdf");
    QVERIFY(WriteAll(in, bytes));
    QCOMPARE(Taken(bytes), quick);

    ProcessResult r =
        RunProgram(Tool(), {"-m" + in, "-n", "-N01", "-Ns11", "-Nc255,0,0", "-Nx15", "-Ny12", "-d" + out});
    QVERIFY2(r.exitCode == 0, r.err.constData());
    const int pages = PdfProbe::pageCount(in);
    QCOMPARE(PdfProbe::pageCount(out), pages);
    QCOMPARE(PdfProbe::mupdfPageCount(out), pages);
    const ProcessResult check = PdfProbe::check(out);
    QVERIFY2(check.exitCode == 0, check.out.constData());
    const QList<DisplayedPage> shown = PdfProbe::displayedPages(out, pages);
    // Each page keeps its words (the font it had stays beside the new one); the first two and the
    // last are enough to see every kind of page a file has here.
    for (int p : {1, 2, pages}) {
        if (p > pages)
            continue;
        const QString problem =
            CheckPageNumber(in, out, p, shown[p - 1], {QString::number(p), 15, 12, 11, 1});
        QVERIFY2(problem.isEmpty(), qPrintable(QStringLiteral("page %1: %2").arg(p).arg(problem)));
        QStringList before = PlacedWords(in, p), after = PlacedWords(out, p);
        for (const QString& w : before)
            QVERIFY2(after.contains(w), qPrintable(QStringLiteral("page %1 lost %2").arg(p).arg(w)));
    }
    if (quick)
        QVERIFY(ReadAll(out).startsWith(bytes));

    // Neither way writes an update that does not read back as written (and is then made again).
    for (NumberingWay way : {NumberingWay::Quickest, NumberingWay::QpdfOnly}) {
        StampOptions options;
        options.input = in.toStdString();
        options.output = dir.filePath("again.pdf").toStdString();
        const NumberPdfResult again = NumberPdfFile(options, false, way);
        QVERIFY2(again.readBackFailure.empty(), again.readBackFailure.c_str());
    }
}

// What the fuzzer found and keeps as seeds: whichever way takes the file, no update is written that
// does not read back as written.
void QuickWayTest::fuzzFindingsReadBack() {
    QTemporaryDir dir;
    const QDir seeds(QStringLiteral(NUMBREL_FUZZ_SEEDS_DIR));
    const QStringList found = seeds.entryList({"found-*"}, QDir::Files);
    QVERIFY(!found.isEmpty());
    for (const QString& name : found) {
        for (NumberingWay way : {NumberingWay::Quickest, NumberingWay::QpdfOnly}) {
            StampOptions options;
            options.input = seeds.filePath(name).toStdString();
            options.output = dir.filePath("out.pdf").toStdString();
            try {
                const NumberPdfResult r = NumberPdfFile(options, false, way);
                QVERIFY2(r.readBackFailure.empty(),
                         qPrintable(name + ": " + QString::fromStdString(r.readBackFailure)));
            } catch (const StampError&) {
                // Refused with a reason: nothing written, nothing to read back.
            }
        }
    }
}

void QuickWayTest::corpusSameAsThroughQpdf() {
    QTemporaryDir dir;
    int compared = 0;
    const QDir corpus(QStringLiteral(NUMBREL_CORPUS_DIR));
    for (const QString& sub : corpus.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        for (const QFileInfo& file : QDir(corpus.filePath(sub)).entryInfoList({"*.pdf"}, QDir::Files)) {
            if (!Taken(ReadAll(file.filePath())))
                continue;
            StampOptions options;
            options.input = file.filePath().toStdString();
            options.firstNumber = 41;
            options.fontSize = 9;
            options.left = 30;
            options.bottom = 20;
            const QString quick = dir.filePath("quick.pdf"), slow = dir.filePath("qpdf.pdf");
            options.output = quick.toStdString();
            const NumberPdfResult a = NumberPdfFile(options);
            options.output = slow.toStdString();
            const NumberPdfResult b = NumberPdfFile(options, false, NumberingWay::QpdfOnly);
            QVERIFY2(a.appended, qPrintable(file.fileName()));
            QCOMPARE(a.pages, b.pages);
            QCOMPARE(a.pagesWithNumberOffPage, b.pagesWithNumberOffPage);
            QCOMPARE(a.signatureKept, b.signatureKept || b.signatureBroken);
            // The first pages and the last: enough to see each kind of page the file has.
            for (int p : {1, 2, int(a.pages)}) {
                if (p > int(a.pages))
                    continue;
                const QStringList wordsQuick = PlacedWords(quick, p), wordsQpdf = PlacedWords(slow, p);
                QVERIFY2(wordsQuick == wordsQpdf,
                         qPrintable(QStringLiteral("%1 page %2:\n%3\n%4")
                                        .arg(file.fileName())
                                        .arg(p)
                                        .arg(wordsQuick.join(' ').left(600), wordsQpdf.join(' ').left(600))));
            }
            ++compared;
        }
    }
    qInfo("%d corpus files compared", compared);
    QVERIFY(compared >= 60);
}

// Either way numbers only the selected pages, counting from the first number, and writes nothing of
// the others: their page objects are not in the update, so they keep their content and dictionary.
void QuickWayTest::selectedPagesBothWays_data() {
    QTest::addColumn<QString>("pages");
    QTest::addColumn<QList<int>>("numbered"); // 1-based
    QTest::newRow("cover left") << "2-" << QList<int>{2, 3, 4, 5};
    QTest::newRow("list") << "1,3" << QList<int>{1, 3};
    QTest::newRow("even") << "even" << QList<int>{2, 4};
    QTest::newRow("last only") << "5-9" << QList<int>{5};
}

void QuickWayTest::selectedPagesBothWays() {
    QFETCH(QString, pages);
    QFETCH(QList<int>, numbered);
    const QByteArray bytes = ReadAll(QStringLiteral(NUMBREL_PROGRAM_DIR "/Samples/Sample-Report.pdf"));
    QVERIFY(!bytes.isEmpty());
    const std::string input = bytes.toStdString();
    QPDF original;
    original.processMemoryFile("input", input.data(), input.size());
    const std::vector<QPDFPageObjectHelper> before = QPDFPageDocumentHelper(original).getAllPages();
    QCOMPARE(before.size(), size_t(5));
    for (NumberingWay way : {NumberingWay::Quickest, NumberingWay::QpdfOnly}) {
        StampOptions options;
        options.input = "Sample-Report.pdf";
        options.firstNumber = 7;
        options.format = "B{n}/{last}";
        options.pages = *PageSelection::parse(pages.toStdString());
        const NumberedBytes n = NumberPdfBytes(input, options, way);
        QCOMPARE(n.result.quickWay, way == NumberingWay::Quickest);
        QCOMPARE(n.result.numberedPages, size_t(numbered.size()));
        QVERIFY(n.result.appended);
        QVERIFY(n.copy.starts_with(input));
        const std::string update = "\n" + n.copy.substr(input.size());
        QPDF copy;
        copy.processMemoryFile("copy", n.copy.data(), n.copy.size());
        const std::vector<QPDFPageObjectHelper> after = QPDFPageDocumentHelper(copy).getAllPages();
        QCOMPARE(after.size(), size_t(5));
        const long long last = 7 + numbered.size() - 1;
        for (int p = 1; p <= 5; ++p) {
            QPDFObjectHandle page = after[size_t(p - 1)].getObjectHandle();
            const QPDFObjGen id = page.getObjGen();
            const bool written = update.find("\n" + std::to_string(id.getObj()) + " " +
                                             std::to_string(id.getGen()) + " obj") != std::string::npos;
            QCOMPARE(written, numbered.contains(p));
            const std::string shown = page.getKey("/Contents").unparse();
            if (!numbered.contains(p)) {
                QCOMPARE(
                    shown,
                    QPDFObjectHandle(before[size_t(p - 1)].getObjectHandle()).getKey("/Contents").unparse());
                continue;
            }
            const long long value = 7 + numbered.indexOf(p);
            const std::string text = "(B" + std::to_string(value) + "/" + std::to_string(last) + ") Tj";
            QPDFObjectHandle list = page.getKey("/Contents");
            QVERIFY(list.isArray());
            const std::shared_ptr<Buffer> drawn =
                list.getArrayItem(list.getArrayNItems() - 1).getStreamData();
            const std::string drawing(reinterpret_cast<const char*>(drawn->getBuffer()), drawn->getSize());
            QVERIFY2(drawing.find(text) != std::string::npos, drawing.c_str());
        }
    }
}

QTEST_GUILESS_MAIN(QuickWayTest)
#include "test_quick_way.moc"
