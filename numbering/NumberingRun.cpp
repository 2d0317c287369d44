#include "numbering/NumberingRun.h"

#include "app/AppTitle.h"
#include "app/BusyState.h"
#include "app/ErrorReport.h"
#include "app/NumberingOptions.h"
#include "app/ProgressBar.h"
#include "app/Prompts.h"
#include "app/Services.h"
#include "filelist/FileList.h"
#include "numbering/HeaderCheck.h"
#include "numbering/RunScript.h"
#include "numbering/ScriptRunner.h"
#include "numbering/TemporaryFolder.h"
#include "numbering/TemporaryFolderLock.h"
#include "sys/FileUtils.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QThread>

#include <stdexcept>
#include <sys/stat.h>

namespace {
const QString kTag = QStringLiteral("Numbrel2021/08/31.Form1.PushButton2_Click");
constexpr int kListedFailures = 20;

bool runUnderWay = false;

class RunUnderWay {
public:
    RunUnderWay() { runUnderWay = true; }
    ~RunUnderWay() { runUnderWay = false; }
    RunUnderWay(const RunUnderWay&) = delete;
    RunUnderWay& operator=(const RunUnderWay&) = delete;
};

// A listed file that got no numbered copy, and why.
struct Failure {
    QString path;
    QString reason;
};

void showMessage(Prompts& prompts, const QString& text) {
    prompts.messageBox(text, ApplicationTitle(), Prompts::OkOnly);
}

// What the completion wait looks for: a file, not a folder and not a hidden one.
bool fileExists(const QString& path) {
    const int attributes = FileAttributes(path);
    return attributes >= 0 && !(attributes & (AttrDirectory | AttrHidden | AttrSystem));
}

// Device and inode of a path, to tell whether a copy really replaced the file there.
struct FileIdentity {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};

FileIdentity identityOf(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return {true, st.st_dev, st.st_ino};
}

// Where a path lies, with its folder resolved, so that "T/./temp1.pdf" and a link to T compare equal.
QString locationKey(const QString& path) {
    const QFileInfo info(path);
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    return (folder.isEmpty() ? info.absolutePath() : folder) + QLatin1Char('/') + info.fileName();
}

// A listed file or an output path that is one of the run's own working files would be deleted or
// overwritten by the run itself.
bool isWorkingFile(const QString& path, const QString& temporaryFolder) {
    if (path.isEmpty())
        return false;
    QStringList places{locationKey(path)};
    const QString resolved = QFileInfo(path).canonicalFilePath();
    if (!resolved.isEmpty())
        places.append(resolved);
    for (const char* name : {"temp1.pdf", "temp2.pdf", "temp.bat"})
        if (places.contains(locationKey(temporaryFolder + QLatin1Char('/') + QLatin1String(name))))
            return true;
    return false;
}

QString outputPathFor(const QString& outputFolder, const QString& input) {
    return CollapseBackslashes(outputFolder + QLatin1Char('/') + GetFileNamePart(input));
}

// The tool's own last word on standard error, when it said anything.
QString toolReason(const WaitReport& report) {
    const QStringList lines = QString::fromLocal8Bit(report.errorOutput).split(QLatin1Char('\n'));
    constexpr qsizetype kLongest = 200; // the box lists many files; one of them must not fill it
    for (auto line = lines.crbegin(); line != lines.crend(); ++line) {
        const QString reason = line->trimmed();
        if (!reason.isEmpty())
            return reason.size() > kLongest ? reason.left(kLongest - 3) + QStringLiteral("...") : reason;
    }
    return QStringLiteral("the numbering tool made no numbered copy");
}

QString doneText(const QList<Failure>& failures) {
    QString text = QStringLiteral("Done.");
    if (failures.isEmpty())
        return text;
    text += failures.size() == 1 ? QStringLiteral("\r\n\r\nNo numbered copy was made of this file:")
                                 : QStringLiteral("\r\n\r\nNo numbered copy was made of these files:");
    for (qsizetype k = 0; k < failures.size() && k < kListedFailures; ++k) {
        text += QStringLiteral("\r\n") + failures.at(k).path;
        if (!failures.at(k).reason.isEmpty())
            text += QStringLiteral(" (") + failures.at(k).reason + QLatin1Char(')');
    }
    if (failures.size() > kListedFailures)
        text += QStringLiteral("\r\n...and %1 more.").arg(failures.size() - kListedFailures);
    return text;
}

// One file of the run: steps 112 to 172.
class FileNumbering {
public:
    FileNumbering(Services& s, StepGuard& g, QList<Failure>& failures)
        : s_(s)
        , g_(g)
        , failures_(failures) {}

