// --page-labels: the label a viewer shows in its page box is the text printed on the page, as qpdf's
// JSON and PyMuPDF read the labels back, through both of the engine's ways; runs that a prefix and a
// style express are one label range; a signed file keeps its signature.

#include "NumberPdfFile.h"
#include "OptionTable.h"
#include "PageLabels.h"
#include "PdfProbe.h"
#include "PdfWriter.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

namespace {
// `pages` empty pages, with `catalogEntries` in the catalog.
QByteArray File(int pages, const QByteArray& catalogEntries = {}) {
    QList<QByteArray> objects = {"<< /Type /Catalog /Pages 2 0 R " + catalogEntries + " >>", ""};
    QByteArray kids;
    for (int k = 0; k < pages; ++k) {
        kids += QByteArray::number(objects.size() + 1) + " 0 R ";
        objects.append("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Contents " +
                       QByteArray::number(objects.size() + 2) + " 0 R >>");
        objects.append(PdfStream("0 0 1 1 re f\n"));
    }
    objects[1] = "<< /Type /Pages /Kids [" + kids + "] /Count " + QByteArray::number(pages) + " >>";
    return ClassicFile(objects, "/Root 1 0 R");
}

struct Labels {
    QStringList labels;
    int ranges = 0;
};

// The labels as qpdf reads the number tree: each page's range's prefix and its number in its style.
Labels QpdfLabels(const QString& path, int pages) {
    const ProcessResult r = RunProgram("qpdf", {"--json", "--json-key=pagelabels", path});
    const QJsonArray ranges = QJsonDocument::fromJson(r.out).object().value("pagelabels").toArray();
    Labels l;
    l.ranges = int(ranges.size());
    for (int page = 0; page < pages; ++page) {
        QJsonObject range;
        int start = 0;
        for (const QJsonValue& v : ranges)
            if (v.toObject().value("index").toInt() <= page) {
                range = v.toObject().value("label").toObject();
                start = v.toObject().value("index").toInt();
            }
        QString prefix = range.value("/P").toString();
        if (prefix.startsWith("u:"))
            prefix = prefix.mid(2);
        const QString style = range.value("/S").toString();
        const long long value = range.value("/St").toInteger(1) + (page - start);
        const char s = style.isEmpty() ? 0 : style.at(1).toLatin1();
        l.labels.append(prefix + (s ? QString::fromStdString(LabelNumeral(s, value)) : QString()));
    }
    return l;
}

// PyMuPDF's get_label, from Debian's python3-fitz.
QStringList MupdfLabels(const QString& path) {
    const ProcessResult r =
        RunProgram("/usr/bin/python3",
                   {"-c", "import fitz, sys\nfor p in fitz.open(sys.argv[1]): print(p.get_label())", path});
    return QString::fromUtf8(r.out).split('\n', Qt::SkipEmptyParts);
}

// As the tool reads them: a format in Windows-1252 bytes, which the standard font draws (the batch
// converts its UTF-8 the same way for text without an embedded font).
void Set(StampOptions& o, const char* name, const std::string& value) {
    const StampOptionRow* row = FindStampOption(name);
    row->read(o, row->info, value, name, OptionDialect::Tool);
}
} // namespace

class PageLabelsTest : public QObject {
    Q_OBJECT

private slots:
    void labels_data();
    void labels();
    void signedFileKeepsItsSignature();
    void tree_data();
    void tree();
};

void PageLabelsTest::labels_data() {
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("digits");
    QTest::addColumn<int>("first");
    QTest::addColumn<QByteArray>("catalog");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<int>("ranges");
    QTest::addColumn<bool>("mupdf"); // PyMuPDF 1.21 cuts a prefix at a "/" and prints UTF-16 as hex
    QTest::newRow("number alone") << "{n}" << 0 << 1 << QByteArray() << QStringList{"1", "2", "3", "4"} << 1
                                  << true;
    QTest::newRow("Bates prefix") << "ABC-{n}" << 0 << 100 << QByteArray()
                                  << QStringList{"ABC-100", "ABC-101", "ABC-102", "ABC-103"} << 1 << true;
    // Labels print no leading zeros: a zero of the padding that goes goes into a new prefix.
    QTest::newRow("padded across a power of ten")
        << "ABC{n}" << 6 << 98 << QByteArray()
        << QStringList{"ABC000098", "ABC000099", "ABC000100", "ABC000101"} << 2 << true;
    QTest::newRow("text after the number")
        << "Page {n} of {total}" << 0 << 1 << QByteArray()
        << QStringList{"Page 1 of 4", "Page 2 of 4", "Page 3 of 4", "Page 4 of 4"} << 4 << true;
    QTest::newRow("slash") << "{n}/{total}" << 0 << 1 << QByteArray()
                           << QStringList{"1/4", "2/4", "3/4", "4/4"} << 4 << false;
    QTest::newRow("negative numbers")
        << "{n}" << 0 << -2 << QByteArray() << QStringList{"-2", "-1", "0", "1"} << 4 << true;
    QTest::newRow("Windows-1252 text")
        << "Seite {n} – Ä" << 0 << 1 << QByteArray()
        << QStringList{"Seite 1 – Ä", "Seite 2 – Ä", "Seite 3 – Ä", "Seite 4 – Ä"} << 4 << false;
    QTest::newRow("Windows-1252 prefix")
        << "€{n}" << 0 << 7 << QByteArray() << QStringList{"€7", "€8", "€9", "€10"} << 1 << false;
    // The input's own labels give way on every numbered page.
    QTest::newRow("input labelled") << "A-{n}" << 0 << 1
                                    << QByteArray(
                                           "/PageLabels << /Nums [0 << /S /r >> 2 << /S /D /P (x) >>] >>")
                                    << QStringList{"A-1", "A-2", "A-3", "A-4"} << 1 << true;
}

