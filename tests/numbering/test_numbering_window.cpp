// "Start Adding" end to end: the real window, the real batch interpreter and the real numbering
// tool; the numbers are read back from the output files with poppler.

#include "RunFixture.h"

#include "core/AppTitle.h"
#include "sys/FileUtils.h"

#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QtTest>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {
struct Word {
    QString text;
    double xMin, yMin, xMax, yMax;
};
struct Page {
    double width = 0, height = 0;
    QList<Word> words;
};

QByteArray runTool(const QString& program, const QStringList& arguments, int* status = nullptr) {
    QProcess p;
    p.start(program, arguments);
    if (!p.waitForFinished(60000))
        return {};
    if (status)
        *status = p.exitCode();
    return p.readAllStandardOutput();
}

// The words of every page as pdftotext -bbox sees them.
QList<Page> readWords(const QString& pdf) {
    const QString html = QString::fromUtf8(runTool(QStringLiteral("pdftotext"), {"-bbox", pdf, "-"}));
    static const QRegularExpression pageTag(
        QStringLiteral("<page width=\"([\\d.]+)\" height=\"([\\d.]+)\">"));
    static const QRegularExpression wordTag(QStringLiteral(
        "<word xMin=\"([\\d.]+)\" yMin=\"([\\d.]+)\" xMax=\"([\\d.]+)\" yMax=\"([\\d.]+)\">([^<]*)</word>"));
    QList<Page> pages;
    for (const QString& chunk : html.split(QStringLiteral("</page>"))) {
        const auto page = pageTag.match(chunk);
        if (!page.hasMatch())
            continue;
        Page p{page.captured(1).toDouble(), page.captured(2).toDouble(), {}};
        for (auto it = wordTag.globalMatch(chunk); it.hasNext();) {
            const auto w = it.next();
            p.words.append({w.captured(5), w.captured(1).toDouble(), w.captured(2).toDouble(),
                            w.captured(3).toDouble(), w.captured(4).toDouble()});
        }
        pages.append(p);
    }
    return pages;
}
} // namespace

class TestNumberingWindow : public QObject {
    Q_OBJECT
private slots:
    void numbersEveryListedFile();
    void closingDuringRunEndsProgram();
    void toolWordsReachTheUser_data();
    void toolWordsReachTheUser();
};

