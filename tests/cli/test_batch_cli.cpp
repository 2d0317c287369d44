// numbrel --batch as a user runs it: the real program without a display, its copies read back with
// pdftotext and mutool, its manifest parsed, its parts run through GNU parallel.
#include "KilledAtRename.h"
#include "PdfProbe.h"
#include "TempTree.h"
#include "TestHome.h"
#include "Unprivileged.h"
#include "sys/PendingNames.h"

#include <QDirIterator>
#include <QProcess>
#include <QtTest>

#include <csignal>
#include <unistd.h>

namespace {
QString numbrel() {
    return BuiltProgramFolder() + QStringLiteral("/numbrel");
}

// The environment of a server: no display of any kind.
QProcessEnvironment headless() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    return env;
}

struct Batch {
    int exitCode = -1;
    QString out, err;
};

// asNobody: as root, run it as the account "nobody", for whom permissions hold.
Batch runBatch(const QStringList& args, const QString& workingFolder = QString(), bool asNobody = false) {
    QProcess p;
    p.setProcessEnvironment(headless());
    if (!workingFolder.isEmpty())
        p.setWorkingDirectory(workingFolder);
    const QStringList arguments = QStringList{QStringLiteral("--batch")} + args;
    if (asNobody && ::geteuid() == 0)
        p.start(QStringLiteral("setpriv"),
                QStringList{"--reuid=65534", "--regid=65534", "--clear-groups", numbrel()} + arguments);
    else
        p.start(numbrel(), arguments);
    Batch b;
    if (!p.waitForFinished(300000) || p.exitStatus() != QProcess::NormalExit)
        return b;
    b.exitCode = p.exitCode();
    b.out = QString::fromUtf8(p.readAllStandardOutput());
    b.err = QString::fromUtf8(p.readAllStandardError());
    return b;
}

QString sample(const char* name) {
    return BuiltProgramFolder() + QStringLiteral("/Samples/") + QLatin1String(name);
}

// A real file of `pages` pages: the first pages of the five-page sample, as qpdf copies them.
bool makePdf(const QString& path, int pages) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    return RunProgram(QStringLiteral("qpdf"),
                      {QStringLiteral("--empty"), QStringLiteral("--pages"), sample("Sample-Report.pdf"),
                       QStringLiteral("1-%1").arg(pages), QStringLiteral("--"), path})
               .exitCode == 0;
}

QString popplerText(const QString& path, int page) {
    const QString n = QString::number(page);
    return QString::fromUtf8(
               RunProgram(QStringLiteral("pdftotext"),
                          {QStringLiteral("-f"), n, QStringLiteral("-l"), n, path, QStringLiteral("-")})
                   .out)
        .simplified();
}

QString mupdfText(const QString& path, int page) {
    return QString::fromUtf8(
               RunProgram(QStringLiteral("mutool"),
                          {QStringLiteral("draw"), QStringLiteral("-F"), QStringLiteral("txt"),
                           QStringLiteral("-o"), QStringLiteral("-"), path, QString::number(page)})
                   .out)
        .simplified();
}

// The numbered page's own text is the sample's words; ours is what the original page lacks.
bool pageShows(const QString& path, int page, const QString& expected) {
    const QString poppler = popplerText(path, page), mupdf = mupdfText(path, page);
    if (poppler.contains(expected) && mupdf.contains(expected))
        return true;
    qWarning().noquote() << "page" << page << "of" << path << "poppler:" << poppler.right(80)
                         << "mupdf:" << mupdf.right(80) << "expected:" << expected;
    return false;
}

// Every file below `folder`, relative to it, sorted.
QStringList filesBelow(const QString& folder) {
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(QDir(folder).relativeFilePath(it.next()));
    files.sort();
    return files;
}

// A file of 5 * `times` pages: the five-page sample over and over.
bool makeLongPdf(const QString& path, int times) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QStringList args{QStringLiteral("--empty"), QStringLiteral("--pages")};
    for (int k = 0; k < times; ++k)
        args += QStringList{sample("Sample-Report.pdf"), QStringLiteral("1-5")};
    return RunProgram(QStringLiteral("qpdf"), args + QStringList{QStringLiteral("--"), path}).exitCode == 0;
}

// The page objects of a file, in page order, as "N G" (qpdf --show-pages: "page 1: 3 0 R").
QStringList pageObjects(const QString& path) {
    QStringList objects;
    const QString shown =
        QString::fromUtf8(RunProgram(QStringLiteral("qpdf"), {QStringLiteral("--show-pages"), path}).out);
    static const QRegularExpression line(QStringLiteral("^page \\d+: (\\d+ \\d+) R"),
                                         QRegularExpression::MultilineOption);
    for (auto it = line.globalMatch(shown); it.hasNext();)
        objects.append(it.next().captured(1));
    return objects;
}

// The Opticon file's lines, each split at its commas (it quotes nothing).
QList<QStringList> parseOpticon(const QByteArray& bytes) {
    QList<QStringList> lines;
    if (!bytes.endsWith("\r\n"))
        return lines;
    for (const QByteArray& line : bytes.chopped(2).split('\n'))
        lines.append(QString::fromUtf8(line.endsWith('\r') ? line.chopped(1) : line).split(QLatin1Char(',')));
    return lines;
}

// A Concordance DAT: a byte order mark, then CRLF rows of þ-quoted fields apart by 0x14. Nothing when
// it isn't one.
QList<QStringList> parseDat(const QByteArray& bytes, bool withBom = true) {
    QList<QStringList> rows;
    if ((withBom && !bytes.startsWith("\xEF\xBB\xBF")) || !bytes.endsWith("\r\n"))
        return rows;
    const QString thorn(QChar(0x00FE));
    const QString text = QString::fromUtf8(bytes.mid(withBom ? 3 : 0).chopped(2));
    for (const QString& line : text.split(QStringLiteral("\r\n"))) {
        QStringList row;
        for (const QString& field : line.split(QChar(0x14))) {
            if (field.size() < 2 || !field.startsWith(thorn) || !field.endsWith(thorn))
                return {};
            row.append(field.mid(1, field.size() - 2));
        }
        rows.append(row);
    }
    return rows;
}

// RFC 4180 rows: fields quoted when they hold a comma, quote or line break, quotes doubled.
QList<QStringList> parseCsv(const QByteArray& bytes) {
    QList<QStringList> rows;
    QStringList row;
    QString field;
    bool quoted = false;
    const QString text = QString::fromUtf8(bytes);
    for (qsizetype k = 0; k < text.size(); ++k) {
        const QChar c = text.at(k);
        if (quoted) {
            if (c == QLatin1Char('"') && k + 1 < text.size() && text.at(k + 1) == QLatin1Char('"'))
                field += c, ++k;
            else if (c == QLatin1Char('"'))
                quoted = false;
            else
                field += c;
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char(',')) {
            row.append(field), field.clear();
        } else if (c == QLatin1Char('\r') && k + 1 < text.size() && text.at(k + 1) == QLatin1Char('\n')) {
            row.append(field), field.clear();
            rows.append(row), row.clear();
            ++k;
        } else {
            field += c;
        }
    }
    return rows;
}
} // namespace

