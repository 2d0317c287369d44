// The program used as a careless or hostile user would, on the real window offscreen: commands
// started while a run is under way, and names and files chosen to break things, numbered by the real
// batch interpreter and the real numbering tool.

#include "ListRows.h"
#include "RunFixture.h"

#include "core/ProgressBar.h"
#include "filelist/FileList.h"
#include "numbering/NumberingRun.h"
#include "sys/FileUtils.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QTreeWidget>
#include <QUrl>
#include <QtTest>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QByteArray runTool(const QString& program, const QStringList& arguments, int* status) {
    QProcess p;
    p.start(program, arguments);
    if (!p.waitForFinished(60000))
        return {};
    *status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return p.readAllStandardOutput();
}

// Every entry below folder (links not followed) with a digest of each file's bytes.
QMap<QString, QByteArray> snapshot(const QString& folder) {
    QMap<QString, QByteArray> seen;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info = it.fileInfo();
        QByteArray digest = "other";
        if (info.isFile() && !info.isSymLink()) {
            QFile f(path);
            digest = f.open(QIODevice::ReadOnly)
                         ? QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha1)
                         : QByteArray("unreadable");
        } else if (info.isDir()) {
            digest = "folder";
        }
        seen.insert(path, digest);
    }
    return seen;
}

// Drops local paths on the list as the file manager does.
void dropOn(QTreeWidget* list, const QStringList& paths) {
    QMimeData data;
    QList<QUrl> urls;
    for (const QString& path : paths)
        urls.append(QUrl::fromLocalFile(path));
    data.setUrls(urls);
    QWidget* target = list->viewport();
    const QPoint at = target->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QDropEvent dropped(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &dropped);
}
} // namespace

class TestHostile : public QObject {
    Q_OBJECT
private slots:
    void rowsStayWhileARunIsUnderWay_data();
    void rowsStayWhileARunIsUnderWay();
    void hostileInputsThroughARealRun();
    void toolSavesUnderAnyName_data();
    void toolSavesUnderAnyName();
    void killedToolLeavesNoPartialCopy();
};