    void run(int i) {
        QString input;
        g_.step(112, [&] {
            if (i > s_.files.EntryCount())
                throw std::out_of_range("Index out of bounds");
            input = s_.files.EntryText(i);
        });
        g_.step(108, [&] {
            const int count = s_.files.EntryCount();
            if (count == 0)
                throw std::domain_error("Division by zero");
            s_.progress.setExactValue(static_cast<double>(i) / count * 100);
        });
        g_.step(108,
                [&] { s_.progress.setDisplayText(QStringLiteral("Processing: ") + GetFileNamePart(input)); });
        g_.step(108, [] { QCoreApplication::processEvents(); });
        g_.step(106, [&] { s_.busy.setBusy(true); });
        if (input.isEmpty()) // its row was removed while the run went on
            return;
        input_ = input;
        if (passesVersionGate())
            numberFile();
    }

private:
    bool passesVersionGate() {
        bool refused = false; // 110
        QString text;
        g_.step(114, [&] { text = ReadFileText(input_); });
        if (g_.blockIf(116, [&] { return text.size() > 8; })) {
            QString version;
            g_.step(118, [&] { version = text.mid(5, 3); });
            if (g_.blockIf(120, [&] { return IsPdfVersionRefused(text).refused; })) {
                g_.step(122, [&] {
                    showMessage(s_.prompts, input_ + QStringLiteral(" has a higher version which is ") +
                                                version +
                                                QStringLiteral("\r\nThis file cannot be processed."));
                });
                g_.step(124, [&] { refused = true; });
            }
        }
        return !g_.stopIf(126, [&] { return refused; });
    }

    void skip(const QString& reason) { failures_.append({input_, reason}); }

