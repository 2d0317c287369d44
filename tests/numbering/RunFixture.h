#pragma once
// Shared pieces of the numbering tests: PDFs to number, a program folder with a stand-in tool, and
// the real window ready for a run.

#include "ScriptedPrompts.h"
#include "TestHome.h"
#include "app/Form1.h"
#include "core/Settings.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QTemporaryDir>
#include <memory>

// A valid PDF of blank US Letter pages, with the given header version; catalogEntries are added to
// its catalog dictionary (e.g. an /AcroForm that says the file is signed).
void WriteBlankPdf(const QString& path, int pages, const QByteArray& version = "1.4",
                   const QByteArray& catalogEntries = {});
void WriteBytes(const QString& path, const QByteArray& bytes);
QByteArray ReadBytes(const QString& path);

// The stand-in tool's path in the build.
QString StandInToolPath();

// A program folder holding the stand-in as mbtPdfAsm.exe and the built batch interpreter, and the
// process's TEMP pointed at a folder of its own.
class StandInFolders {
public:
    StandInFolders();
    ~StandInFolders();
    QString programFolder() const { return program_.path(); }
    QString temp() const { return temp_.path(); }
    // Files left in the temporary folder, by name.
    QStringList leftInTemp() const;

private:
    QTemporaryDir program_;
    QTemporaryDir temp_;
    QByteArray oldTemp_;
};

// The real window after its start-up, with an output folder of its own and the progress values
// recorded as the bar shows them.
class WindowUnderTest {
public:
    // With folders, the run uses their program folder (TestHome points it at the build's otherwise).
    // stored: settings written before the window starts, as a previous session left them.
    explicit WindowUnderTest(const StandInFolders* folders = nullptr,
                             const QList<QPair<Setting, QString>>& stored = {});
    Form1& window() { return *window_; }
    ScriptedPrompts& prompts() { return prompts_; }
    QString output() const { return output_.path(); }
    QList<double> progressValues;

    void append(const QString& path);
    // Writes a one-page PDF at path and appends it; returns the path.
    QString appendBlankPdf(const QString& path);
    // Replaces a field's text by typing, as a user would.
    void type(const char* field, const QString& text);
    void clickStart();
    QStringList outputFiles() const;

private:
    TestHome home_;
    ScriptedPrompts prompts_;
    QTemporaryDir output_;
    std::unique_ptr<Form1> window_;
};