// A folder add started during a run ends its own busy claim, not the run's: the pointer stays busy,
// and the rows stay where they are until the run has read them all.
void TestHostile::rowsStayWhileARunIsUnderWay_data() {
    QTest::addColumn<QString>("action");
    QTest::newRow("drag the first row onto the last") << "drag";
    QTest::newRow("Delete on the first row") << "delete";
    QTest::newRow("double-click on the first row") << "double-click";
    QTest::newRow("Clear List") << "clear";
}
void TestHostile::rowsStayWhileARunIsUnderWay() {
    QFETCH(QString, action);
    StandInFolders folders;
    QTemporaryDir scratch, inputs, added;
    const QString log = scratch.filePath(QStringLiteral("log.txt"));
    qputenv("STANDIN_LOG", QFile::encodeName(log));
    qputenv("STANDIN_SLEEP_MS", "100");
    WindowUnderTest w(&folders);
    auto* list = w.window().findChild<QTreeWidget*>(QStringLiteral("ListView1"));
    auto* bar = w.window().findChild<ProgressBar*>(QStringLiteral("ProgressBar1"));
    QStringList listed;
    for (const char* name : {"a.pdf", "b.pdf", "c.pdf"})
        listed.append(w.appendBlankPdf(inputs.filePath(QLatin1String(name))));
    WriteBlankPdf(added.filePath(QStringLiteral("d.pdf")), 1);

    bool acted = false, busyAfterAdd = false;
    Qt::CursorShape pointerAfterAdd = Qt::ArrowCursor;
    QStringList rowsAfterAdd, rowsAfterAction;
    QTimer during;
    QObject::connect(&during, &QTimer::timeout, [&] {
        if (acted || bar->text() != QStringLiteral("Processing: b.pdf"))
            return;
        acted = true;
        w.prompts().inputAnswers.enqueue(QStringLiteral("pdf"));
        w.prompts().folders.enqueue(added.path());
        QTest::mouseClick(w.window().findChild<QPushButton*>(QStringLiteral("PushButton3")), Qt::LeftButton);
        busyAfterAdd = w.window().isBusy();
        pointerAfterAdd = w.window().cursor().shape();
        rowsAfterAdd = RowsOf(list);
        QWidget* viewport = list->viewport();
        const QPoint first = list->visualItemRect(list->topLevelItem(0)).center();
        const QPoint last = list->visualItemRect(list->topLevelItem(2)).center();
        if (action == QLatin1String("drag")) {
            QTest::mousePress(viewport, Qt::LeftButton, {}, first);
            QMouseEvent move(QEvent::MouseMove, last, viewport->mapToGlobal(QPointF(last.x(), 330)),
                             Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(viewport, &move);
            QTest::mouseRelease(viewport, Qt::LeftButton, {}, last);
        } else if (action == QLatin1String("delete")) {
            QTest::mouseClick(viewport, Qt::LeftButton, {}, first);
            QTest::keyClick(list, Qt::Key_Delete);
        } else if (action == QLatin1String("double-click")) {
            QTest::mouseDClick(viewport, Qt::LeftButton, {}, first);
        } else {
            QTest::mouseClick(w.window().findChild<QPushButton*>(QStringLiteral("PushButton5")),
                              Qt::LeftButton);
        }
        rowsAfterAction = RowsOf(list);
    });
    during.start(5);
    w.clickStart();
    during.stop();

    QVERIFY(acted);
    const QStringList expectedRows = listed + QStringList{added.filePath(QStringLiteral("d.pdf"))};
    QCOMPARE(rowsAfterAdd, expectedRows);
    QVERIFY(busyAfterAdd);
    QCOMPARE(pointerAfterAdd, Qt::WaitCursor);
    QCOMPARE(rowsAfterAction, expectedRows);
    // Each listed file numbered exactly once; the added one came after the run counted its files.
    QCOMPARE(ReadBytes(log).count('\n'), 3);
    QCOMPARE(w.outputFiles(), (QStringList{"a.pdf", "b.pdf", "c.pdf"}));
    for (const QString& input : listed)
        QCOMPARE(ReadBytes(w.output() + QLatin1Char('/') + GetFileNamePart(input)),
                 ReadBytes(input) + "%numbered\n");
    QCOMPARE(w.prompts().messages(), QStringList{QStringLiteral("Done.")});
    QVERIFY(!w.window().isBusy());
    QCOMPARE(w.window().cursor().shape(), Qt::ArrowCursor);
}

void TestHostile::hostileInputsThroughARealRun() {
    QTemporaryDir temp;
    const QByteArray oldTemp = qgetenv("TEMP");
    qputenv("TEMP", QFile::encodeName(temp.path()));
    QTemporaryDir inputs;
    const QString in = inputs.path() + QStringLiteral("/in");
    QVERIFY(QDir().mkpath(in + QStringLiteral("/x.pdf")));
    // Names that mean something to a shell, to the script's quoting, to the tool's options or to the
    // boxes that show them.
    const QStringList names{
        QStringLiteral("it's \"quoted\".pdf"),
        QStringLiteral("a & b.pdf"),
        QStringLiteral("100% %PATH% %1.pdf"),
        QStringLiteral("bang!.pdf"),
        QStringLiteral("$(touch pwned).pdf"),
        QStringLiteral("`touch pwned2`;x.pdf"),
        QStringLiteral("-n.pdf"),
        QStringLiteral("--help.pdf"),
        QStringLiteral("new\nline.pdf"),
        QStringLiteral("cr\rhere.pdf"),
        QStringLiteral("\u00dcbersicht \u6587\u66f8 \u2713.pdf"),
        QStringLiteral("<i>tag<br> ^|>.pdf"),
        QStringLiteral("x.pdf/inside.pdf"),
        QString(83, QChar(0x6587)) + QStringLiteral("xx.pdf"),
    };
    for (const QString& name : names)
        WriteBlankPdf(in + QLatin1Char('/') + name, 2);
    const QString empty = in + QStringLiteral("/empty.pdf");
    WriteBytes(empty, QByteArray());
    const QString fifo = in + QStringLiteral("/fifo.pdf");
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0644), 0);
    const QString folderNamedPdf = in + QStringLiteral("/x.pdf");
    const auto before = snapshot(inputs.path());

    WindowUnderTest w;
    auto* list = w.window().findChild<QTreeWidget*>(QStringLiteral("ListView1"));
    // The folder add takes every regular .pdf file of the tree (not the FIFO, not the folder).
    w.prompts().inputAnswers.enqueue(QStringLiteral("pdf"));
    w.prompts().folders.enqueue(in);
    QTest::mouseClick(w.window().findChild<QPushButton*>(QStringLiteral("PushButton3")), Qt::LeftButton);
    QStringList added = RowsOf(list);
    QStringList expectedAdded;
    for (const QString& name : names)
        expectedAdded.append(in + QLatin1Char('/') + name);
    expectedAdded.append(empty);
    added.sort();
    expectedAdded.sort();
    QCOMPARE(added, expectedAdded);
    // Dropped one by one, the FIFO and the folder's files are rows too; the dialog can name the
    // folder itself.
    dropOn(list, {fifo});
    w.prompts().fileSelections.enqueue({folderNamedPdf});
    QTest::mouseClick(w.window().findChild<QPushButton*>(QStringLiteral("PushButton1")), Qt::LeftButton);
    QCOMPARE(RowsOf(list).size(), names.size() + 3);
    QCOMPARE(RowsOf(list).mid(names.size() + 1), (QStringList{fifo, folderNamedPdf}));

    const QString cwd = QDir::currentPath();
    QDir::setCurrent(temp.path());
    w.clickStart();
    QDir::setCurrent(cwd);
    qputenv("TEMP", oldTemp);

    // Every ordinary file has its numbered copy, sound and numbered from 1.
    for (const QString& name : names) {
        const QString output = w.output() + QLatin1Char('/') + GetFileNamePart(name);
        int status = -1;
        runTool(QStringLiteral("qpdf"), {QStringLiteral("--check"), output}, &status);
        QVERIFY2(status == 0, qPrintable(name));
        const QString text =
            QString::fromUtf8(runTool(QStringLiteral("pdftotext"), {output, QStringLiteral("-")}, &status));
        QVERIFY2(text.contains(QLatin1Char('1')) && text.contains(QLatin1Char('2')),
                 qPrintable(name + ": " + text));
    }
    // The empty file, the FIFO and the folder are listed with their reasons in the final box.
    const QStringList boxes = w.prompts().messages();
    QVERIFY(!boxes.isEmpty());
    const QString done = boxes.last();
    QVERIFY2(done.startsWith(QStringLiteral("Done.\r\n\r\nNo numbered copy was made of these files:")),
             qPrintable(done));
    for (const QString& path : {empty, fifo, folderNamedPdf})
        QVERIFY2(done.contains(QStringLiteral("\r\n") + path + QStringLiteral(" (")), qPrintable(done));
    QCOMPARE(done.count(QStringLiteral("\r\n")) - 2, 3);
    QStringList expectedOutputs;
    for (const QString& name : names)
        expectedOutputs.append(GetFileNamePart(name));
    expectedOutputs.sort();
    QCOMPARE(w.outputFiles(), expectedOutputs);
    // Nothing ran that a name spelled out, the inputs are as they were, nothing is left behind.
    for (const QString& folder : {temp.path(), in, w.output(), cwd})
        for (const char* planted : {"pwned", "pwned2"})
            QVERIFY2(!QFile::exists(folder + QLatin1Char('/') + QLatin1String(planted)), qPrintable(folder));
    QCOMPARE(snapshot(inputs.path()), before);
    QCOMPARE(QDir(temp.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList());
    qInfo() << "boxes shown:" << boxes;
}

