// Every real-world PDF of the corpus is either numbered correctly or refused cleanly; the results are
// judged by poppler and the qpdf command line, never by the engine itself.

#include "CopyWithoutNumber.h"
#include "NumberCheck.h"
#include "PdfProbe.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cmath>

namespace {

QString Tool() {
    return QStringLiteral(NUMBREL_PROGRAM_DIR "/mbtPdfAsm.exe");
}

// Files that can't be numbered, and a word the refusal must contain.
const QHash<QString, QString>& ExpectedRefusals() {
    static const QHash<QString, QString> refusals = {
        {"005-libreoffice-writer-password__libreoffice-writer-password.pdf", "password"},
        {"qpdf__qtest__qpdf__c-r2.pdf", "password"},
        {"qpdf__qtest__qpdf__c-r5-in.pdf", "password"},
        {"qpdf__qtest__qpdf__c-r6-in.pdf", "password"},
        {"qpdf__qtest__qpdf__enc-R2_V1_U_view_O_master.pdf", "password"},
        {"qpdf__qtest__qpdf__enc-R3_V2_U_view_O_view.pdf", "password"},
        {"qpdf__qtest__qpdf__encrypted-40-bit-R3.pdf", "password"},
        {"qpdf__qtest__qpdf__issue-147.pdf", "password"},
        {"qpdf__qtest__qpdf__job-json-encrypt-128.pdf", "password"},
        {"qpdf__qtest__qpdf__job-json-encrypt-40.pdf", "password"},
        {"qpdf__qtest__qpdf__filter-on-write.pdf", "no pages"},
        {"qpdf__qtest__qpdf__filter-on-write-out.pdf", "no pages"},
        {"qpdf__qtest__qpdf__issue-120.pdf", "no pages"},
        {"qpdf__qtest__qpdf__bad-content.pdf", "cannot be read"},
        {"qpdf__qtest__qpdf__issue-1503.pdf", "cannot be read"},
        {"qpdf__qtest__qpdf__issue-100.pdf", "/Root"},
        {"qpdf__qtest__qpdf__bad-direct-root.pdf", "catalog"},
    };
    return refusals;
}

// Read cleanly by qpdf, yet rewritten whole: offsets after bytes before the header would mean different
// things to different readers.
const QSet<QString>& ExpectedRewrites() {
    static const QSet<QString> rewrites = {"qpdf__qtest__qpdf__leading-junk.pdf"};
    return rewrites;
}

// What the last startxref of a file points at: "xref" for a table, "obj" for a stream, "" if neither.
QString LastSectionKind(const QByteArray& pdf) {
    const qsizetype at = pdf.lastIndexOf("startxref");
    if (at < 0)
        return {};
    static const QRegularExpression number(QStringLiteral("^\\s*(\\d+)"));
    const auto m = number.match(QString::fromLatin1(pdf.mid(at + 9, 24)));
    const qsizetype offset = m.hasMatch() ? m.captured(1).toLongLong() : -1;
    if (offset < 0 || offset >= pdf.size())
        return {};
    const QByteArray head = pdf.mid(offset, 40).trimmed();
    if (head.startsWith("xref"))
        return "xref";
    return QRegularExpression("^\\d+\\s+\\d+\\s+obj").match(QString::fromLatin1(head)).hasMatch() ? "obj"
                                                                                                  : "";
}

// Files whose pages poppler can't show from the input itself. 017: the catalog's page tree is gone,
// poppler counts the pages its linearization dictionary claims (4) and shows them blank and without
// size. deep-pages: the tree is a loop that never reaches the one page object; poppler counts 1 and
// renders it 1x1. The tool numbers the page objects each file holds; the copy is judged against
// itself with the number's stream taken out, and its page count against those page objects.
const QHash<QString, int>& PagesOutsideTree() {
    static const QHash<QString, int> files = {{"017-unreadable-meta-data__unreadablemetadata.pdf", 3},
                                              {"qpdf__qtest__qpdf__deep-pages.pdf", 1}};
    return files;
}

struct Style {
    long long first;
    double size;
    int red, green, blue;
    double left, bottom;
};

// Vary the options across files so that margins, sizes and first numbers are all exercised.
Style StyleFor(int index) {
    static const long long firsts[] = {1, 7, 0, 123};
    static const double sizes[] = {10, 12, 9};
    static const double lefts[] = {10, 24.5, 40};
    static const double bottoms[] = {10, 18, 30};
    bool red = index % 2 == 0;
    return {firsts[index % 4], sizes[index % 3], red ? 255 : 0,           0,
            red ? 0 : 255,     lefts[index % 3], bottoms[(index / 3) % 3]};
}

QString Num(double v) {
    return QString::number(v, 'g', 10);
}

QByteArray FileHash(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

// What numbering must keep, read with qpdf's library (reading only).
struct KeptTraits {
    QList<double> userUnits;
    QList<int> annotations;
    bool encrypted = false;
    int encryptionR = 0;
    bool objectStreams = false;
    QStringList catalogKeys; // /Outlines, /PageLabels, /AcroForm, /Metadata, ... as present
    int formFields = -1;
    QByteArray firstId, secondId;

    static KeptTraits of(const QString& path) {
        KeptTraits t;
        QPDF pdf;
        pdf.setSuppressWarnings(true);
        pdf.processFile(path.toLocal8Bit().constData());
        for (auto& page : QPDFPageDocumentHelper(pdf).getAllPages()) {
            auto u = page.getObjectHandle().getKey("/UserUnit");
            t.userUnits.append(u.isNumber() && u.getNumericValue() > 0 ? u.getNumericValue() : 1.0);
            auto annots = page.getObjectHandle().getKey("/Annots");
            t.annotations.append(annots.isArray() ? annots.getArrayNItems() : 0);
        }
        int p = 0, r = 0, v = 0;
        QPDF::encryption_method_e sm, stm, fm;
        t.encrypted = pdf.isEncrypted(r, p, v, sm, stm, fm);
        t.encryptionR = r;
        for (auto& [og, entry] : pdf.getXRefTable())
            t.objectStreams = t.objectStreams || entry.getType() == 2;
        auto root = pdf.getRoot();
        for (const char* key :
             {"/Outlines", "/PageLabels", "/AcroForm", "/Metadata", "/Names", "/OCProperties"})
            if (root.hasKey(key) && !root.getKey(key).isNull())
                t.catalogKeys << key;
        auto fields = root.getKey("/AcroForm").getKey("/Fields");
        t.formFields = fields.isArray() ? fields.getArrayNItems() : -1;
        auto id = pdf.getTrailer().getKey("/ID");
        if (id.isArray() && id.getArrayNItems() == 2 && id.getArrayItem(0).isString() &&
            id.getArrayItem(1).isString()) {
            t.firstId = QByteArray::fromStdString(id.getArrayItem(0).getStringValue());
            t.secondId = QByteArray::fromStdString(id.getArrayItem(1).getStringValue());
        }
        return t;
    }
};

} // namespace

class StamperCorpusTest : public QObject {
    Q_OBJECT

private slots:
    void corpusFile_data();
    void corpusFile();
};

void StamperCorpusTest::corpusFile_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("index");
    QDir corpus(QStringLiteral(NUMBREL_CORPUS_DIR));
    QStringList files;
    for (const QString& sub : corpus.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
        for (const QString& f : QDir(corpus.filePath(sub)).entryList({"*.pdf"}, QDir::Files, QDir::Name))
            files << corpus.filePath(sub + "/" + f);
    QVERIFY2(files.size() > 100, "the corpus is missing");
    int index = 0;
    for (const QString& f : files) {
        QTest::newRow(qPrintable(QFileInfo(f).fileName())) << f << index;
        ++index;
    }
}

void StamperCorpusTest::corpusFile() {
    QFETCH(QString, path);
    QFETCH(int, index);
    const QString name = QFileInfo(path).fileName();
    Style style = StyleFor(index);

    // Margins in points would put the number off a page of a few points; scale them to such pages.
    const QList<DisplayedPage> firstPage = PdfProbe::displayedPages(path, 1);
    const double side = std::min(firstPage[0].width, firstPage[0].height);
    if (side > 0 && side < 100) {
        style.size = side / 4;
        style.left = style.bottom = side / 8;
    }

    QTemporaryDir dir;
    const QString in = dir.filePath("in.pdf");
    const QString out = dir.filePath("out.pdf");
    QVERIFY(QFile::copy(path, in));
    const QByteArray before = FileHash(in);

    ProcessResult run =
        RunProgram(Tool(), {"-m" + in, "-n", "-N0" + QString::number(style.first), "-Ns" + Num(style.size),
                            QString("-Nc%1,%2,%3").arg(style.red).arg(style.green).arg(style.blue),
                            "-Nx" + Num(style.left), "-Ny" + Num(style.bottom), "-d" + out});
    QVERIFY2(run.exitCode >= 0, "the tool crashed or hung");
    QCOMPARE(FileHash(in), before);
    // Nothing but the input and, on success, the output: no temporary file is left behind.
    QStringList left = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
    const QStringList expectedFiles =
        run.exitCode == 0 ? QStringList{"in.pdf", "out.pdf"} : QStringList{"in.pdf"};
    QCOMPARE(left, expectedFiles);

    const QString errors = QString::fromUtf8(run.err);
    if (ExpectedRefusals().contains(name)) {
        QVERIFY2(run.exitCode != 0, "a file expected to be refused was numbered");
        QVERIFY2(errors.startsWith("mbtPdfAsm.exe: ") && errors.count('\n') == 1, qPrintable(errors));
        QVERIFY2(errors.contains(ExpectedRefusals().value(name)), qPrintable(errors));
        return;
    }
    QVERIFY2(run.exitCode == 0, qPrintable(errors));

    // The pages poppler counts in the input, and as many in the output.
    const bool outsideTree = PagesOutsideTree().contains(name);
    const int pages = outsideTree ? PagesOutsideTree().value(name) : PdfProbe::pageCount(in);
    QVERIFY(pages > 0);
    QCOMPARE(PdfProbe::pageCount(out), pages);
    QCOMPARE(PdfProbe::mupdfPageCount(out), pages);

    // No error that the input did not have already; an input that qpdf can't read or list the pages
    // of is read back from its copy without any error.
    ProcessResult checkIn = PdfProbe::check(in);
    ProcessResult checkOut = PdfProbe::check(out);
    if (checkOut.exitCode != 0)
        QVERIFY2(checkIn.exitCode != 0, checkOut.out.constData());
    QVERIFY2(checkOut.exitCode != 2 || checkIn.exitCode == 2, checkOut.out.constData());
    KeptTraits kept;
    bool qpdfListsInput = true;
    try {
        kept = KeptTraits::of(in);
        qpdfListsInput = kept.annotations.size() == pages;
    } catch (std::exception&) {
        qpdfListsInput = false;
    }
    if (!qpdfListsInput)
        QVERIFY2(checkOut.exitCode == 0, checkOut.out.constData());

    // Sample the first and last page and the first page of every other shape or turn.
    const QList<DisplayedPage> shown = PdfProbe::displayedPages(out, pages);
    // Everything else is kept: annotations, forms, outlines, labels, metadata, encryption, object
    // streams.
    const KeptTraits got = KeptTraits::of(out);
    if (outsideTree)
        kept.annotations = got.annotations; // its pages are out of qpdf's sight
    else if (!qpdfListsInput)
        kept = got; // qpdf can't read it: nothing to compare with
    QCOMPARE(got.annotations, kept.annotations);
    QCOMPARE(got.catalogKeys, kept.catalogKeys);
    QCOMPARE(got.formFields, kept.formFields);
    QCOMPARE(got.encrypted, kept.encrypted);
    QCOMPARE(got.encryptionR, kept.encryptionR);
    QCOMPARE(got.objectStreams, kept.objectStreams);

    // A file that reads cleanly is numbered by appending an update to its unchanged bytes, with a
    // cross-reference section of the kind it ended with; the document keeps its identifier and the
    // revision gets a new one.
    const QByteArray inBytes = ReadAll(in), outBytes = ReadAll(out);
    const bool appended = outBytes.startsWith(inBytes);
    if (checkIn.exitCode == 0 || appended) {
        QCOMPARE(appended, !ExpectedRewrites().contains(name));
        if (appended) {
            QCOMPARE(LastSectionKind(outBytes), LastSectionKind(inBytes));
            QVERIFY(!LastSectionKind(outBytes).isEmpty());
            QVERIFY(!got.secondId.isEmpty() && got.secondId != kept.secondId);
            if (!kept.firstId.isEmpty())
                QCOMPARE(got.firstId, kept.firstId);
            // A linearized input's warnings about its hint tables go: it is no longer linearized.
            // A page content stream that fails to decode is an error to qpdf; drawn as a form
            // XObject in the copy, the same stream is only a warning (exit code 3 after 2).
            QVERIFY2(checkOut.exitCode == 0 || checkOut.exitCode == checkIn.exitCode ||
                         (checkOut.exitCode == 3 && checkIn.exitCode == 2),
                     checkOut.out.constData());
        }
    }
    const QList<double>& units = got.userUnits;
    QCOMPARE(units.size(), pages);
    QList<int> sample{1};
    QSet<QString> shapes;
    for (int p = 1; p <= pages && sample.size() < 6; ++p) {
        QString shape = shown[p - 1].cropBox + Num(shown[p - 1].rotate) + "/" + Num(units[p - 1]);
        if (!shapes.contains(shape) && p != 1)
            sample.append(p);
        shapes.insert(shape);
    }
    if (!sample.contains(pages))
        sample.append(pages);

    QString original = in;
    if (outsideTree) {
        original = dir.filePath("copy-without-number.pdf");
        QVERIFY(WriteCopyWithoutNumber(out, original));
    }
    for (int p : sample) {
        const NumberPlacement place{QString::number(style.first + p - 1), style.left, style.bottom,
                                    style.size, units[p - 1]};
        const QString problem = CheckPageNumber(original, out, p, shown[p - 1], place);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
    }
}

QTEST_GUILESS_MAIN(StamperCorpusTest)
#include "test_stamper_corpus.moc"
