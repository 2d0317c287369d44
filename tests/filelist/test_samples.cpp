// "Load Sample/Example Files" on the real window offscreen, the sample PDFs that ship in the program
// folder, and a newcomer's first run over them.

#include "ListRows.h"
#include "ScriptedPrompts.h"
#include "TestHome.h"
#include "app/Form1.h"
#include "core/AppTitle.h"
#include "filelist/FolderScan.h"
#include "sys/FileUtils.h"

#include <QDir>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

namespace {
const QString kQuestion =
    "Would you like this software to open the folder where these sample files are stored "
    "(so that you can view them before working with them)?";

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// Runs a checker from poppler-utils or qpdf; its standard output, or a failed test.
QString runTool(const QString& program, const QStringList& arguments, int* exitCode = nullptr) {
    QProcess p;
    p.start(program, arguments);
    if (!p.waitForFinished(60000))
        return QStringLiteral("<%1 did not finish>").arg(program);
    if (exitCode)
        *exitCode = p.exitCode();
    return QString::fromUtf8(p.readAllStandardOutput());
}

QSize pageSize(const QString& pdf) {
    const QString info = runTool("pdfinfo", {pdf});
    const QRegularExpressionMatch m =
        QRegularExpression(R"(Page size:\s+([\d.]+) x ([\d.]+) pts)").match(info);
    return m.hasMatch() ? QSize(qRound(m.captured(1).toDouble()), qRound(m.captured(2).toDouble())) : QSize();
}

int pageCount(const QString& pdf) {
    const QRegularExpressionMatch m =
        QRegularExpression(R"(Pages:\s+(\d+))").match(runTool("pdfinfo", {pdf}));
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

// The text in the bottom-left corner of a page, where the numbers go with the default margins.
QString bottomCornerText(const QString& pdf, int page, const QSize& size) {
    const int strip = 60;
    return runTool("pdftotext", {"-f", QString::number(page), "-l", QString::number(page), "-x", "0", "-y",
                                 QString::number(size.height() - strip), "-W", "150", "-H",
                                 QString::number(strip), "-r", "72", pdf, "-"})
        .simplified();
}
} // namespace

class TestSamples : public QObject {
    Q_OBJECT
    TestHome home_;
    std::unique_ptr<ScriptedPrompts> prompts_;
    std::unique_ptr<Form1> window_;
    QTreeWidget* list_ = nullptr;
    std::unique_ptr<QTemporaryDir> programFolder_;

    void clickSamples() {
        QTest::mouseClick(window_->findChild<QPushButton*>("PushButton6"), Qt::LeftButton);
    }

    // A program folder of the test's own, with the samples folder given.
    QString makeSamples(const QStringList& files) {
        programFolder_ = std::make_unique<QTemporaryDir>();
        const QString samples = programFolder_->path() + "/Samples";
        QDir().mkpath(samples + "/More");
        for (const QString& name : files)
            writeFile(samples + "/" + name, "%PDF-1.4\n");
        writeFile(samples + "/More/inner.pdf", "%PDF-1.4\n");
        OverrideProgramFolder(programFolder_->path());
        return samples + "/";
    }

    void checkQuestions(int count) {
        const auto messages = prompts_->ofKind("message");
        QCOMPARE(messages.size(), count);
        for (const ShownPrompt& m : messages) {
            QCOMPARE(m.text, kQuestion);
            QCOMPARE(m.caption, ApplicationTitle());
            QCOMPARE(m.style, int(Prompts::YesNo));
        }
    }

private slots:
    void init() {
        home_.clearSettings();
        OverrideProgramFolder(BuiltProgramFolder());
        prompts_ = std::make_unique<ScriptedPrompts>();
        window_ = std::make_unique<Form1>(*prompts_);
        window_->Form_Load();
        window_->show();
        list_ = window_->findChild<QTreeWidget*>("ListView1");
    }

    void cleanup() {
        window_.reset();
        prompts_.reset();
        programFolder_.reset();
    }

    void appendsEverySampleOnceAndAlwaysAsks() {
        const QString samples = makeSamples({"one.pdf", "two.pdf", "notes.txt"});
        const QStringList names = ListFilesInFolder(samples, "*.*");
        QCOMPARE(QSet<QString>(names.begin(), names.end()),
                 (QSet<QString>{"one.pdf", "two.pdf", "notes.txt"}));
        QStringList expected;
        for (const QString& name : names)
            expected.append(samples + name);

        clickSamples();
        QCOMPARE(RowsOf(list_), expected);
        clickSamples();
        QCOMPARE(RowsOf(list_), expected);
        checkQuestions(2);
        QCOMPARE(prompts_->ofKind("open").size(), 0);

        // One sample removed from the list comes back alone, at the end.
        list_->setCurrentItem(list_->topLevelItem(0));
        QTest::keyClick(list_, Qt::Key_Delete);
        clickSamples();
        QCOMPARE(RowsOf(list_), expected.mid(1) + expected.mid(0, 1));
        checkQuestions(3);
    }