class TestBatchCli : public QObject {
    Q_OBJECT

private:
    TestHome home_;

    // A batch of three files of 2, 5 and 1 pages in `t`.
    QStringList threeFiles(const TempTree& t) {
        const QStringList files = t.abs(QStringList{"in/a.pdf", "in/b.pdf", "in/c.pdf"});
        const int pages[] = {2, 5, 1};
        for (int k = 0; k < 3; ++k)
            if (!makePdf(files.at(k), pages[k]))
                return {};
        return files;
    }

private slots:
    void usageMistakesTouchNothing_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        const QString in = QStringLiteral("IN");
        QTest::newRow("no output folder") << QStringList{in} << "no output folder";
        QTest::newRow("no inputs") << QStringList{"-o", "OUT"} << "no files or folders";
        QTest::newRow("unknown option") << QStringList{"-o", "OUT", "--fast", in} << "unknown option --fast";
        QTest::newRow("value missing") << QStringList{in, "-o"} << "--output needs a value";
        QTest::newRow("first not a number")
            << QStringList{"-o", "OUT", "--first", "1e3", in} << "--first \"1e3\" is not a whole number";
        QTest::newRow("first out of range")
            << QStringList{"-o", "OUT", "--first=9999999999999", in} << "out of range";
        QTest::newRow("size zero") << QStringList{"-o", "OUT", "--size", "0", in}
                                   << "--size \"0\" is out of range";
        QTest::newRow("left not a number")
            << QStringList{"-o", "OUT", "--left", "ten", in} << "--left \"ten\" is not a number";
        QTest::newRow("bottom infinite") << QStringList{"-o", "OUT", "--bottom", "inf", in} << "--bottom";
        QTest::newRow("colour by name") << QStringList{"-o", "OUT", "--color", "red", in}
                                        << "--color \"red\" is neither #RRGGBB nor R,G,B";
        QTest::newRow("colour two parts") << QStringList{"-o", "OUT", "--color", "1,2", in} << "neither";
        QTest::newRow("colour component")
            << QStringList{"-o", "OUT", "--color", "0,256,0", in} << "--color green \"256\" is out of range";
        QTest::newRow("colour short hex") << QStringList{"-o", "OUT", "--color", "#fff", in} << "neither";
        QTest::newRow("format empty") << QStringList{"-o", "OUT", "--format", "", in} << "--format is empty";
        QTest::newRow("font missing") << QStringList{"-o", "OUT", "--font", "IN/none.ttf", "--format", "Ω {n}", in}
                                      << "IN/none.ttf does not exist";
        QTest::newRow("font no font") << QStringList{"-o", "OUT", "--font", "IN/a.pdf", "--format", "Ω {n}", in}
                                      << "is no TrueType or OpenType font";
        QTest::newRow("font name unknown")
            << QStringList{"-o", "OUT", "--font", "No Such Family", "--format", "Ω {n}", in}
            << "no installed font is named \"No Such Family\"";
        QTest::newRow("font lacks a character")
            << QStringList{"-o", "OUT", "--font", "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", "--format",
                           "第{n}页", in}
            << "has no glyph for U+7B2C (第), which --format holds";
        QTest::newRow("collection index")
            << QStringList{"-o", "OUT", "--font", "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc:7", in}
            << "holds 2 fonts: its index must be 0 to 1";
        QTest::newRow("no font has it") << QStringList{"-o", "OUT", "--format", "\U0010FFFD {n}", in}
                                        << "no installed font has U+10FFFD";
        QTest::newRow("format line break") << QStringList{"-o", "OUT", "--format", "a\n{n}", in} << "U+000A";
        QTest::newRow("format unknown field")
            << QStringList{"-o", "OUT", "--format", "{page}", in} << "{page} is none of {n}, {last}";
        QTest::newRow("format unknown style")
            << QStringList{"-o", "OUT", "--format", "p. {n:greek}", in} << "{n:greek} is none of";
        QTest::newRow("roman from zero")
            << QStringList{"-o", "OUT", "--format", "{n:roman}", "--first", "0", in}
            << "roman numerals and letters print numbers from 1";
        QTest::newRow("pages zero") << QStringList{"-o", "OUT", "--pages", "0", in}
                                    << "--pages \"0\" is not a page selection";
        QTest::newRow("pages backwards")
            << QStringList{"-o", "OUT", "--pages", "3-2", in} << "not a page selection";
        QTest::newRow("pages word") << QStringList{"-o", "OUT", "--pages", "first", in}
                                    << "not a page selection";
        QTest::newRow("opticon without continue")
            << QStringList{"-o", "OUT", "--opticon", "p.opt", in} << "--opticon goes with --continue";
        QTest::newRow("dat without continue")
            << QStringList{"-o", "OUT", "--dat", "p.dat", in} << "--dat goes with --continue";
        QTest::newRow("volume without opticon")
            << QStringList{"-o", "OUT", "--continue", "--volume", "V1", in} << "--volume goes with --opticon";
        QTest::newRow("load file among the inputs")
            << QStringList{"-o", "OUT", "--continue", "--opticon", "IN/sub/p.opt", in}
            << "lies among the inputs";
        QTest::newRow("load file is an input")
            << QStringList{"-o", "OUT", "--continue", "--dat", "IN/a.pdf", "IN/a.pdf"}
            << "lies among the inputs";
        QTest::newRow("load file is a copy")
            << QStringList{"-o", "OUT", "--continue", "--dat", "OUT/a.pdf", in} << "would replace";
        QTest::newRow("load file is the manifest")
            << QStringList{"-o", "OUT", "--continue", "--dat", "m.csv", "--manifest", "m.csv", in}
            << "for a load file and for the manifest";
        QTest::newRow("load files without a number")
            << QStringList{"-o", "OUT", "--continue", "--format", "Exhibit", "--opticon", "p.opt", in}
            << "--format must print {n}";
        QTest::newRow("comma in an Opticon key")
            << QStringList{"-o", "OUT", "--continue", "--format", "A,{n}", "--opticon", "p.opt", in}
            << "holds a comma, which --opticon can't hold";
        QTest::newRow("thorn in a DAT field")
            << QStringList{"-o", "OUT", "--continue", "--format", "þ{n}", "--dat", "p.dat", in}
            << "which --dat can't hold";
        QTest::newRow("digits") << QStringList{"-o", "OUT", "--digits", "21", in}
                                << "--digits \"21\" is out of range";
        QTest::newRow("jobs zero") << QStringList{"-o", "OUT", "--jobs", "0", in}
                                   << "--jobs \"0\" is out of range";
        QTest::newRow("part beyond") << QStringList{"-o", "OUT", "--part", "4/3", in} << "K must be 1 to N";
        QTest::newRow("part form") << QStringList{"-o", "OUT", "--part", "2", in} << "is not K/N";
        QTest::newRow("plan alone") << QStringList{"-o", "OUT", "--plan", "P", in}
                                    << "--plan goes with --continue";
        QTest::newRow("twice") << QStringList{"-o", "OUT", "--first", "1", "--first", "2", in}
                               << "--first is given more than once";
        QTest::newRow("flag with value")
            << QStringList{"-o", "OUT", "--quiet=yes", in} << "--quiet takes no value";
        QTest::newRow("position") << QStringList{"-o", "OUT", "--position", "middle", in} << "is none of";
        QTest::newRow("box") << QStringList{"-o", "OUT", "--box=paper", in} << "--box \"paper\" is none of";
        QTest::newRow("background") << QStringList{"-o", "OUT", "--background", "navy", in} << "neither";
        QTest::newRow("left at the right")
            << QStringList{"-o", "OUT", "--position", "top-right", "--left", "5", in}
            << "--left measures from the left edge";
        QTest::newRow("margin and bottom") << QStringList{"-o", "OUT", "--bottom", "5", "--margin", "5,5", in}
                                           << "--margin and --bottom both set the margins";
        QTest::newRow("missing input") << QStringList{"-o", "OUT", "IN/none.pdf"} << "no such file or folder";
        QTest::newRow("same file twice")
            << QStringList{"-o", "OUT", "IN/a.pdf", "IN/a.pdf"} << "is given twice";
        QTest::newRow("same name from two folders")
            << QStringList{"-o", "OUT", "IN/a.pdf", "IN/sub/a.pdf"} << "would both be written to";
        QTest::newRow("file also in a given folder")
            << QStringList{"-o", "OUT", "IN", "IN/a.pdf"} << "is given twice";
        QTest::newRow("output replaces input")
            << QStringList{"-o", "IN", "IN/a.pdf"} << "would replace an input; give --overwrite";
        QTest::newRow("output folder is a file")
            << QStringList{"-o", "IN/a.pdf", "IN/sub"} << "the output folder is a file";
        QTest::newRow("plan missing")
            << QStringList{"-o", "OUT", "--continue", "--plan", "none.plan", "--part", "1/2", in}
            << "cannot be read";
    }
    void usageMistakesTouchNothing() {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        TempTree t;
        QVERIFY(makePdf(t.abs("IN/a.pdf"), 2));
        QVERIFY(makePdf(t.abs("IN/sub/a.pdf"), 1));
        const QByteArray before = ReadAll(t.abs("IN/a.pdf"));
        const Batch b = runBatch(args, t.root());
        QCOMPARE(b.exitCode, 2);
        QVERIFY2(b.err.contains(message), qPrintable(b.err));
        // One line, naming the program.
        QCOMPARE(b.err.count(QLatin1Char('\n')), 1);
        QVERIFY(b.err.startsWith(QLatin1String("numbrel: ")));
        QVERIFY(!QFileInfo::exists(t.abs("OUT")));
        QCOMPARE(filesBelow(t.abs("IN")), (QStringList{"a.pdf", "sub/a.pdf"}));
        QCOMPARE(ReadAll(t.abs("IN/a.pdf")), before);
    }

    // The list that the manual page and the completion are made from: one line of five fields per
    // option, every one of them an option the command line knows.
    void optionListNamesEveryOption() {
        QProcess p;
        p.setProcessEnvironment(headless());
        p.start(numbrel(), {QStringLiteral("--batch"), QStringLiteral("--list-options")});
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 0);
        const QStringList lines =
            QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QStringList names;
        for (const QString& line : lines) {
            const QStringList fields = line.split(QLatin1Char('\t'));
            QCOMPARE(fields.size(), 5);
            names.append(fields.at(0));
            QVERIFY2(!fields.at(4).isEmpty(), qPrintable(line));
            // A value with choices has its default among them.
            if (!fields.at(3).isEmpty() && !fields.at(2).isEmpty())
                QVERIFY(fields.at(3).split(QLatin1Char(',')).contains(fields.at(2)));
        }
        for (const char* name :
             {"--output", "--first", "--jobs", "--manifest", "--position", "--box", "--mirror", "--margin",
              "--background", "--page-labels", "--plan", "--quiet"})
            QVERIFY2(names.contains(QLatin1String(name)), name);
        TempTree t;
        for (const QString& line : lines) {
            const QStringList f = line.split(QLatin1Char('\t'));
            if (f.at(0) == QLatin1String("--help") || f.at(1).isEmpty())
                continue;
            // Any option given a value it cannot take is refused by name: the parser knows it.
            const Batch b = runBatch(
                {f.at(0) + QStringLiteral("=\x01"), QStringLiteral("-o"), t.abs("OUT"), t.abs("x.pdf")});
            QCOMPARE(b.exitCode, 2);
            QVERIFY2(!b.err.contains(QLatin1String("unknown option")), qPrintable(b.err));
        }
    }

    void helpDocumentsBothWays() {
        for (const QStringList& args : {QStringList{"--help"}, QStringList{"--batch", "--help"}}) {
            QProcess p;
            p.setProcessEnvironment(headless());
            p.start(numbrel(), args);
            QVERIFY(p.waitForFinished(30000));
            QCOMPARE(p.exitCode(), 0);
            const QString help = QString::fromUtf8(p.readAllStandardOutput());
            QVERIFY(help.contains(QLatin1String("--batch -o OUTDIR [options] (FILE|FOLDER)...")));
            QVERIFY(help.contains(QLatin1String("--continue")));
        }
    }

    // Without --continue every file starts at the first number; with it the numbers run on.
    void numbersAcrossFiles_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QList<int>>("firsts");
        QTest::newRow("each file from 1") << QStringList{} << QList<int>{1, 1, 1};
        QTest::newRow("continue") << QStringList{"--continue"} << QList<int>{1, 3, 8};
        QTest::newRow("continue from 10, one job")
            << QStringList{"--continue", "--first", "10", "--jobs", "1"} << QList<int>{10, 12, 17};
        QTest::newRow("continue, many jobs")
            << QStringList{"--continue", "--jobs", "8"} << QList<int>{1, 3, 8};
    }
    void numbersAcrossFiles() {
        QFETCH(QStringList, options);
        QFETCH(QList<int>, firsts);
        TempTree t;
        const QStringList files = threeFiles(t);
        QVERIFY(!files.isEmpty());
        const Batch b = runBatch(QStringList{"-o", t.abs("out")} + options + files);
        QVERIFY2(b.exitCode == 0, qPrintable(b.err));
        const int pages[] = {2, 5, 1};
        for (int f = 0; f < 3; ++f) {
            const QString copy = t.abs("out/") + QFileInfo(files.at(f)).fileName();
            QCOMPARE(PdfProbe::pageCount(copy), pages[f]);
            for (int p = 1; p <= pages[f]; ++p) {
                const QStringList words = popplerText(copy, p).split(QLatin1Char(' '));
                QVERIFY2(words.contains(QString::number(firsts.at(f) + p - 1)), qPrintable(words.join(' ')));
                QVERIFY(!words.contains(QString::number(firsts.at(f) + p)));
            }
        }
    }

    void formatAsPrintedAndExtracted_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QStringList>("expected"); // pages 1 and 5 of the five-page "Bericht (Q3).pdf"
        QTest::newRow("Bates") << QStringList{"--format", "ABC-{n}", "--digits", "6"}
                               << QStringList{"ABC-000001", "ABC-000005"};
        QTest::newRow("page of total")
            << QStringList{"--format", "Page {n} of {total}"} << QStringList{"Page 1 of 5", "Page 5 of 5"};
        QTest::newRow("file name, Latin-1")
            << QStringList{"--format", "{file} · Seite {n}/{total} – ©"}
            << QStringList{"Bericht (Q3) · Seite 1/5 – ©", "Bericht (Q3) · Seite 5/5 – ©"};
        QTest::newRow("accents and euro") << QStringList{"--format", "Überblick Ñ € {n}", "--first", "41"}
                                          << QStringList{"Überblick Ñ € 41", "Überblick Ñ € 45"};
        QTest::newRow("brackets and backslash")
            << QStringList{"--format", "(\\{n})", "--digits", "3", "--first", "-2"}
            << QStringList{"(\\-002)", "(\\002)"};
        QTest::newRow("digits alone") << QStringList{"--digits", "4"} << QStringList{"0001", "0005"};
    }
    void formatAsPrintedAndExtracted() {
        QFETCH(QStringList, options);
        QFETCH(QStringList, expected);
        TempTree t;
        const QString input = t.abs("in/Bericht (Q3).pdf");
        QVERIFY(makePdf(input, 5));
        const Batch b = runBatch(QStringList{"-o", t.abs("out")} + options + QStringList{input});
        QVERIFY2(b.exitCode == 0, qPrintable(b.err));
        const QString copy = t.abs("out/Bericht (Q3).pdf");
        QVERIFY(pageShows(copy, 1, expected.at(0)));
        QVERIFY(pageShows(copy, 5, expected.at(1)));
        QCOMPARE(PdfProbe::check(copy).exitCode, 0);
    }

    // --left, --bottom, --size and --color as poppler places and paints the number.
    void placementAndColour_data() {
        QTest::addColumn<QString>("color");
        QTest::newRow("hex") << QStringLiteral("#E01020");
        QTest::newRow("components") << QStringLiteral("224,16,32");
    }
    void placementAndColour() {
        QFETCH(QString, color);
        TempTree t;
        QVERIFY(makePdf(t.abs("in/a.pdf"), 1));
        const Batch b = runBatch({"-o", t.abs("out"), "--left", "100", "--bottom", "200.5", "--size", "30",
                                  "--color", color, "--first", "77", t.abs("in/a.pdf")});
        QVERIFY2(b.exitCode == 0, qPrintable(b.err));
        const QString copy = t.abs("out/a.pdf");
        const DisplayedPage page = PdfProbe::displayedPages(copy, 1).value(0);
        PdfWord number;
        for (const PdfWord& w : PdfProbe::words(copy, 1))
            if (w.text == QLatin1String("77"))
                number = w;
        QCOMPARE(number.text, QStringLiteral("77"));
        QVERIFY2(qAbs(number.xMin - 100) < 1, qPrintable(QString::number(number.xMin)));
        // Two digits of 30-point Helvetica: 33.4 points wide; the baseline 200.5 above the bottom edge.
        QVERIFY(qAbs(number.xMax - number.xMin - 33.36) < 1.5);
        QVERIFY(number.yMax > page.height - 200.5 && number.yMax < page.height - 190);
        // The glyphs are painted in the colour asked for (rendered at 72 dpi: a pixel a point).
        const Raster r = PdfProbe::render(copy, 1, 72);
        QVERIFY(r.valid());
        int painted = 0;
        for (int y = int(number.yMin); y < int(number.yMax); ++y)
            for (int x = int(number.xMin); x < int(number.xMax); ++x) {
                const unsigned char* px = r.pixel(x, y);
                painted += qAbs(px[0] - 224) < 8 && qAbs(px[1] - 16) < 8 && qAbs(px[2] - 32) < 8;
            }
        QVERIFY2(painted > 50, qPrintable(QString::number(painted)));
    }

    void manifestRows() {
        TempTree t;
        QVERIFY(makePdf(t.abs("in/one, \"quoted\".pdf"), 2));
        QVERIFY(WriteAll(t.abs("in/broken.pdf"), "%PDF-1.4\nnot really a PDF\n"));
        QVERIFY(makePdf(t.abs("in/three.pdf"), 3));
        const QStringList files =
            t.abs(QStringList{"in/one, \"quoted\".pdf", "in/broken.pdf", "in/three.pdf"});
        const QString manifest = t.abs("m.csv");
        const Batch b = runBatch(QStringList{"-o", t.abs("out"), "--continue", "--digits", "3", "--manifest",
                                             manifest, "--left", "-30"} +
                                 files);
        QCOMPARE(b.exitCode, 1);
        const QList<QStringList> rows = parseCsv(ReadAll(manifest));
        QCOMPARE(rows.size(), 4);
        QCOMPARE(rows.at(0), (QStringList{"input", "output", "pages", "first", "last", "status", "message",
                                          "begbates", "endbates"}));
        // A number pushed off the page's left edge by --left -30 is numbered with a warning.
        QCOMPARE(rows.at(1).mid(0, 6), (QStringList{files.at(0), t.abs("out/one, \"quoted\".pdf"), "2", "001",
                                                    "002", "numbered with a warning"}));
        QVERIFY(rows.at(1).at(6).contains(QLatin1String("outside the visible page")));
        QCOMPARE(rows.at(2).mid(0, 6),
                 (QStringList{files.at(1), t.abs("out/broken.pdf"), "", "", "", "skipped"}));
        QVERIFY(!rows.at(2).at(6).isEmpty());
        QCOMPARE(rows.at(3).mid(0, 6), (QStringList{files.at(2), t.abs("out/three.pdf"), "3", "003", "005",
                                                    "numbered with a warning"}));
        // The skipped file left nothing; the summary and the failure line are on stderr.
        QVERIFY(!QFileInfo::exists(t.abs("out/broken.pdf")));
        QVERIFY(b.err.contains(QLatin1String("numbrel: skipped ") + files.at(1)));
        QVERIFY(b.err.contains(QLatin1String("2 of 3 files numbered")));
    }

    void foldersMirrored() {
        TempTree t;
        for (const char* path : {"docs/report.pdf", "docs/2023/report.pdf", "docs/2023/q1/Report.PDF",
                                 "docs/2024/report.pdf", "docs/~$report.pdf", "docs/.hidden.pdf"})
            QVERIFY(makePdf(t.abs(path), 1));
        QVERIFY(WriteAll(t.abs("docs/notes.txt"), "not a pdf"));
        const QString manifest = t.abs("m.csv");
        const Batch b = runBatch({"-o", t.abs("out"), "--continue", "--manifest", manifest, t.abs("docs")});
        QVERIFY2(b.exitCode == 0, qPrintable(b.err));
        QCOMPARE(filesBelow(t.abs("out")),
                 (QStringList{"2023/q1/Report.PDF", "2023/report.pdf", "2024/report.pdf", "report.pdf"}));
        // Breadth first, as the folder add lists them: the folder's own file first, the deepest last.
        const QList<QStringList> rows = parseCsv(ReadAll(manifest));
        QCOMPARE(rows.size(), 5);
        QCOMPARE(rows.at(1).at(0), t.abs("docs/report.pdf"));
        QCOMPARE(rows.at(4).at(0), t.abs("docs/2023/q1/Report.PDF"));
        QCOMPARE(rows.at(4).at(3), QStringLiteral("4"));

        // A second run into a folder inside the tree does not number the first run's copies.
        const Batch again = runBatch({"-o", t.abs("docs/numbered"), t.abs("docs")});
        QVERIFY2(again.exitCode == 0, qPrintable(again.err));
        const Batch third = runBatch({"-o", t.abs("docs/numbered"), "--quiet", t.abs("docs")});
        QCOMPARE(third.exitCode, 0);
        QCOMPARE(filesBelow(t.abs("docs/numbered")), filesBelow(t.abs("out")));

        // A folder inside the output folder is all input: its files are numbered, not passed over.
        const Batch up = runBatch({"-o", t.abs("out"), "--first", "77", "--quiet", t.abs("out/2023")});
        QVERIFY2(up.exitCode == 0, qPrintable(up.err));
        QVERIFY(pageShows(t.abs("out/q1/Report.PDF"), 1, QStringLiteral("77")));
        QVERIFY(pageShows(t.abs("out/report.pdf"), 1, QStringLiteral("77")));
    }

    // A folder of the tree that can't be read is not passed over in silence: the manifest and the exit
    // status say its files were not numbered.
    void unreadableFolderTold() {
        TempTree t;
        QVERIFY(makePdf(t.abs("docs/a.pdf"), 1));
        QVERIFY(makePdf(t.abs("docs/locked/b.pdf"), 1));
        QVERIFY(t.folder("out"));
        QVERIFY(QFile::setPermissions(t.abs("out"), QFileDevice::Permissions(0x7777)));
        QVERIFY(t.deny("docs/locked"));
        {
            const Unprivileged nobody;
            if (!Unprivileged::listingFails(t.abs("docs/locked")))
                QSKIP("a folder without permissions can still be listed here");
        }
        const Batch b =
            runBatch({"-o", t.abs("out/copies"), "--manifest", t.abs("out/m.csv"), t.abs("docs")}, {}, true);
        QCOMPARE(b.exitCode, 1);
        QVERIFY2(b.err.contains(QLatin1String("numbrel: skipped ") + t.abs("docs/locked")),
                 qPrintable(b.err));
        const QList<QStringList> rows = parseCsv(ReadAll(t.abs("out/m.csv")));
        QCOMPARE(rows.size(), 3);
        QCOMPARE(rows.at(1).at(5), QStringLiteral("numbered"));
        QCOMPARE(rows.at(2).at(0), t.abs("docs/locked"));
        QCOMPARE(rows.at(2).at(5), QStringLiteral("skipped"));
    }

    void inputsReplacedOnlyWithOverwrite() {
        TempTree t;
        QVERIFY(makePdf(t.abs("in/a.pdf"), 2));
        const QByteArray before = ReadAll(t.abs("in/a.pdf"));
        // The output folder reached through a link is still the input's folder.
        QVERIFY(QFile::link(t.abs("in"), t.abs("link")));
        Batch b = runBatch({"-o", t.abs("link"), t.abs("in/a.pdf")});
        QCOMPARE(b.exitCode, 2);
        QCOMPARE(ReadAll(t.abs("in/a.pdf")), before);
        b = runBatch({"-o", t.abs("in"), "--overwrite", "--format", "N{n}", t.abs("in/a.pdf")});
        QVERIFY2(b.exitCode == 0, qPrintable(b.err));
        QVERIFY(pageShows(t.abs("in/a.pdf"), 2, QStringLiteral("N2")));
        QCOMPARE(filesBelow(t.abs("in")), QStringList{"a.pdf"});
    }

    // The same batch gives the same bytes whatever the jobs, and parts run through GNU parallel give
    // exactly what one whole run gives, with the page counts from a plan or counted in each part.
    void partsThroughGnuParallel() {
        if (QStandardPaths::findExecutable(QStringLiteral("parallel")).isEmpty())
            QSKIP("GNU parallel is not installed (Debian package parallel)");
        TempTree t;
        int pages = 1;
        for (const char* path :
             {"b/1.pdf", "b/2.pdf", "b/x/3.pdf", "b/x/4.pdf", "b/y/5.pdf", "b/y/z/6.pdf", "b/7.pdf"})
            QVERIFY(makePdf(t.abs(path), pages++ % 5 + 1));
        // A damaged file that needs repair goes the qpdf way and is rewritten whole.
        QVERIFY(
            WriteAll(t.abs("b/damaged.pdf"), ReadAll(sample("Sample-Letter.pdf")).replace("xref", "xxxx")));
        // An AES-encrypted file: its appended objects are encrypted the same way every time.
        QVERIFY(QFile::copy(CorpusFolder() + QStringLiteral("/qpdf/qpdf__qtest__qpdf__V4-aes-clearmeta.pdf"),
                            t.abs("b/x/aes.pdf")));
        // With the placement, background, labels and a page selection too: the labels go into the
        // catalog of encrypted and rewritten copies as well.
        const QStringList options{"--continue",   "--format", "Bates {n}",    "--digits",     "5",
                                  "--first",      "100",      "--position",   "bottom-right", "--mirror",
                                  "--box",        "trim",     "--background", "#FFFF00",      "--page-labels",
                                  "--pages",      "odd"};
        Batch b =
            runBatch(QStringList{"-o", t.abs("whole"), "--jobs", "1"} + options + QStringList{t.abs("b")});
        QVERIFY2(b.exitCode == 0, qPrintable(b.err));
        b = runBatch(QStringList{"-o", t.abs("jobs"), "--jobs", "4"} + options + QStringList{t.abs("b")});
        QVERIFY2(b.exitCode == 0, qPrintable(b.err));
        b = runBatch(QStringList{"-o", t.abs("parts"), "--plan", t.abs("batch.plan")} + options +
                     QStringList{t.abs("b")});
        QVERIFY2(b.exitCode == 0, qPrintable(b.err));
        QVERIFY(!QFileInfo::exists(t.abs("parts")));

        for (const bool withPlan : {true, false}) {
            const QString target = withPlan ? QStringLiteral("parts") : QStringLiteral("counted");
            // -q: every argument reaches numbrel as it is, blanks and all.
            QStringList args{"--will-cite", "-q",          "--halt", "now,fail=1", numbrel(), "--batch",
                             "-o",          t.abs(target), "--part", "{}/3",       "--quiet"};
            if (withPlan)
                args += QStringList{"--plan", t.abs("batch.plan")};
            args += options + QStringList{t.abs("b"), ":::", "1", "2", "3"};
            QProcess p;
            p.setProcessEnvironment(headless());
            p.start(QStringLiteral("parallel"), args);
            QVERIFY(p.waitForFinished(300000));
            QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
        }
        const QStringList files = filesBelow(t.abs("whole"));
        QCOMPARE(files.size(), 9);
        for (const char* other : {"jobs", "parts", "counted"}) {
            QCOMPARE(filesBelow(t.abs(other)), files);
            for (const QString& f : files)
                QVERIFY2(ReadAll(t.abs(QLatin1String(other) + '/' + f)) == ReadAll(t.abs("whole/" + f)),
                         qPrintable(QLatin1String(other) + '/' + f));
        }
        // The numbers run on across the batch's odd pages: every number from 100 shows exactly once.
        QList<int> numbers;
        int pageTotal = 0;
        static const QRegularExpression bates(QStringLiteral("Bates (\\d{5})"));
        for (const QString& f : files) {
            const QString copy = t.abs("whole/" + f);
            const int count = PdfProbe::pageCount(copy);
            pageTotal += (count + 1) / 2;
            for (int page = 1; page <= count; ++page) {
                const QRegularExpressionMatch m = bates.match(popplerText(copy, page));
                QVERIFY2(m.hasMatch() == (page % 2 == 1), qPrintable(copy));
                if (page % 2 == 0)
                    continue;
                numbers.append(m.captured(1).toInt());
            }
        }
        std::sort(numbers.begin(), numbers.end());
        QCOMPARE(numbers.size(), pageTotal);
        for (int k = 0; k < pageTotal; ++k)
            QCOMPARE(numbers.at(k), 100 + k);
        // A plan made for other files is refused.
        QVERIFY(makePdf(t.abs("b/8.pdf"), 1));
        b = runBatch(QStringList{"-o", t.abs("late"), "--part", "1/2", "--plan", t.abs("batch.plan")} +
                     options + QStringList{t.abs("b")});
        QCOMPARE(b.exitCode, 2);
        QVERIFY2(b.err.contains(QLatin1String("lists 9 files, the command line gives 10")),
                 qPrintable(b.err));
    }

    // Real files from other projects, damaged, encrypted and signed ones among them, numbered side by
    // side in one process: the same bytes and the same manifest as one at a time.
    void corpusSideBySide() {
        TempTree t;
        const QString corpus = CorpusFolder();
        const Batch one = runBatch(
            {"-o", t.abs("one"), "--jobs", "1", "--continue", "--manifest", t.abs("one.csv"), corpus});
        const Batch four = runBatch(
            {"-o", t.abs("four"), "--jobs", "4", "--continue", "--manifest", t.abs("four.csv"), corpus});
        QCOMPARE(one.exitCode, 1); // some are refused (password, no pages)
        QCOMPARE(four.exitCode, 1);
        const QStringList files = filesBelow(t.abs("one"));
        QVERIFY(files.size() > 100);
        QCOMPARE(filesBelow(t.abs("four")), files);
        for (const QString& f : files)
            QVERIFY2(ReadAll(t.abs("one/" + f)) == ReadAll(t.abs("four/" + f)), qPrintable(f));
        QCOMPARE(ReadAll(t.abs("four.csv")).replace(t.abs("four").toUtf8(), "OUT"),
                 ReadAll(t.abs("one.csv")).replace(t.abs("one").toUtf8(), "OUT"));
    }

    // Ctrl-C in the middle: the copies finished stay whole, nothing half-written is left, and the
    // manifest lists every file, those not done as such.
    void stopWithCtrlC() {
        TempTree t;
        QVERIFY(makePdf(t.abs("in/f000.pdf"), 5));
        const QByteArray bytes = ReadAll(t.abs("in/f000.pdf"));
        const int count = 400;
        for (int k = 1; k < count; ++k)
            QVERIFY(WriteAll(t.abs(QStringLiteral("in/f%1.pdf").arg(k, 3, 10, QLatin1Char('0'))), bytes));
        const QString manifest = t.abs("m.csv");
        QProcess p;
        p.setProcessEnvironment(headless());
        p.start(numbrel(), {"--batch", "-o", t.abs("out"), "--jobs", "2", "--continue", "--manifest",
                            manifest, t.abs("in")});
        QVERIFY(p.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QDir(t.abs("out")).entryList(QDir::Files).size() >= 5, 60000);
        ::kill(pid_t(p.processId()), SIGINT);
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 130);

        const QList<QStringList> rows = parseCsv(ReadAll(manifest));
        QCOMPARE(rows.size(), count + 1);
        int numbered = 0, notDone = 0;
        for (qsizetype k = 1; k < rows.size(); ++k) {
            const QStringList& row = rows.at(k);
            const QString output = t.abs("out/") + QFileInfo(row.at(0)).fileName();
            if (row.at(5) == QLatin1String("numbered")) {
                ++numbered;
                QCOMPARE(PdfProbe::pageCount(output), 5);
                QCOMPARE(row.at(3), QString::number(5 * (k - 1) + 1));
            } else {
                QCOMPARE(row.at(5), QStringLiteral("not done"));
                QVERIFY(!QFileInfo::exists(output));
                ++notDone;
            }
        }
        QVERIFY(numbered >= 5);
        QVERIFY(notDone > 0);
        // Nothing else in the output folder: no temporary names.
        QCOMPARE(QDir(t.abs("out")).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), numbered);
    }

    // kill -9 at the moment of delivery, over an existing copy: the finished copy is left under its
    // short name in the output folder, and the next run removes exactly that file, nothing that only
    // looks like one. Where the file system has no unnamed files the copy has that name from the start.
    void killedAtDeliveryLeavesNothingForGood_data() {
        QTest::addColumn<bool>("unnamedFiles");
        QTest::newRow("unnamed files") << true;
        QTest::newRow("no unnamed files (vfat)") << false;
    }
    void killedAtDeliveryLeavesNothingForGood() {
        QFETCH(bool, unnamedFiles);
        TempTree t;
        QVERIFY(makePdf(t.abs("in/a.pdf"), 2));
        QVERIFY(QDir().mkpath(t.abs("out")));
        QVERIFY(WriteAll(t.abs("out/a.pdf"), "the copy of last week"));
        const QStringList mine = {".nbMine01", ".nbKeepThis", ".nb", ".nbconfig"};
        for (const QString& name : mine)
            QVERIFY(WriteAll(t.abs("out/" + name), "mine"));
        QStringList before = filesBelow(t.abs("out"));

        QProcess p;
        p.setProcessEnvironment(headless());
        p.setChildProcessModifier([unnamedFiles] {
            if ((!unnamedFiles && !RefuseUnnamedFiles()) || !KillAtRename())
                ::_exit(3);
        });
        p.start(numbrel(), {"--batch", "-o", t.abs("out"), "--quiet", t.abs("in/a.pdf")});
        QVERIFY(p.waitForFinished(120000));
        QCOMPARE(p.exitStatus(), QProcess::CrashExit);
        QCOMPARE(ReadAll(t.abs("out/a.pdf")), QByteArray("the copy of last week"));
        QStringList left = filesBelow(t.abs("out"));
        for (const QString& name : std::as_const(before))
            left.removeOne(name);
        QCOMPARE(left.size(), 1);
        const QString leftover = t.abs("out/" + left.first());
        QVERIFY2(left.first().startsWith(QLatin1String(".nb")), qPrintable(left.first()));
        QCOMPARE(PdfProbe::pageCount(leftover), 2); // the complete copy

        const Batch again = runBatch({"-o", t.abs("elsewhere"), "--quiet", t.abs("in/a.pdf")});
        QCOMPARE(again.exitCode, 0);
        QVERIFY2(!QFileInfo::exists(leftover), qPrintable(leftover));
        QCOMPARE(filesBelow(t.abs("out")), before);
        for (const QString& name : mine)
            QCOMPARE(ReadAll(t.abs("out/" + name)), QByteArray("mine"));
        // Delivered copies leave no records behind either.
        QCOMPARE(QDir(PendingNamesFolder()).entryList(QDir::Files | QDir::Hidden), QStringList());
    }

    // Only the selected pages show a number, counted from the first; with --continue the next file
    // goes on from the last number used. A file left without a page is skipped with the reason.
    // Unselected pages are not touched: the copy's update doesn't write their page objects again.
    void pagesSelected_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QStringList>("shown"); // per page of the files of 2, 5 and 1 pages; "-" none
        QTest::addColumn<int>("exitCode");
        QTest::newRow("leave the covers, continue")
            << QStringList{"--pages", "2-", "--continue"}
            << QStringList{"-", "B1", "-", "B2", "B3", "B4", "B5", "skip"} << 1;
        QTest::newRow("a list, each file from 1")
            << QStringList{"--pages", "1,3"} << QStringList{"B1", "-", "B1", "-", "B2", "-", "-", "B1"} << 0;
        QTest::newRow("odd, continue from 10")
            << QStringList{"--pages", "odd", "--continue", "--first", "10"}
            << QStringList{"B10", "-", "B11", "-", "B12", "-", "B13", "B14"} << 0;
        QTest::newRow("even, continue, four jobs")
            << QStringList{"--pages", "even", "--continue", "--jobs", "4"}
            << QStringList{"-", "B1", "-", "B2", "-", "B3", "-", "skip"} << 1;
        QTest::newRow("a range, each file") << QStringList{"--pages", "2-3"}
                                            << QStringList{"-", "B1", "-", "B1", "B2", "-", "-", "skip"} << 1;
    }
    void pagesSelected() {
        QFETCH(QStringList, options);
        QFETCH(QStringList, shown);
        QFETCH(int, exitCode);
        TempTree t;
        const QStringList files = threeFiles(t);
        QVERIFY(!files.isEmpty());
        const Batch b =
            runBatch(QStringList{"-o", t.abs("out"), "--format", "B{n}", "--manifest", t.abs("m.csv")} +
                     options + files);
        QVERIFY2(b.exitCode == exitCode, qPrintable(b.err));
        const int pages[] = {2, 5, 1};
        int at = 0;
        for (int f = 0; f < 3; ++f) {
            const QString copy = t.abs("out/") + QFileInfo(files.at(f)).fileName();
            if (shown.at(at) == QLatin1String("skip")) {
                QVERIFY(!QFileInfo::exists(copy));
                QVERIFY2(b.err.contains(QLatin1String("numbrel: skipped ") + files.at(f)), qPrintable(b.err));
                QVERIFY(b.err.contains(QLatin1String("takes none of its")));
                const QList<QStringList> rows = parseCsv(ReadAll(t.abs("m.csv")));
                QCOMPARE(rows.at(f + 1).at(5), QStringLiteral("skipped"));
                QVERIFY(rows.at(f + 1).at(6).contains(QLatin1String("takes none of its")));
                at += pages[f];
                continue;
            }
            QCOMPARE(PdfProbe::check(copy).exitCode, 0);
            const QByteArray input = ReadAll(files.at(f)), numbered = ReadAll(copy);
            QVERIFY(numbered.startsWith(input)); // an update appended
            const QByteArray update = '\n' + numbered.mid(input.size());
            const QStringList objects = pageObjects(files.at(f));
            QCOMPARE(pageObjects(copy), objects);
            for (int p = 1; p <= pages[f]; ++p, ++at) {
                const QString expected = shown.at(at);
                const bool written = update.contains("\n" + objects.at(p - 1).toLatin1() + " obj");
                if (expected == QLatin1String("-")) {
                    static const QRegularExpression number(QStringLiteral("\\bB\\d+\\b"));
                    QVERIFY2(!popplerText(copy, p).contains(number), qPrintable(popplerText(copy, p)));
                    QVERIFY2(!mupdfText(copy, p).contains(number), qPrintable(mupdfText(copy, p)));
                    QVERIFY2(!written, qPrintable(objects.at(p - 1)));
                } else {
                    const QStringList words = popplerText(copy, p).split(QLatin1Char(' '));
                    QVERIFY2(words.contains(expected), qPrintable(words.join(' ')));
                    QVERIFY(pageShows(copy, p, expected));
                    QVERIFY(written);
                }
            }
        }
    }

    // Every style to 30 on a 30-page file, and {last} in the same style, as poppler and MuPDF read it.
    void stylesUpTo30() {
        TempTree t;
        QVERIFY(makeLongPdf(t.abs("in/long.pdf"), 6));
        const Batch b = runBatch({"-o", t.abs("out"), "--format",
                                  "<{n:roman}|{n:ROMAN}|{n:alpha}|{n:ALPHA}|{n}> of {last:roman}", "--digits",
                                  "2", t.abs("in/long.pdf")});
        QVERIFY2(b.exitCode == 0, qPrintable(b.err));
        const QStringList roman =
            QStringLiteral("i ii iii iv v vi vii viii ix x xi xii xiii xiv xv xvi xvii xviii "
                           "xix xx xxi xxii xxiii xxiv xxv xxvi xxvii xxviii xxix xxx")
                .split(' ');
        const QStringList alpha =
            QStringLiteral("a b c d e f g h i j k l m n o p q r s t u v w x y z aa bb cc dd").split(' ');
        const QString copy = t.abs("out/long.pdf");
        QCOMPARE(PdfProbe::pageCount(copy), 30);
        for (int n = 1; n <= 30; ++n)
            QVERIFY(
                pageShows(copy, n,
                          QStringLiteral("<%1|%2|%3|%4|%5> of xxx")
                              .arg(roman.at(n - 1), roman.at(n - 1).toUpper(), alpha.at(n - 1),
                                   alpha.at(n - 1).toUpper(), QString::number(n).rightJustified(2, '0'))));
    }

    // A production: the Opticon and DAT files and the manifest read back, for every page and file;
    // the shares of a batch, run one after the other, give the whole run's copies and load files.
    void batesLoadFiles() {
        TempTree t;
        const QStringList files = threeFiles(t);
        QVERIFY(!files.isEmpty());
        const QStringList options{"--continue", "--format", "ABC-{n}", "--digits", "6", "--first", "101"};
        const Batch b =
            runBatch(QStringList{"-o", t.abs("prod/VOL001"), "--opticon", t.abs("prod/VOL001.opt"), "--dat",
                                 t.abs("prod/VOL001.dat"), "--manifest", t.abs("m.csv")} +
                     options + files);
        QVERIFY2(b.exitCode == 0, qPrintable(b.err));
        const QList<QStringList> opt = parseOpticon(ReadAll(t.abs("prod/VOL001.opt")));
        QCOMPARE(opt.size(), 8);
        const int pages[] = {2, 5, 1};
        int line = 0;
        for (int f = 0; f < 3; ++f)
            for (int p = 0; p < pages[f]; ++p, ++line) {
                const QString path = QStringLiteral("VOL001/") + QFileInfo(files.at(f)).fileName();
                const QString key = QStringLiteral("ABC-%1").arg(101 + line, 6, 10, QLatin1Char('0'));
                QCOMPARE(opt.at(line), (QStringList{key, "VOL001", path, p == 0 ? "Y" : "", "", "",
                                                    p == 0 ? QString::number(pages[f]) : ""}));
                QVERIFY(pageShows(t.abs("prod/") + path, p + 1, key));
            }
        const QList<QStringList> dat = parseDat(ReadAll(t.abs("prod/VOL001.dat")));
        QCOMPARE(dat, (QList<QStringList>{{"BEGBATES", "ENDBATES", "PGCOUNT", "FILENAME", "FILEPATH"},
                                          {"ABC-000101", "ABC-000102", "2", "a.pdf", "VOL001/a.pdf"},
                                          {"ABC-000103", "ABC-000107", "5", "b.pdf", "VOL001/b.pdf"},
                                          {"ABC-000108", "ABC-000108", "1", "c.pdf", "VOL001/c.pdf"}}));
        const QList<QStringList> rows = parseCsv(ReadAll(t.abs("m.csv")));
        QCOMPARE(rows.at(2).mid(7), (QStringList{"ABC-000103", "ABC-000107"}));
        QCOMPARE(rows.at(2).mid(2, 3), (QStringList{"5", "000103", "000107"}));

        // The volume named; only numbered pages are keyed, and a cover's file counts its numbered ones.
        Batch v = runBatch(QStringList{"-o", t.abs("v"), "--opticon", t.abs("v.opt"), "--volume", "PROD 7",
                                       "--dat", t.abs("v.dat"), "--pages", "2-"} +
                           options + files.mid(0, 2));
        QVERIFY2(v.exitCode == 0, qPrintable(v.err));
        QCOMPARE(parseOpticon(ReadAll(t.abs("v.opt"))),
                 (QList<QStringList>{{"ABC-000101", "PROD 7", "v/a.pdf", "Y", "", "", "1"},
                                     {"ABC-000102", "PROD 7", "v/b.pdf", "Y", "", "", "4"},
                                     {"ABC-000103", "PROD 7", "v/b.pdf", "", "", "", ""},
                                     {"ABC-000104", "PROD 7", "v/b.pdf", "", "", "", ""},
                                     {"ABC-000105", "PROD 7", "v/b.pdf", "", "", "", ""}}));
        QCOMPARE(parseDat(ReadAll(t.abs("v.dat"))).value(2),
                 (QStringList{"ABC-000102", "ABC-000105", "4", "b.pdf", "v/b.pdf"}));

        // Two shares with a plan: the copies are the whole run's, the parts' load files joined are too.
        QVERIFY(runBatch(QStringList{"-o", t.abs("parts"), "--plan", t.abs("p.plan")} + options + files)
                    .exitCode == 0);
        QByteArray opticon, concordance;
        for (int part = 1; part <= 2; ++part) {
            const QString n = QString::number(part);
            const Batch p = runBatch(QStringList{"-o", t.abs("parts"), "--plan", t.abs("p.plan"), "--part",
                                                 n + "/2", "--opticon", t.abs("VOL001.opt." + n), "--dat",
                                                 t.abs("VOL001.dat." + n), "--volume", "VOL001"} +
                                     options + files);
            QVERIFY2(p.exitCode == 0, qPrintable(p.err));
            opticon += ReadAll(t.abs("VOL001.opt." + n));
            concordance += ReadAll(t.abs("VOL001.dat." + n));
        }
        for (const QString& name : {"a.pdf", "b.pdf", "c.pdf"})
            QCOMPARE(ReadAll(t.abs("parts/" + name)), ReadAll(t.abs("prod/VOL001/" + name)));
        // The same names relative to a load file beside the copies' folder.
        QCOMPARE(opticon, ReadAll(t.abs("prod/VOL001.opt")).replace("VOL001/", "parts/"));
        QCOMPARE(concordance, ReadAll(t.abs("prod/VOL001.dat")).replace("VOL001/", "parts/"));
    }

    // A signed file numbered with a selection and a style still carries a valid signature.
    void signedFileKeepsItsSignature() {
        TempTree t;
        QVERIFY(QFile::copy(CorpusFolder() + QStringLiteral("/qpdf/qpdf__qtest__qpdf__digitally-signed.pdf"),
                            t.abs("signed.pdf")));
        QVERIFY(makePdf(t.abs("cover.pdf"), 2));
        const Batch b = runBatch({"-o", t.abs("out"), "--continue", "--pages", "odd", "--format", "{n:ROMAN}",
                                  "--dat", t.abs("p.dat"), t.abs("cover.pdf"), t.abs("signed.pdf")});
        QVERIFY2(b.exitCode == 0 && b.err.contains(QLatin1String("signature still holds")), qPrintable(b.err));
        QVERIFY(pageShows(t.abs("out/signed.pdf"), 1, QStringLiteral("II")));
        const ProcessResult sig = RunProgram(QStringLiteral("pdfsig"), {t.abs("out/signed.pdf")});
        QVERIFY2(sig.out.contains("Signature Validation: Signature is Valid."), sig.out.constData());
        QCOMPARE(parseDat(ReadAll(t.abs("p.dat"))).value(2),
                 (QStringList{"II", "II", "1", "signed.pdf", "out/signed.pdf"}));
    }

    void exitStatusesAndSettings() {
        TempTree t;
        QVERIFY(makePdf(t.abs("in/good.pdf"), 1));
        QVERIFY(WriteAll(t.abs("in/empty.pdf"), ""));
        QCOMPARE(runBatch({"-o", t.abs("a"), t.abs("in/good.pdf")}).exitCode, 0);
        const Batch some = runBatch({"-o", t.abs("b"), "--quiet", t.abs("in")});
        QCOMPARE(some.exitCode, 1);
        // With --quiet only the failure is told.
        QCOMPARE(some.err.count(QLatin1Char('\n')), 1);
        QVERIFY(some.err.startsWith(QLatin1String("numbrel: skipped ") + t.abs("in/empty.pdf")));
        QCOMPARE(runBatch({"-o", t.abs("c"), "--jobs", "x", t.abs("in")}).exitCode, 2);
        // The window's settings are neither read nor written.
        QVERIFY(!QFileInfo::exists(home_.settingsFile()));
    }
};

QTEST_GUILESS_MAIN(TestBatchCli)
#include "test_batch_cli.moc"
