// Viewers in the loop: files written by the content grammar and around the page tree and the
// cross-references, each numbered by the real tool and through qpdf alone, each copy judged by
// poppler and MuPDF (ViewerLoop). A short deterministic run of generated files, the kept findings
// as rows, and a long run for a given time:
//   NUMBREL_VIEWER_LOOP_MINUTES=60   run for that long from NUMBREL_VIEWER_LOOP_FIRST_SEED (default
//                                    1000000), one file after another, and keep each finding,
//                                    reduced, in NUMBREL_VIEWER_LOOP_OUT (default ./viewer-loop)
//   NUMBREL_VIEWER_LOOP_SEED=n       replay one seed: its recipe and what the viewers find
//   NUMBREL_VIEWER_LOOP_FILES=n      the short run's size
// Given "--qpdf-only" and the tool's arguments, the program numbers through qpdf alone, as the
// tool does, so that the loop runs that way in a process of its own too.

#include "CommandLine.h"
#include "ContentGenerator.h"
#include "NumberPdfFile.h"
#include "ResultWarnings.h"
#include "StampError.h"
#include "ViewerLoop.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>

namespace {

QString Tool() {
    const QString other = qEnvironmentVariable("NUMBREL_STAMPER");
    return other.isEmpty() ? QStringLiteral(NUMBREL_PROGRAM_DIR "/mbtPdfAsm.exe") : other;
}

int NumberQpdfOnly(int argc, char* argv[]) {
    std::vector<std::string> args(argv + 2, argv + argc);
    try {
        const StampOptions options = ParseCommandLine(args).options;
        const NumberPdfResult result = NumberPdfFile(options, true, NumberingWay::QpdfOnly);
        for (const std::string& warning : ResultWarnings(result, options.input, 3))
            std::fprintf(stderr, "qpdf way: warning: %s\n", warning.c_str());
        return 0;
    } catch (StampError& e) {
        std::fprintf(stderr, "qpdf way: %s\n", e.what());
        return e.isUsageError() ? 2 : 1;
    } catch (std::exception& e) {
        std::fprintf(stderr, "qpdf way: %s\n", e.what());
        return 1;
    }
}

QString Describe(const Finding& f) {
    return QString("%1 (%2): poppler %3, MuPDF %4: %5")
        .arg(f.category, WayName(f.way), f.poppler.isEmpty() ? "ok" : f.poppler,
             f.mupdf.isEmpty() ? "ok" : f.mupdf, f.detail.left(300));
}

// Seeds of the short run that still fail, each with the reason, until the engine's fix is in.
// (Before the content and page tree rules, 114 of the 250 failed; these are what is left.)
const std::map<uint64_t, const char*> kKnownFailingSeeds = {
    {4, "MuPDF: pixels changed (resources as a reference to null)"},
    {13, "MuPDF: pixels changed (resources as a reference to null)"},
    {27, "MuPDF: pixels changed (resources as a reference to null)"},
    {46, "MuPDF: pixels changed (resources as a reference to null)"},
    {59, "MuPDF: pixels changed (resources as a reference to null)"},
    {90, "MuPDF: pixels changed (resources as a reference to null)"},
    {150, "MuPDF: pixels changed (resources as a reference to null)"},
    {180, "MuPDF: pixels changed (resources as a reference to null)"},
    {183, "MuPDF: pixels changed (resources as a reference to null)"},
    {192, "MuPDF: pixels changed (resources as a reference to null)"},
    {216, "MuPDF: pixels changed (resources as a reference to null)"},
};

// A raster of `w` x `h` pixels, white.
Raster White(int w, int h) {
    Raster r;
    r.width = w;
    r.height = h;
    r.rgb = QByteArray(w * h * 3, char(255));
    return r;
}

void Paint(Raster& r, int x0, int y0, int x1, int y1, unsigned char v) {
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x)
            for (int c = 0; c < 3; ++c)
                r.rgb[(y * r.width + x) * 3 + c] = char(v);
}

} // namespace

class ViewerLoopTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void replay();
    void judge_data();
    void judge();
    void seedsReplay();
    void shortRun();
    void kept_data();
    void kept();
    void longRun();

private:
    QTemporaryDir work_;
    QString self_;
};

void ViewerLoopTest::initTestCase() {
    self_ = QCoreApplication::applicationFilePath();
    QVERIFY(work_.isValid());
    QVERIFY2(QFile::exists(Tool()), qPrintable(Tool()));
}

void ViewerLoopTest::replay() {
    const QString seed = qEnvironmentVariable("NUMBREL_VIEWER_LOOP_SEED");
    if (seed.isEmpty())
        QSKIP("NUMBREL_VIEWER_LOOP_SEED not set");
    const Recipe recipe = MakeRecipe(seed.toULongLong());
    ViewerLoop loop(Tool(), self_, work_.path());
    std::printf("%s\n", recipe.describe().constData());
    const QByteArray pdf = BuildPdf(recipe);
    WriteAll("replay-" + seed + ".pdf", pdf);
    for (const Finding& f : loop.judge(pdf)) {
        std::printf("finding: %s\n", qPrintable(Describe(f)));
        const Recipe small = loop.reduce(recipe, f, 60);
        std::printf("reduced:\n%scontent: %s\n", small.describe().constData(),
                    small.contentText().constData());
        WriteAll("replay-" + seed + "-reduced.pdf", BuildPdf(small));
    }
}

// The judge itself, on rasters made here: a page of 200 x 200 pixels at 72 dpi.
void ViewerLoopTest::judge_data() {
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("expected");
    QTest::newRow("the number drawn") << "number"
                                      << "";
    QTest::newRow("nothing drawn") << "none"
                                   << "number missing";
    QTest::newRow("the number and a pixel elsewhere") << "number+pixel"
                                                      << "pixels changed";
    QTest::newRow("the number one page too many") << "extra page"
                                                  << "page count";
    QTest::newRow("the number at the top") << "top"
                                           << "pixels changed";
    QTest::newRow("the number on a black page") << "covered"
                                                << "";
    QTest::newRow("a page of another size") << "size"
                                            << "page size";
}

void ViewerLoopTest::judge() {
    QFETCH(QString, change);
    QFETCH(QString, expected);
    ViewerPages in, out;
    in.pages = {White(200, 200)};
    if (change == "covered")
        Paint(in.pages[0], 0, 150, 60, 199, 0);
    out.pages = in.pages;
    Raster& page = out.pages[0];
    const PixelBox box = NumberBox("1", 200, 72);
    if (change == "number" || change == "number+pixel" || change == "extra page" || change == "covered")
        Paint(page, 10, 182, 15, 189, 20);
    if (change == "number+pixel")
        Paint(page, 150, 40, 150, 40, 0);
    if (change == "extra page")
        out.pages.append(page);
    if (change == "top")
        Paint(page, 10, 10, 15, 17, 0);
    if (change == "size")
        page = White(201, 200);
    QVERIFY(box.x0 < 10 && box.x1 > 15 && box.y0 < 182 && box.y1 > 189);
    QCOMPARE(JudgeInViewer(in, out, 72).check, expected);
}

// A seed makes the same file each time: a finding can be replayed from it.
void ViewerLoopTest::seedsReplay() {
    for (uint64_t seed : {1ull, 77ull, 123456789ull}) {
        QCOMPARE(BuildPdf(MakeRecipe(seed)), BuildPdf(MakeRecipe(seed)));
        QCOMPARE(MakeRecipe(seed).describe(), MakeRecipe(seed).describe());
    }
    QVERIFY(BuildPdf(MakeRecipe(1)) != BuildPdf(MakeRecipe(2)));
}