    void sampleListedInOtherLetterCaseIsStillAppended() {
        const QString samples = makeSamples({"one.pdf"});
        const QString other = samples.toUpper() + "ONE.PDF";
        window_->services().files.AppendPath(other);
        clickSamples();
        QCOMPARE(RowsOf(list_), (QStringList{other, samples + "one.pdf"}));
    }

    void missingSamplesFolderStillAsks() {
        programFolder_ = std::make_unique<QTemporaryDir>();
        OverrideProgramFolder(programFolder_->path());
        window_->services().files.AppendPath("/kept.pdf");
        clickSamples();
        QCOMPARE(RowsOf(list_), QStringList{"/kept.pdf"});
        checkQuestions(1);
    }

    void yesOpensTheSamplesFolder_data() {
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("opened");
        QTest::newRow("Yes") << int(Prompts::Yes) << 1;
        QTest::newRow("No") << int(Prompts::No) << 0;
    }

    void yesOpensTheSamplesFolder() {
        QFETCH(int, answer);
        QFETCH(int, opened);
        const QString samples = makeSamples({"one.pdf"});
        for (int click = 0; click < 2; ++click) {
            prompts_->messageAnswers.enqueue(answer);
            clickSamples();
        }
        const auto opens = prompts_->ofKind("open");
        QCOMPARE(opens.size(), 2 * opened);
        for (const ShownPrompt& open : opens)
            QCOMPARE(open.text, samples);
        QCOMPARE(list_->topLevelItemCount(), 1);
    }

    // The samples that ship: valid PDFs that show what the program is for.
    void shippedSamples() {
        const QString samples = BuiltProgramFolder() + "/Samples/";
        const QStringList pdfs = QDir(samples).entryList({"*.pdf"}, QDir::Files, QDir::Name);
        QVERIFY2(pdfs.size() >= 4, qPrintable(pdfs.join(", ")));
        int newer = 0, landscape = 0, longest = 0;
        for (const QString& name : pdfs) {
            const QString pdf = samples + name;
            int status = -1;
            runTool("qpdf", {"--check", pdf}, &status);
            QVERIFY2(status == 0, qPrintable(name));
            QFile f(pdf);
            QVERIFY(f.open(QIODevice::ReadOnly));
            const QByteArray head = f.read(8);
            QVERIFY2(head.startsWith("%PDF-1."), qPrintable(name));
            newer += head.mid(5, 3).toDouble() > 1.6;
            const QSize size = pageSize(pdf);
            landscape += size.width() > size.height();
            const int pages = pageCount(pdf);
            longest = std::max(longest, pages);
            // Every page leaves the bottom-left corner free for its number.
            for (int page = 1; page <= pages; ++page)
                QVERIFY2(bottomCornerText(pdf, page, size).isEmpty(), qPrintable(name));
        }
        QCOMPARE(newer, 1);
        QVERIFY(landscape >= 1);
        QVERIFY(longest >= 3);
    }

    void firstRunNumbersTheSamples() {
        QTemporaryDir temp, output;
        qputenv("TEMP", QFile::encodeName(temp.path()));
        window_->findChild<QLineEdit*>("Text5")->setText(output.path() + "/");

        clickSamples();
        QCOMPARE(list_->topLevelItemCount(), 4);
        QTest::mouseClick(window_->findChild<QPushButton*>("PushButton2"), Qt::LeftButton);

        const QStringList messages = prompts_->messages();
        QCOMPARE(messages.last(), QString("Done."));
        const QString refused = BuiltProgramFolder() + "/Samples/Sample-Newer-PDF17.pdf";
        QVERIFY2(messages.contains(refused +
                                   " has a higher version which is 1.7\r\nThis file cannot be processed."),
                 qPrintable(messages.join(" | ")));

        const QStringList numbered = QDir(output.path()).entryList(QDir::Files, QDir::Name);
        QCOMPARE(numbered, (QStringList{"Sample-Landscape.pdf", "Sample-Letter.pdf", "Sample-Report.pdf"}));
        for (const QString& name : numbered) {
            const QString pdf = output.path() + "/" + name;
            const QSize size = pageSize(pdf);
            QCOMPARE(size, pageSize(BuiltProgramFolder() + "/Samples/" + name));
            for (int page = 1; page <= pageCount(pdf); ++page)
                QCOMPARE(bottomCornerText(pdf, page, size), QString::number(page));
        }
        qunsetenv("TEMP");
    }
};

QTEST_MAIN(TestSamples)
#include "test_samples.moc"
