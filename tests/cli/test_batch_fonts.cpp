// numbrel --batch printing text in other scripts: the real program, its copies judged by pdffonts,
// pdftotext and mutool; damaged fonts refused before anything is written.
#include "PdfProbe.h"
#include "TempTree.h"
#include "TestHome.h"

#include <QProcess>
#include <QtTest>

#include <algorithm>

namespace {
const QString kDejaVu = QStringLiteral("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf");

struct Batch {
    int exitCode = -1;
    QString err;
};

Batch runBatch(const QStringList& args) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    p.setProcessEnvironment(env);
    p.start(BuiltProgramFolder() + QStringLiteral("/numbrel"), QStringList{QStringLiteral("--batch")} + args);
    Batch b;
    if (!p.waitForFinished(300000) || p.exitStatus() != QProcess::NormalExit)
        return b;
    b.exitCode = p.exitCode();
    b.err = QString::fromUtf8(p.readAllStandardError());
    return b;
}

// A real file of 5 * `copies` pages: the five-page sample, as qpdf joins its copies.
bool makePdf(const QString& path, int copies) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QStringList args{QStringLiteral("--empty"), QStringLiteral("--pages")};
    for (int k = 0; k < copies; ++k)
        args << BuiltProgramFolder() + QStringLiteral("/Samples/Sample-Report.pdf") << QStringLiteral("1-5");
    return RunProgram(QStringLiteral("qpdf"), args << QStringLiteral("--") << path).exitCode == 0;
}

QString pageText(const QString& program, const QString& path, int page) {
    const QString n = QString::number(page);
    const QStringList args = program == QLatin1String("pdftotext")
                                 ? QStringList{"-f", n, "-l", n, path, "-"}
                                 : QStringList{"draw", "-q", "-F", "txt", "-o", "-", path, n};
    return QString::fromUtf8(RunProgram(program, args).out).simplified();
}

// Lines of pdffonts for the fonts embedded in the file.
QStringList embeddedFonts(const QString& path) {
    QStringList embedded;
    const QStringList lines =
        QString::fromUtf8(RunProgram(QStringLiteral("pdffonts"), {path}).out).split('\n');
    for (const QString& line : lines.mid(2)) {
        const QStringList f = line.simplified().split(' ');
        // name type [type] encoding emb sub uni object generation
        if (f.size() >= 7 && f.at(f.size() - 5) == QLatin1String("yes"))
            embedded << f.first();
    }
    return embedded;
}

bool rightToLeft(const QString& word) {
    return std::any_of(word.begin(), word.end(),
                       [](QChar c) { return c.direction() == QChar::DirR || c.direction() == QChar::DirAL; });
}

// poppler lays right-to-left words out in its own visual order (spaces and digits may move), marked
// as embeddings; its last letters, sorted, must be the text's letters.
QString lettersSorted(QString text, qsizetype count) {
    for (QChar mark : {QChar(0x202A), QChar(0x202B), QChar(0x202C), QChar(0x202D), QChar(0x202E), QChar(' ')})
        text.remove(mark);
    text = text.right(count);
    std::sort(text.begin(), text.end());
    return text;
}

} // namespace