namespace {
QString toolPath() {
    return BuiltProgramFolder() + QStringLiteral("/mbtPdfAsm.exe");
}
QStringList toolArguments(const QString& input, const QString& output) {
    return {QStringLiteral("-m") + input, QStringLiteral("-n"),         QStringLiteral("-N01"),
            QStringLiteral("-Ns10"),      QStringLiteral("-Nc0,0,0"),   QStringLiteral("-Nx10"),
            QStringLiteral("-Ny10"),      QStringLiteral("-d") + output};
}
QStringList entriesOf(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                  QDir::Name);
}
} // namespace

// The tool's temporary file never takes a name longer than the output's own.
void TestHostile::toolSavesUnderAnyName_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("existing");
    QTest::newRow("255 bytes, new") << QString(251, 'n') + ".pdf" << false;
    QTest::newRow("255 bytes, replacing") << QString(251, 'r') + ".pdf" << true;
    QTest::newRow("CJK at 255 bytes") << QString(83, QChar(0x6587)) + "xx.pdf" << false;
}
void TestHostile::toolSavesUnderAnyName() {
    QFETCH(QString, name);
    QFETCH(bool, existing);
    QCOMPARE(QFile::encodeName(name).size(), 255);
    QTemporaryDir inputs, outputs;
    const QString input = inputs.filePath(QStringLiteral("in.pdf"));
    WriteBlankPdf(input, 2);
    const QString output = outputs.filePath(name);
    if (existing)
        WriteBytes(output, "old");
    QProcess tool;
    tool.start(toolPath(), toolArguments(input, output));
    QVERIFY(tool.waitForFinished(60000));
    QVERIFY2(tool.exitCode() == 0, tool.readAllStandardError().constData());
    int status = -1;
    runTool(QStringLiteral("qpdf"), {QStringLiteral("--check"), output}, &status);
    QCOMPARE(status, 0);
    QCOMPARE(entriesOf(outputs.path()), QStringList{name});
}