    void numberFile() {
        QString folderProblem;
        g_.step(128, [&] {
            try {
                folder_ = TemporaryFolder();
            } catch (const std::exception& e) {
                folderProblem = QString::fromLocal8Bit(e.what());
                throw;
            }
            working_ = folder_ + QStringLiteral("/temp1.pdf");
        });
        g_.step(130, [&] { numbered_ = folder_ + QStringLiteral("/temp2.pdf"); });
        if (!folderProblem.isEmpty())
            return skip(folderProblem);
        script_ = folder_ + QStringLiteral("/temp.bat");

        // Checked before anything in the temporary folder is deleted: the run must not remove or
        // overwrite the very file it was asked to number.
        if (isWorkingFile(input_, folder_))
            return skip(QStringLiteral("it is one of the run's own working files"));
        if (isWorkingFile(outputPathFor(s_.options.outputFolder(), input_), folder_))
            return skip(QStringLiteral("its numbered copy would replace one of the run's own working files"));

        // From here to the removal of the working files, another Numbrel would use the same files.
        const TemporaryFolderLock lock(folder_);
        g_.step(134, [&] { DeleteFileQuietly(numbered_); });
        // An old numbered copy left in place would be delivered under this file's name.
        if (PathExists(numbered_))
            return skip(QStringLiteral("an old numbered copy in the temporary folder cannot be removed"));
        g_.step(136, [] { QCoreApplication::processEvents(); });
        g_.step(138, [&] {
            DeleteFileQuietly(working_);
            if (PathExists(working_))
                return;
            CopyFileChecked(input_, working_);
        });
        if (PathExists(working_) && !fileExists(working_))
            return skip(QStringLiteral("an old working copy in the temporary folder cannot be removed"));
        if (!fileExists(working_))
            return skip(PathExists(input_) ? QStringLiteral("the file cannot be read")
                                           : QStringLiteral("the file does not exist"));

        QString tool, arguments, scriptText;
        g_.step(140, [&] { tool = ProgramFolder() + QStringLiteral("/mbtPdfAsm.exe"); });
        g_.step(142, [&] {
            arguments = ToolArguments(s_.options.firstNumber(), s_.options.fontSize(), s_.options.fontColor(),
                                      s_.options.leftMargin(), s_.options.bottomMargin());
        });
        g_.step(144, [&] { scriptText = RunScriptText(tool, arguments); });
        QString writeProblem;
        g_.step(150, [&] {
            try {
                WriteFileText(scriptText, script_);
            } catch (const std::exception& e) {
                writeProblem = QString::fromLocal8Bit(e.what());
                throw;
            }
        });
        if (!writeProblem.isEmpty()) {
            // Whatever is at the script's name now is not ours to run.
            DeleteFileQuietly(working_);
            return skip(QStringLiteral("the run script cannot be written: ") + writeProblem);
        }

        WaitReport report;
        g_.step(152, [&] {
            int hidden = 0;
            RunAndWait(QLatin1Char('"') + script_ + QLatin1Char('"'), &hidden, folder_ + QLatin1Char('/'),
                       &report);
        });
        if (!report.launched) {
            removeWorkingFiles();
            return skip(QStringLiteral("the run script cannot be started: ") + report.launchErrorMessage);
        }

        // The script deletes the working copy once the tool is done. When the script has ended and
        // the copy is still there, it never will be.
        while (g_.blockIf(154, [&] { return fileExists(working_) && !report.processEnded; })) {
            g_.step(156, [] { QCoreApplication::processEvents(); });
            g_.step(158, [] { QThread::msleep(100); });
        }

        QString output;
        g_.step(160,
                [&] { output = s_.options.outputFolder() + QLatin1Char('/') + GetFileNamePart(input_); });
        g_.step(162, [&] { output = CollapseBackslashes(output); });
        if (!fileExists(numbered_)) {
            removeWorkingFiles();
            return skip(toolReason(report));
        }
        if (isWorkingFile(output, folder_)) {
            removeWorkingFiles();
            return skip(QStringLiteral("its numbered copy would replace one of the run's own working files"));
        }
        // The field may have been changed while the tool ran; an empty one would mean the root folder.
        if (!IsFolder(s_.options.outputFolder())) {
            removeWorkingFiles();
            return skip(
                QStringLiteral("the output folder \"%1\" does not exist").arg(s_.options.outputFolder()));
        }
        const FileIdentity before = identityOf(output);
        g_.step(164, [&] { CopyFileChecked(numbered_, output); });
        // A successful copy always renames a new file into place, so the file there is a new one.
        const FileIdentity after = identityOf(output);
        if (!after.exists || after == before)
            skip(QStringLiteral("the numbered copy cannot be saved as ") + output);
        removeWorkingFiles();
    }

    void removeWorkingFiles() {
        g_.step(168, [&] { DeleteFileQuietly(script_); });
        g_.step(172, [&] { DeleteFileQuietly(numbered_); });
        if (PathExists(working_))
            DeleteFileQuietly(working_);
    }

    Services& s_;
    StepGuard& g_;
    QList<Failure>& failures_;
    QString input_;
    QString folder_;
    QString working_;
    QString numbered_;
    QString script_;
};
} // namespace

bool NumberingRunUnderWay() {
    return runUnderWay;
}

void RunNumbering(Services& s) {
    if (runUnderWay)
        return;
    const RunUnderWay underWay;
    StepGuard g(s.prompts, kTag);
    if (g.stopIf(100, [&] { return s.files.EntryCount() == 0; })) {
        g.step(184, [&] { showMessage(s.prompts, QStringLiteral("No files added.")); });
        return;
    }
    if (g.stopIf(102, [&] { return !IsFolder(s.options.outputFolder()); })) {
        g.step(182, [&] {
            showMessage(s.prompts, QStringLiteral("Folder does not exist. Please select another folder."));
        });
        return;
    }
    int n = 0;
    g.step(104, [&] { n = s.files.EntryCount(); });
    QList<Failure> failures;
    for (int i = 1; i <= n; ++i) // 174
        FileNumbering(s, g, failures).run(i);
    g.step(176, [&] { s.busy.setBusy(false); });
    g.step(178, [&] {
        s.progress.setExactValue(0);
        s.progress.setDisplayText(QStringLiteral("Progress Bar"));
    });
    g.step(180, [&] { showMessage(s.prompts, doneText(failures)); });
}
