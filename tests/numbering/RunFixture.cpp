#include "RunFixture.h"

#include "core/ProgressBar.h"
#include "core/Settings.h"
#include "filelist/FileList.h"
#include "sys/FileUtils.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

void WriteBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    f.write(bytes);
}

QByteArray ReadBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteBlankPdf(const QString& path, int pages, const QByteArray& version,
                   const QByteArray& catalogEntries) {
    QByteArray pdf = "%PDF-" + version + "\n%\xE2\xE3\xCF\xD3\n";
    QList<qsizetype> offsets;
    auto object = [&](const QByteArray& body) {
        offsets.append(pdf.size());
        pdf += QByteArray::number(offsets.size()) + " 0 obj\n" + body + "\nendobj\n";
    };
    QByteArray kids;
    for (int p = 0; p < pages; ++p)
        kids += QByteArray::number(3 + 2 * p) + " 0 R ";
    object("<< /Type /Catalog /Pages 2 0 R " + catalogEntries + " >>");
    object("<< /Type /Pages /Kids [" + kids + "] /Count " + QByteArray::number(pages) + " >>");
    for (int p = 0; p < pages; ++p) {
        object("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << >> /Contents " +
               QByteArray::number(4 + 2 * p) + " 0 R >>");
        object("<< /Length 0 >>\nstream\n\nendstream");
    }
    const qsizetype xref = pdf.size();
    pdf += "xref\n0 " + QByteArray::number(offsets.size() + 1) + "\n0000000000 65535 f \n";
    for (qsizetype offset : offsets)
        pdf += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    pdf += "trailer\n<< /Size " + QByteArray::number(offsets.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
           QByteArray::number(xref) + "\n%%EOF\n";
    WriteBytes(path, pdf);
}

QString StandInToolPath() {
    return QStringLiteral(NUMBREL_STANDIN_TOOL);
}

StandInFolders::StandInFolders()
    : oldTemp_(qgetenv("TEMP")) {
    QFile::copy(StandInToolPath(), program_.filePath(QStringLiteral("mbtPdfAsm.exe")));
    QFile::setPermissions(program_.filePath(QStringLiteral("mbtPdfAsm.exe")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QFile::link(BuiltProgramFolder() + QStringLiteral("/numbrel-batch"),
                program_.filePath(QStringLiteral("numbrel-batch")));
    OverrideProgramFolder(program_.path());
    qputenv("TEMP", QFile::encodeName(temp_.path()));
}

StandInFolders::~StandInFolders() {
    OverrideProgramFolder(BuiltProgramFolder());
    qputenv("TEMP", oldTemp_);
    for (const char* name :
         {"STANDIN_LOG", "STANDIN_CAPTURE", "STANDIN_SLEEP_MS", "STANDIN_EXIT", "STANDIN_LINK_OUTPUT"})
        qunsetenv(name);
}

QStringList StandInFolders::leftInTemp() const {
    return QDir(temp_.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

WindowUnderTest::WindowUnderTest(const StandInFolders* folders,
                                 const QList<QPair<Setting, QString>>& stored) {
    for (const auto& [key, value] : stored)
        WriteSetting(key, value);
    window_ = std::make_unique<Form1>(prompts_);
    window_->Form_Load();
    if (folders)
        OverrideProgramFolder(folders->programFolder());
    window_->show();
    type("Text5", output_.path());
    auto* bar = window_->findChild<ProgressBar*>(QStringLiteral("ProgressBar1"));
    QObject::connect(bar, &QProgressBar::valueChanged, bar,
                     [this, bar] { progressValues.append(bar->exactValue()); });
}

void WindowUnderTest::append(const QString& path) {
    window_->services().files.AppendPath(path);
}

QString WindowUnderTest::appendBlankPdf(const QString& path) {
    WriteBlankPdf(path, 1);
    append(path);
    return path;
}

void WindowUnderTest::type(const char* field, const QString& text) {
    auto* edit = window_->findChild<QLineEdit*>(QLatin1String(field));
    QVERIFY(edit);
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, text);
    QCOMPARE(edit->text(), text);
}

void WindowUnderTest::clickStart() {
    QTest::mouseClick(window_->findChild<QPushButton*>(QStringLiteral("PushButton2")), Qt::LeftButton);
}

QStringList WindowUnderTest::outputFiles() const {
    return QDir(output_.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}