// kill -9 while the tool writes its copy leaves the old output (or none) and nothing else.
void TestHostile::killedToolLeavesNoPartialCopy() {
    QTemporaryDir inputs, outputs;
    const QString input = inputs.filePath(QStringLiteral("big.pdf"));
    {
        // One page with a large image: the tool copies its bytes as they are, which takes a while.
        constexpr qsizetype kImageBytes = qsizetype(256) << 20;
        QFile f(input);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QList<qint64> offsets;
        auto object = [&](const QByteArray& body) {
            offsets.append(f.pos());
            f.write(QByteArray::number(offsets.size()) + " 0 obj\n" + body + "\nendobj\n");
        };
        f.write("%PDF-1.4\n");
        object("<< /Type /Catalog /Pages 2 0 R >>");
        object("<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
        object("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /XObject << /Im 5 0 R >> "
               ">> /Contents 4 0 R >>");
        object("<< /Length 26 >>\nstream\nq 612 0 0 792 0 0 cm /Im Do Q\nendstream");
        offsets.append(f.pos());
        f.write("5 0 obj\n<< /Type /XObject /Subtype /Image /Width 8192 /Height 10923 /ColorSpace /DeviceRGB "
                "/BitsPerComponent 8 /Length " +
                QByteArray::number(kImageBytes) + " >>\nstream\n");
        const QByteArray chunk(1 << 20, '\x7f');
        for (qsizetype written = 0; written < kImageBytes; written += chunk.size())
            f.write(chunk);
        f.write("\nendstream\nendobj\n");
        const qint64 xref = f.pos();
        f.write("xref\n0 6\n0000000000 65535 f \n");
        for (qint64 offset : offsets)
            f.write(QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n");
        f.write("trailer\n<< /Size 6 /Root 1 0 R >>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n");
    }
    const QString output = outputs.filePath(QStringLiteral("out.pdf"));
    WriteBytes(output, "old");
    QProcess tool;
    tool.start(toolPath(), toolArguments(input, output));
    QVERIFY(tool.waitForStarted());
    const QByteArray fds = "/proc/" + QByteArray::number(tool.processId()) + "/fd/";
    const QByteArray folder = QFile::encodeName(outputs.path()) + '/';
    // Caught while it writes: a file of the output folder, open and already holding some bytes.
    auto writing = [&] {
        for (const QString& fd : QDir(QFile::decodeName(fds)).entryList(QDir::AllEntries | QDir::System)) {
            const QByteArray where = fds + QFile::encodeName(fd);
            char target[4096];
            const ssize_t n = ::readlink(where.constData(), target, sizeof target);
            struct stat st {};
            if (n > 0 && QByteArray(target, n).startsWith(folder) && ::stat(where.constData(), &st) == 0 &&
                S_ISREG(st.st_mode) && st.st_size > 0 && QByteArray(target, n) != QFile::encodeName(output))
                return true;
        }
        return false;
    };
    QElapsedTimer waited;
    waited.start();
    while (!writing() && tool.state() == QProcess::Running && waited.elapsed() < 60000)
        tool.waitForFinished(1);
    QVERIFY2(tool.state() == QProcess::Running, "the tool ended before it was seen writing");
    tool.kill(); // SIGKILL
    QVERIFY(tool.waitForFinished(10000));
    QCOMPARE(entriesOf(outputs.path()), QStringList{QStringLiteral("out.pdf")});
    QCOMPARE(ReadBytes(output), QByteArray("old"));
}

QTEST_MAIN(TestHostile)
#include "test_hostile.moc"