void TestNumberingWindow::numbersEveryListedFile() {
    QTemporaryDir temp;
    const QByteArray oldTemp = qgetenv("TEMP");
    qputenv("TEMP", QFile::encodeName(temp.path()));
    WindowUnderTest w;
    QTemporaryDir inputs;
    const QString one = inputs.filePath(QStringLiteral("one page.pdf"));
    const QString three = inputs.filePath(QStringLiteral("three.pdf"));
    const QString newer = inputs.filePath(QStringLiteral("newer.pdf"));
    const QString report =
        CorpusFolder() + QStringLiteral("/py-pdf-sample-files/004-pdflatex-4-pages__pdflatex-4-pages.pdf");
    WriteBlankPdf(one, 1);
    WriteBlankPdf(three, 3, "1.6");
    WriteBlankPdf(newer, 2, "1.7");
    for (const QString& path : {one, newer, three, report})
        w.append(path);
    w.type("Text1", QStringLiteral("5"));
    w.type("Text2", QStringLiteral("40"));
    w.type("Text3", QStringLiteral("30"));
    w.type("Text4", QStringLiteral("14"));
    w.prompts().colours.enqueue(QColor(0, 0, 255));
    QTest::mouseClick(w.window().findChild<QPushButton*>(QStringLiteral("PushButton4")), Qt::LeftButton);
    w.clickStart();
    qputenv("TEMP", oldTemp);

    QCOMPARE(w.prompts().messages(),
             (QStringList{newer + QStringLiteral(
                                      " has a higher version which is 1.7\r\nThis file cannot be processed."),
                          QStringLiteral("Done.")}));
    QCOMPARE(w.prompts().ofKind(QStringLiteral("message")).first().caption, ApplicationTitle());
    const QString reportName = GetFileNamePart(report);
    QCOMPARE(w.outputFiles(), (QStringList{reportName, "one page.pdf", "three.pdf"}));
    QCOMPARE(QDir(temp.path()).entryList(QDir::Files | QDir::Hidden), QStringList());

    const struct {
        QString name;
        int pages;
    } expected[] = {{"one page.pdf", 1}, {"three.pdf", 3}, {reportName, 4}};
    const double size = 14, left = 40, bottom = 30;
    for (const auto& file : expected) {
        const QString output = w.output() + QLatin1Char('/') + file.name;
        int status = -1;
        runTool(QStringLiteral("qpdf"), {"--check", output}, &status);
        QCOMPARE(status, 0);
        const QList<Page> pages = readWords(output);
        QCOMPARE(pages.size(), file.pages);
        for (int k = 0; k < pages.size(); ++k) {
            const Page& page = pages.at(k);
            const QString number = QString::number(5 + k);
            const Word* found = nullptr;
            for (const Word& word : page.words)
                if (word.text == number && qAbs(word.xMin - left) < 3)
                    found = &word;
            QVERIFY2(
                found,
                qPrintable(file.name +
                           QStringLiteral(": no %1 at the left margin on page %2").arg(number).arg(k + 1)));
            // The glyph box sits on the baseline, bottom points up, and is about one font size high.
            const double baseline = page.height - found->yMax;
            QVERIFY2(baseline > bottom - 0.35 * size && baseline < bottom + 1,
                     qPrintable(QString::number(baseline)));
            const double height = found->yMax - found->yMin;
            QVERIFY2(height > 0.8 * size && height < 1.4 * size, qPrintable(QString::number(height)));
        }
        // The number is drawn in the chosen blue.
        const Word& first = [&]() -> const Word& {
            for (const Word& word : pages.first().words)
                if (word.text == QLatin1String("5") && qAbs(word.xMin - left) < 3)
                    return word;
            return pages.first().words.first();
        }();
        QTemporaryDir render;
        runTool(QStringLiteral("pdftoppm"),
                {"-r", "72", "-f", "1", "-l", "1", "-png", "-singlefile", "-x",
                 QString::number(int(first.xMin)), "-y", QString::number(int(first.yMin)), "-W",
                 QString::number(int(first.xMax - first.xMin) + 2), "-H",
                 QString::number(int(first.yMax - first.yMin) + 2), output,
                 render.filePath(QStringLiteral("crop"))});
        const QImage image(render.filePath(QStringLiteral("crop.png")));
        QVERIFY(!image.isNull());
        int blue = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                if (c.blue() > 200 && c.red() < 90 && c.green() < 90)
                    ++blue;
            }
        QVERIFY2(blue > 0, qPrintable(file.name));
    }
}