class BatchFontsTest : public QObject {
    Q_OBJECT
private slots:
    void scriptsReadBackAsWritten_data() {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("font");
        QTest::addColumn<QString>("page3");
        QTest::newRow("Cyrillic") << "Страница {n} из {total}"
                                  << ""
                                  << "Страница 3 из 30";
        QTest::newRow("Greek") << "Σελίδα {n} από {total}"
                               << ""
                               << "Σελίδα 3 από 30";
        QTest::newRow("Chinese") << "第{n}页，共{total}页"
                                 << ""
                                 << "第3页，共30页";
        QTest::newRow("Arabic") << "صفحة {n} من {total}"
                                << ""
                                << "صفحة 3 من 30";
        QTest::newRow("Hebrew") << "עמוד {n} מתוך {total}"
                                << ""
                                << "עמוד 3 מתוך 30";
        QTest::newRow("two scripts, font named") << "Стр. {n} · 第{n}页"
                                                 << "WenQuanYi Micro Hei"
                                                 << "Стр. 3 · 第3页";
        QTest::newRow("collection face by index") << "第{n}页"
                                                  << "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc:1"
                                                  << "第3页";
    }
    void scriptsReadBackAsWritten() {
        QFETCH(QString, format);
        QFETCH(QString, font);
        QFETCH(QString, page3);
        TempTree t;
        QVERIFY(makePdf(t.abs("in.pdf"), 6));
        QStringList args{"-o", t.abs("out"), "--format", format, t.abs("in.pdf")};
        if (!font.isEmpty())
            args << "--font" << font;
        const Batch b = runBatch(args);
        QVERIFY2(b.exitCode == 0, qPrintable(b.err));
        const QString out = t.abs("out/in.pdf");
        QCOMPARE(PdfProbe::check(out).exitCode, 0);

        const QStringList fonts = embeddedFonts(out);
        QCOMPARE(fonts.size(), 1); // the sample embeds none; one subset serves all pages
        QVERIFY2(QRegularExpression(QStringLiteral("^[A-Z]{6}\\+")).match(fonts.first()).hasMatch(),
                 qPrintable(fonts.first()));
        // A subset, not the whole font: the sample plus at most 40 KB.
        QVERIFY2(QFileInfo(out).size() - QFileInfo(t.abs("in.pdf")).size() <= 40 * 1024,
                 qPrintable(QString::number(QFileInfo(out).size())));

        for (int page : {1, 3, 30}) {
            const QString expected = QString(format)
                                         .replace(QLatin1String("{n}"), QString::number(page))
                                         .replace(QLatin1String("{total}"), QLatin1String("30"));
            if (page == 3)
                QCOMPARE(expected, page3);
            const QString mupdf = pageText(QStringLiteral("mutool"), out, page);
            QVERIFY2(mupdf.endsWith(expected), qPrintable(mupdf.right(60) + " / " + expected));
            const QString poppler = pageText(QStringLiteral("pdftotext"), out, page);
            if (rightToLeft(expected)) {
                const QString letters = QString(expected).remove(QLatin1Char(' '));
                QVERIFY2(lettersSorted(poppler, letters.size()) == lettersSorted(letters, letters.size()),
                         qPrintable(poppler.right(60)));
            } else {
                QVERIFY2(poppler.endsWith(expected), qPrintable(poppler.right(60) + " / " + expected));
            }
        }
    }

    // The placement measures the embedded font: the text's right edge at the margin from the right
    // edge of the page, for poppler's word boxes.
    void placedByRealWidths_data() {
        QTest::addColumn<QString>("format");
        QTest::newRow("Cyrillic") << "Страница {n} из {total}";
        QTest::newRow("Chinese") << "第{n}页";
        // Arabic too lands right (MuPDF's character boxes end at the margin), but poppler's word
        // boxes of right-to-left text are not where its glyphs are drawn.
    }
    void placedByRealWidths() {
        QFETCH(QString, format);
        TempTree t;
        QVERIFY(makePdf(t.abs("in.pdf"), 1));
        const Batch b = runBatch({"-o", t.abs("out"), "--position", "bottom-right", "--margin", "20,20",
                                  "--format", format, t.abs("in.pdf")});
        QVERIFY2(b.exitCode == 0, qPrintable(b.err));
        const DisplayedPage page = PdfProbe::displayedPages(t.abs("out/in.pdf"), 1).value(0);
        double right = 0;
        for (const PdfWord& w : PdfProbe::words(t.abs("out/in.pdf"), 1))
            if (w.yMin > page.height - 40)
                right = std::max(right, w.xMax);
        QVERIFY2(std::abs(right - (page.width - 20)) < 0.75, qPrintable(QString::number(right)));
    }

    void latinStaysHelvetica() {
        TempTree t;
        QVERIFY(makePdf(t.abs("in.pdf"), 1));
        QCOMPARE(runBatch({"-o", t.abs("out"), "--format", "Seite {n} – {total}", t.abs("in.pdf")}).exitCode,
                 0);
        QVERIFY(embeddedFonts(t.abs("out/in.pdf")).isEmpty());
        QVERIFY(QString::fromUtf8(RunProgram(QStringLiteral("pdffonts"), {t.abs("out/in.pdf")}).out)
                    .contains(QLatin1String("Helvetica")));
        // A font asked for by name is used even for text Helvetica could draw.
        QCOMPARE(runBatch({"-o", t.abs("out2"), "--font", kDejaVu, "--format", "Seite {n}", t.abs("in.pdf")})
                     .exitCode,
                 0);
        QCOMPARE(embeddedFonts(t.abs("out2/in.pdf")).size(), 1);
        QCOMPARE(pageText(QStringLiteral("mutool"), t.abs("out2/in.pdf"), 2).right(7),
                 QStringLiteral("Seite 2"));
    }