void ViewerLoopTest::shortRun() {
    const int files = qEnvironmentVariableIntValue("NUMBREL_VIEWER_LOOP_FILES") > 0
                          ? qEnvironmentVariableIntValue("NUMBREL_VIEWER_LOOP_FILES")
                          : 250;
    ViewerLoop loop(Tool(), self_, work_.path());
    QStringList unexpected;
    int known = 0, fixed = 0;
    QElapsedTimer timer;
    timer.start();
    for (uint64_t seed = 1; seed <= uint64_t(files); ++seed) {
        const QList<Finding> findings = loop.judge(BuildPdf(MakeRecipe(seed)));
        const auto k = kKnownFailingSeeds.find(seed);
        if (k != kKnownFailingSeeds.end()) {
            if (std::all_of(findings.begin(), findings.end(),
                            [](const Finding& f) { return f.category == "warned"; })) {
                ++fixed;
                qInfo("seed %llu passes now (%s): take it off the known list", qulonglong(seed), k->second);
            } else {
                ++known;
                for (const Finding& f : findings)
                    qInfo("seed %llu (known): %s", qulonglong(seed), qPrintable(Describe(f)));
            }
            continue;
        }
        for (const Finding& f : findings) {
            if (f.category == "warned")
                continue; // the tool said that the viewers disagree there
            unexpected << QString("seed %1: %2").arg(seed).arg(Describe(f));
            qInfo("%s", qPrintable(unexpected.last()));
        }
    }
    qInfo("short run: %d files in %.1f s, %d known failing seeds still failing, %d fixed, %lld new findings",
          files, timer.elapsed() / 1000.0, known, fixed, (long long)unexpected.size());
    QVERIFY2(unexpected.isEmpty(), qPrintable(QString("%1 findings, each above").arg(unexpected.size())));
}

// Findings kept: a seed, or a recipe reduced by hand (pieces of content separated by '|'), and the
// reason when the row still fails until the engine's fix is in.
void ViewerLoopTest::kept_data() {
    QTest::addColumn<qulonglong>("seed");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("features");
    QTest::addColumn<QString>("pending");
    QTest::addColumn<int>("pages");

    auto hand = [](const char* name, const QByteArray& content, const QStringList& features = {},
                   const QString& pending = {}, int pages = 1) {
        QTest::newRow(name) << qulonglong(0) << content << features << pending << pages;
    };
    hand("well-formed content", " q 1 0 0 RG 2 w 60 60 m 200 100 l S Q");
    hand("marked content of a hidden layer left open", " /OC /L2 BDC 0 0 1 rg 100 100 50 50 re f");
    hand("hidden layer left open by an OCMD, inside BT", " BT /OC /M2 BDC /F1 12 Tf 60 100 Td (x) Tj");
    hand("hidden layer by /BaseState /OFF left open", " /OC /L2 BDC", {"oc-base-state"});
    hand("hidden layer opened in the first of two streams", " /OC /L2 BDC| 0 0 1 rg 100 100 50 50 re f",
         {"contents-array"});
    hand("hidden layer opened in an update, compressed", " /OC /L2 BDC", {"update-content", "flate"});
    hand("0Q at the end", " q 0 0 1 rg 100 100 50 50 re f 0Q");
    hand(".5Q at the end", " q 1 0 0 1 .5 .5 cm .5Q");
    hand("-Q at the end", " q 2 0 0 2 0 0 cm -Q");
    hand("endstream in the data", " 0 0 1 rg 100 100 50 50 re f endstream 0 1 0 rg 150 150 20 20 re f");
    hand("a comment at the end without its end of line", " 0 0 1 rg 100 100 50 50 re f % the end");
    hand("a dictionary whose key lacks its value", " /Span << /MCID >> BDC 0 0 1 rg 100 100 50 50 re f EMC");
    hand("a long operator", " " + QByteArray(130, 'x') + " 0 0 1 rg 100 100 50 50 re f");
    hand("a Q that restores nothing", " Q /Im1 Do");
    hand("a Q that restores nothing before a path", " Q 0 0 1 rg 100 100 50 50 re f*");
    hand("BDC with one operand", " /OC BDC 0 0 1 rg 100 100 50 50 re f EMC");
    hand("BMC with none", " BMC 0 0 1 rg 100 100 50 50 re f EMC");
    hand("d1 with five operands", " 1 2 3 4 5 d1 0 0 1 rg 100 100 50 50 re f");
    hand("y with three operands", " 159 77 105.5 y");
    hand("l with none", " l");
    hand("sh with none", " sh");
    hand("\" with none", " \"");
    hand("cs given a name without its slash", " DeviceGray cs");
    hand("Tf given a name without its slash", " BT F1 12 Tf 60 100 Td (x) Tj ET");
    hand("inline image: /I without its value",
         " q 40 0 0 40 200 130 cm BI /W 2 /H 2 /BPC 8 /CS /RGB /I ID " +
             QByteArray("\x20\x80\xff\xff\x40\x40\x10\xa0\x30\x90\x90\xf0", 12) + " EI Q");
    QByteArray errors;
    for (int k = 0; k < 115; ++k)
        errors += k % 3 == 0 ? " )" : k % 3 == 1 ? " }" : " foo";
    hand("115 syntax errors", errors);
    hand("kids listing a page twice, limited by the count", " ", {"dup-kids"}, {}, 3);
    hand("more kids than the count", " ", {"count-low"}, {}, 3);
    hand("resources as a reference to null, the node's inherited", " /Sh1 sh", {"null-resources"});
}