void PageLabelsTest::labels() {
    QFETCH(QString, format);
    QFETCH(int, digits);
    QFETCH(int, first);
    QFETCH(QByteArray, catalog);
    QFETCH(QStringList, expected);
    QFETCH(int, ranges);
    QFETCH(bool, mupdf);
    for (bool qpdfWay : {false, true}) {
        QTemporaryDir dir;
        const QString in = dir.filePath("in.pdf"), out = dir.filePath("out.pdf");
        QVERIFY(WriteAll(in, File(4, catalog)));
        StampOptions o;
        o.input = in.toStdString();
        o.output = out.toStdString();
        o.firstNumber = first;
        o.digits = digits;
        Set(o, "--format", format.toStdString());
        Set(o, "--page-labels", "");
        const NumberPdfResult r =
            NumberPdfFile(o, false, qpdfWay ? NumberingWay::QpdfOnly : NumberingWay::Quickest);
        QCOMPARE(r.pages, size_t(4));
        QVERIFY(r.appended);
        QCOMPARE(PdfProbe::check(out).exitCode, 0);
        const Labels l = QpdfLabels(out, 4);
        QCOMPARE(l.labels, expected);
        QCOMPARE(l.ranges, ranges);
        if (mupdf)
            QCOMPARE(MupdfLabels(out), expected);
        // The text printed is the label.
        for (int page = 1; page <= 4; ++page) {
            QStringList words;
            for (const PdfWord& w : PdfProbe::words(out, page))
                words.append(w.text);
            QCOMPARE(words.join(' '), expected.at(page - 1));
        }
    }
}

void PageLabelsTest::signedFileKeepsItsSignature() {
    QTemporaryDir dir;
    const QString in = QStringLiteral(NUMBREL_CORPUS_DIR "/qpdf/qpdf__qtest__qpdf__digitally-signed.pdf");
    for (bool qpdfWay : {false, true}) {
        const QString out = dir.filePath(qpdfWay ? "qpdf.pdf" : "quick.pdf");
        StampOptions o;
        o.input = in.toStdString();
        o.output = out.toStdString();
        Set(o, "--format", "S-{n}");
        Set(o, "--page-labels", "");
        const NumberPdfResult r =
            NumberPdfFile(o, false, qpdfWay ? NumberingWay::QpdfOnly : NumberingWay::Quickest);
        QVERIFY(r.signatureKept);
        const ProcessResult sig = RunProgram("pdfsig", {out});
        QVERIFY2(sig.out.contains("Signature Validation: Signature is Valid."), sig.out.constData());
        QStringList expected;
        for (size_t k = 1; k <= r.pages; ++k)
            expected.append(QStringLiteral("S-%1").arg(k));
        QCOMPARE(QpdfLabels(out, int(r.pages)).labels, expected);
    }
}

// The ranges the writer makes of what pages print (numbered: the text; unnumbered: "-" plain, or
// "=entries@start" for the input's range), for the styles that page numbers may print in.
void PageLabelsTest::tree_data() {
    QTest::addColumn<QStringList>("pages");
    QTest::addColumn<QString>("tree");
    QTest::newRow("roman") << QStringList{"i", "ii", "iii", "iv", "v"} << "<< /Nums [0 << /S /r >> ] >>";
    QTest::newRow("roman from 4") << QStringList{"IV", "V", "VI"} << "<< /Nums [0 << /S /R /St 4 >> ] >>";
    QTest::newRow("letters past z") << QStringList{"y", "z", "aa", "bb"}
                                    << "<< /Nums [0 << /S /a /St 25 >> ] >>";
    QTest::newRow("prefixed letters")
        << QStringList{"App. A", "App. B"} << "<< /Nums [0 << /S /A /P (App. ) >> ] >>";
    QTest::newRow("front matter, then decimal")
        << QStringList{"i", "ii", "1", "2"} << "<< /Nums [0 << /S /r >> 2 << /S /D >> ] >>";
    QTest::newRow("cover unnumbered, no labels before")
        << QStringList{"-", "-", "5", "6", "-"}
        << "<< /Nums [0 << /S /D >> 2 << /S /D /St 5 >> 4 << /S /D /St 5 >> ] >>";
    QTest::newRow("unnumbered keep the input's range")
        << QStringList{"=/S /r@3", "=/S /r@4", "A1", "=/S /r@6", "=/P (x)@1"}
        << "<< /Nums [0 << /S /r /St 3 >> 2 << /P (A1) >> 3 << /S /r /St 6 >> 4 << /P (x) >> ] >>";
}

void PageLabelsTest::tree() {
    QFETCH(QStringList, pages);
    std::vector<PageLabelPage> in;
    for (const QString& p : pages) {
        PageLabelPage page;
        if (p.startsWith('=')) {
            page.original = p.mid(1, p.indexOf('@') - 1).toStdString();
            page.originalStart = p.mid(p.indexOf('@') + 1).toLongLong();
        } else if (p != "-") {
            page.numbered = true;
            page.text = p.toStdString();
        }
        in.push_back(page);
    }
    QTEST(QString::fromStdString(PageLabelTree(in)), "tree");
}

QTEST_GUILESS_MAIN(PageLabelsTest)
#include "test_page_labels.moc"