    // The part of a batch writes the bytes the whole run writes; an encrypted file goes through
    // qpdf's model and gets the same font.
    void partsAndBothWays() {
        TempTree t;
        QVERIFY(makePdf(t.abs("in/a.pdf"), 2));
        QVERIFY(makePdf(t.abs("in/b.pdf"), 3));
        QVERIFY(RunProgram(QStringLiteral("qpdf"),
                           {"--encrypt", "", "owner", "256", "--", t.abs("in/a.pdf"), t.abs("in/c.pdf")})
                    .exitCode == 0);
        const QStringList common{"--continue",      "--format",        "Страница {n}",
                                 t.abs("in/a.pdf"), t.abs("in/b.pdf"), t.abs("in/c.pdf")};
        QCOMPARE(runBatch(QStringList{"-o", t.abs("whole"), "--jobs", "2"} + common).exitCode, 0);
        for (const char* part : {"1/2", "2/2"})
            QCOMPARE(runBatch(QStringList{"-o", t.abs("parts"), "--part", part} + common).exitCode, 0);
        for (const char* name : {"a.pdf", "b.pdf", "c.pdf"})
            QCOMPARE(ReadAll(t.abs("parts/") + name), ReadAll(t.abs("whole/") + name));
        QCOMPARE(embeddedFonts(t.abs("whole/c.pdf")).size(), 1);
        for (const QString& program : {QStringLiteral("mutool"), QStringLiteral("pdftotext")}) {
            const QString c = pageText(program, t.abs("whole/c.pdf"), 10);
            QVERIFY2(c.endsWith(QStringLiteral("Страница 35")), qPrintable(c.right(40)));
            const QString b = pageText(program, t.abs("whole/b.pdf"), 1);
            QVERIFY2(b.endsWith(QStringLiteral("Страница 11")), qPrintable(b.right(40)));
        }
    }

    void damagedFontsRefused_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("message");
        const QByteArray font = ReadAll(kDejaVu);
        QVERIFY(font.size() > 100000);
        QTest::newRow("empty") << QByteArray() << "is no TrueType or OpenType font";
        QTest::newRow("text") << QByteArray("not a font at all\n") << "is no TrueType or OpenType font";
        QTest::newRow("table directory only") << font.left(300) << "is damaged";
        QTest::newRow("cut in half") << font.left(font.size() / 2) << "is damaged";
        QByteArray header = font;
        header.replace(header.indexOf("head") + 8, 8, QByteArray(8, '\xff')); // head's offset and length
        QTest::newRow("header pointing nowhere") << header << "is damaged";
        // Every glyph's outline overwritten: the glyphs the text needs are gone.
        QByteArray outlines = font;
        const int glyf = outlines.indexOf("glyf");
        const auto be32 = [&](int at) {
            return quint32(uchar(outlines[at])) << 24 | quint32(uchar(outlines[at + 1])) << 16 |
                   quint32(uchar(outlines[at + 2])) << 8 | quint32(uchar(outlines[at + 3]));
        };
        outlines.replace(int(be32(glyf + 8)), int(be32(glyf + 12)), QByteArray(int(be32(glyf + 12)), '\0'));
        QTest::newRow("outlines zeroed") << outlines << "is damaged";
    }
    void damagedFontsRefused() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, message);
        TempTree t;
        QVERIFY(makePdf(t.abs("in.pdf"), 1));
        QVERIFY(WriteAll(t.abs("bad.ttf"), bytes));
        const Batch b = runBatch(
            {"-o", t.abs("out"), "--font", t.abs("bad.ttf"), "--format", "Страница {n}", t.abs("in.pdf")});
        QCOMPARE(b.exitCode, 2);
        QVERIFY2(b.err.contains(message), qPrintable(b.err));
        QCOMPARE(b.err.count(QLatin1Char('\n')), 1);
        QVERIFY(!QFileInfo::exists(t.abs("out")));
    }
};

QTEST_GUILESS_MAIN(BatchFontsTest)
#include "test_batch_fonts.moc"