void ViewerLoopTest::kept() {
    QFETCH(qulonglong, seed);
    QFETCH(QByteArray, content);
    QFETCH(QStringList, features);
    QFETCH(QString, pending);
    QFETCH(int, pages);
    QList<QByteArray> f;
    for (const QString& s : features)
        f.append(s.toLatin1());
    const Recipe recipe = seed != 0 ? MakeRecipe(seed) : HandRecipe(content, f, pages);
    ViewerLoop loop(Tool(), self_, work_.path());
    QStringList found;
    for (const Finding& finding : loop.judge(BuildPdf(recipe)))
        if (finding.category != "warned")
            found << Describe(finding);
    if (!pending.isEmpty())
        QEXPECT_FAIL("", qPrintable(pending), Continue);
    QVERIFY2(found.isEmpty(), qPrintable(found.join('\n')));
}

void ViewerLoopTest::longRun() {
    const int minutes = qEnvironmentVariableIntValue("NUMBREL_VIEWER_LOOP_MINUTES");
    if (minutes <= 0)
        QSKIP("NUMBREL_VIEWER_LOOP_MINUTES not set");
    QString outName = qEnvironmentVariable("NUMBREL_VIEWER_LOOP_OUT");
    if (outName.isEmpty())
        outName = "viewer-loop";
    QDir out(outName);
    QVERIFY(out.mkpath("."));
    uint64_t seed = qEnvironmentVariable("NUMBREL_VIEWER_LOOP_FIRST_SEED").toULongLong();
    if (seed == 0)
        seed = 1000000;
    ViewerLoop loop(Tool(), self_, work_.path());
    QFile table(out.filePath("findings.tsv"));
    QVERIFY(table.open(QIODevice::Append | QIODevice::Text));
    std::map<QString, int> byCategory, byKind;
    int files = 0, findings = 0;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < qint64(minutes) * 60000) {
        const Recipe recipe = MakeRecipe(seed);
        ++files;
        // The other way's finding of a file is most often the same fault: its reduced recipe is
        // tried first.
        std::optional<Recipe> reducedHere;
        for (const Finding& f : loop.judge(BuildPdf(recipe))) {
            ++findings;
            ++byCategory[f.category];
            // The first few of a kind are reduced; after that a finding whose recipe holds every
            // tag of a kind of its signature seen three times counts as that kind, unreduced.
            QString likely;
            for (const auto& [kind, n] : byKind) {
                const QStringList parts = kind.split('|');
                if (n < 3 || parts.mid(0, 4).join('|') != f.signature())
                    continue;
                bool all = true;
                for (const QString& t : parts.value(4).split(", ", Qt::SkipEmptyParts))
                    all = all && (t.startsWith('+') ? recipe.has(t.mid(1).toLatin1().constData())
                                                    : recipe.describe().contains("[" + t.toLatin1() + "]"));
                if (all) {
                    likely = kind;
                    break;
                }
            }
            auto sameAgain = [&](const Recipe& r) {
                for (const Finding& g : loop.judge(BuildPdf(r), {f.way}))
                    if (g.signature() == f.signature())
                        return true;
                return false;
            };
            const Recipe small = !likely.isEmpty()                        ? recipe
                                 : reducedHere && sameAgain(*reducedHere) ? *reducedHere
                                                                          : loop.reduce(recipe, f, 40);
            reducedHere = small;
            // A kind: the fault and the tags of what it could not do without.
            QStringList tags;
            for (const ContentPiece& p : small.content)
                if (p.tag != "draw last" && !tags.contains(QString::fromLatin1(p.tag)))
                    tags << QString::fromLatin1(p.tag);
            for (const QByteArray& s : small.structure)
                tags << "+" + QString::fromLatin1(s);
            const QString kind = likely.isEmpty() ? f.signature() + "|" + tags.join(", ") : likely;
            const bool fresh = byKind[kind]++ == 0;
            const QString name = QString("%1-%2-%3")
                                     .arg(f.category)
                                     .arg(seed)
                                     .arg(f.way == Way::Tool ? "tool" : "qpdf")
                                     .replace(' ', '-');
            WriteAll(out.filePath(name + ".pdf"), BuildPdf(small));
            WriteAll(out.filePath(name + ".txt"),
                     (Describe(f) + "\n\nreduced:\n").toUtf8() + small.describe() + "\ncontent:\n" +
                         small.contentText() + "\n\noriginal:\n" + recipe.describe());
            table.write(QString("%1\t%2\t%3\t%4\t%5\t%6\n")
                            .arg(seed)
                            .arg(WayName(f.way), f.category, f.poppler + "/" + f.mupdf, tags.join(", "),
                                 f.detail.left(200))
                            .toUtf8());
            table.flush();
            if (fresh)
                std::printf("new kind at seed %llu: %s\n  %s\n", qulonglong(seed), qPrintable(kind),
                            qPrintable(Describe(f)));
            std::fflush(stdout);
        }
        ++seed;
        if (files % 100 == 0) {
            std::printf("%d files, %d findings, %zu kinds, %.1f min\n", files, findings, byKind.size(),
                        timer.elapsed() / 60000.0);
            std::fflush(stdout);
        }
    }
    QString totals = QString("long run: %1 min, %2 files (seeds up to %3), %4 findings, %5 kinds;")
                         .arg(timer.elapsed() / 60000.0, 0, 'f', 1)
                         .arg(files)
                         .arg(seed - 1)
                         .arg(findings)
                         .arg(byKind.size());
    for (const auto& [category, n] : byCategory)
        totals += QString(" %1: %2").arg(category).arg(n);
    totals += "\nkinds:\n";
    for (const auto& [kind, n] : byKind)
        totals += QString("  %1x %2\n").arg(n).arg(kind);
    std::printf("%s", qPrintable(totals));
    WriteAll(out.filePath("totals.txt"), totals.toUtf8());
}

int main(int argc, char* argv[]) {
    if (argc > 1 && std::strcmp(argv[1], "--qpdf-only") == 0)
        return NumberQpdfOnly(argc, argv);
    // A long run outlasts QtTest's watchdog of 5 minutes a test function.
    if (const int minutes = qEnvironmentVariableIntValue("NUMBREL_VIEWER_LOOP_MINUTES"); minutes > 0)
        qputenv("QTEST_FUNCTION_TIMEOUT", QByteArray::number((minutes + 10) * 60000));
    QCoreApplication app(argc, argv);
    ViewerLoopTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_viewer_loop.moc"