void TestNumberingWindow::closingDuringRunEndsProgram() {
    StandInFolders folders; // TEMP and a stand-in tool that takes its time
    QTemporaryDir inputs, output;
    QStringList arguments{folders.programFolder(), output.path()};
    for (const char* name : {"a.pdf", "b.pdf", "c.pdf"}) {
        WriteBlankPdf(inputs.filePath(QLatin1String(name)), 1);
        arguments.append(inputs.filePath(QLatin1String(name)));
    }
    QProcess helper;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("STANDIN_SLEEP_MS"), QStringLiteral("1500"));
    helper.setProcessEnvironment(env);
    helper.start(QStringLiteral(NUMBREL_CLOSE_HELPER), arguments);
    QVERIFY(helper.waitForStarted());
    QElapsedTimer sinceClose;
    QByteArray said;
    while (!said.contains("closing") && helper.state() == QProcess::Running) {
        helper.waitForReadyRead(100);
        said += helper.readAllStandardOutput();
    }
    sinceClose.start();
    QVERIFY(helper.waitForFinished(10000));
    qInfo("the program ended %lld ms after the close", sinceClose.elapsed());
    said += helper.readAllStandardOutput();
    QCOMPARE(said, QByteArray("closing\n"));
    QCOMPARE(helper.exitStatus(), QProcess::NormalExit);
    QCOMPARE(helper.exitCode(), 0);
    // The stand-in goes on after the window has gone, and keeps the temporary folder from another
    // window's run until it ends; its numbered copy must not arrive anyway.
    const int folder =
        ::open(QFile::encodeName(folders.temp()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    QVERIFY(folder >= 0);
    QCOMPARE(::flock(folder, LOCK_EX | LOCK_NB), -1);
    QTRY_VERIFY_WITH_TIMEOUT(::flock(folder, LOCK_EX | LOCK_NB) == 0, 30000);
    ::close(folder);
    QCOMPARE(QDir(output.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("a.pdf")});
}

void TestNumberingWindow::toolWordsReachTheUser_data() {
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("kind"); // blank, signed or damaged
    QTest::addColumn<bool>("copyMade");
    // NAME stands for the input's name, VICTIM for a folder of the user's; a text ending in "..."
    // is the start of what is said (the tool's own words for a repair may change).
    QTest::addColumn<QString>("said");
    const QString offPage = QStringLiteral(
        "the number lies outside the visible page on every page of NAME; no number can be seen (check the "
        "left and bottom margins)");
    QTest::newRow("signed input")
        << "Text2"
        << "40"
        << "signed" << true
        << "NAME is digitally signed; the signature still holds for the signed revision, and the page "
           "numbers are a later change that it does not sign";
    QTest::newRow("damaged input") << "Text2"
                                   << "40"
                                   << "damaged" << true << "NAME: file is damaged...";
    QTest::newRow("left margin -400") << "Text2"
                                      << "-400"
                                      << "blank" << true << offPage;
    QTest::newRow("bottom margin 5000") << "Text3"
                                        << "5000"
                                        << "blank" << true << offPage;
    QTest::newRow("pasted left margin 7 LF del")
        << "Text2"
        << "7\ndel VICTIM/*"
        << "blank" << false << "mbtPdfAsm.exe: unknown argument \"del\" (see --help)";
}

void TestNumberingWindow::toolWordsReachTheUser() {
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(QString, kind);
    QFETCH(bool, copyMade);
    QFETCH(QString, said);
    QTemporaryDir temp, inputs, victim;
    WriteBytes(victim.filePath(QStringLiteral("keep.pdf")), "%PDF-1.4\nthe user's own\n");
    text.replace(QLatin1String("VICTIM"), victim.path());
    const QByteArray oldTemp = qgetenv("TEMP");
    qputenv("TEMP", QFile::encodeName(temp.path()));
    WindowUnderTest w;
    const QString input = inputs.filePath(QStringLiteral("report.pdf"));
    if (kind == QLatin1String("damaged"))
        WriteBytes(input,
                   ReadBytes(CorpusFolder() + QStringLiteral("/qpdf/qpdf__qtest__qpdf__global_damaged.pdf")));
    else
        WriteBlankPdf(input, 2, "1.4",
                      kind == QLatin1String("signed") ? "/AcroForm << /Fields [] /SigFlags 3 >>" : "");
    w.append(input);
    auto* edit = w.window().findChild<QLineEdit*>(field);
    QVERIFY(edit);
    edit->setText(text);
    w.clickStart();
    qputenv("TEMP", oldTemp);

    said.replace(QLatin1String("NAME"), QStringLiteral("report.pdf"));
    const QString expected =
        copyMade ? QStringLiteral("Done.\r\n\r\nThis file was numbered with a warning:\r\n") + input +
                       QStringLiteral(" (") + said + QLatin1Char(')')
                 : QStringLiteral("Done.\r\n\r\nNo numbered copy was made of this file:\r\n") + input +
                       QStringLiteral(" (") + said + QLatin1Char(')');
    if (expected.endsWith(QLatin1String("...)"))) {
        QCOMPARE(w.prompts().messages().size(), 1);
        const QString shown = w.prompts().messages().first();
        QVERIFY2(shown.startsWith(expected.chopped(4)), qPrintable(shown));
        QVERIFY2(!shown.contains(QLatin1String("temp1.pdf")), qPrintable(shown));
    } else {
        QCOMPARE(w.prompts().messages(), QStringList{expected});
    }
    QCOMPARE(w.outputFiles(), copyMade ? QStringList{QStringLiteral("report.pdf")} : QStringList());
    QCOMPARE(ReadBytes(victim.filePath(QStringLiteral("keep.pdf"))),
             QByteArray("%PDF-1.4\nthe user's own\n"));
    QCOMPARE(QDir(temp.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList());
}

QTEST_MAIN(TestNumberingWindow)
#include "test_numbering_window.moc"
