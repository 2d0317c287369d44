#include "numbering/NumberingRun.h"

#include "core/AppTitle.h"
#include "core/BusyState.h"
#include "core/ErrorReport.h"
#include "core/NumberingOptions.h"
#include "core/ProgressBar.h"
#include "core/Prompts.h"
#include "core/Services.h"
#include "filelist/FileList.h"
#include "numbering/HeaderCheck.h"
#include "numbering/RunScript.h"
#include "numbering/ScriptRunner.h"
#include "numbering/TemporaryFolder.h"
#include "numbering/TemporaryFolderLock.h"
#include "numbering/WorkingCopy.h"
#include "sys/FileUtils.h"
#include "sys/PendingNames.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <unistd.h>

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

// A listed file that got no numbered copy, and why; or one whose copy came with the tool's warning.
struct Failure {
    QString path;
    QString reason;
};

// What the final box reports besides "Done.".
struct RunOutcome {
    QList<Failure> failures;
    QList<Failure> warnings;
    // Said once: the temporary folder that could not be used, and where the work went instead.
    QString temporaryFolderNotice;
};

void showMessage(Prompts& prompts, const QString& text) {
    prompts.messageBox(text, ApplicationTitle(), Prompts::OkOnly);
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

constexpr qsizetype kLongest = 200; // the box lists many files; one of them must not fill it

QString shortened(const QString& text) {
    return text.size() > kLongest ? text.left(kLongest - 3) + QStringLiteral("...") : text;
}

// The tool names the files by their working names; the user knows them by their own.
QString withOwnNames(QString text, const QString& input, const QString& output) {
    text.replace(QLatin1String("temp1.pdf"), GetFileNamePart(input));
    if (!output.isEmpty())
        text.replace(QLatin1String("temp2.pdf"), GetFileNamePart(output));
    return text;
}

// The tool's own last word on standard error, when it said anything.
QString toolReason(const WaitReport& report, const QString& input) {
    const QStringList lines = QString::fromLocal8Bit(report.errorOutput).split(QLatin1Char('\n'));
    for (auto line = lines.crbegin(); line != lines.crend(); ++line) {
        const QString reason = line->trimmed();
        if (!reason.isEmpty())
            return shortened(withOwnNames(reason, input, QString()));
    }
    return QStringLiteral("the numbering tool made no numbered copy");
}

// The warnings of a tool that made its copy ("mbtPdfAsm.exe: warning: ..." lines), joined by "; ".
QString toolWarnings(const WaitReport& report, const QString& input, const QString& output) {
    static const QLatin1String marker(": warning: ");
    QStringList warnings;
    for (const QString& line : QString::fromLocal8Bit(report.errorOutput).split(QLatin1Char('\n'))) {
        const qsizetype at = line.indexOf(marker);
        if (at >= 0)
            warnings.append(shortened(withOwnNames(line.mid(at + marker.size()).trimmed(), input, output)));
    }
    // A badly damaged file gets several repairs; together they must still leave room for the others.
    const QString all = warnings.join(QStringLiteral("; "));
    return all.size() > 2 * kLongest ? all.left(2 * kLongest - 3) + QStringLiteral("...") : all;
}

void listFiles(QString& text, const QList<Failure>& files, const QString& one, const QString& many) {
    if (files.isEmpty())
        return;
    text += QStringLiteral("\r\n\r\n") + (files.size() == 1 ? one : many);
    for (qsizetype k = 0; k < files.size() && k < kListedFailures; ++k) {
        text += QStringLiteral("\r\n") + files.at(k).path;
        if (!files.at(k).reason.isEmpty())
            text += QStringLiteral(" (") + files.at(k).reason + QLatin1Char(')');
    }
    if (files.size() > kListedFailures)
        text += QStringLiteral("\r\n...and %1 more.").arg(files.size() - kListedFailures);
}

// Why the numbered copy could not be saved in the output folder, as the user would put it.
QString savingProblem(int error, const QString& outputFolder) {
    if (!IsFolder(outputFolder))
        return QStringLiteral("the output folder is gone");
    return error == 0 ? QStringLiteral("the copy failed") : QString::fromLocal8Bit(std::strerror(error));
}

QString doneText(const RunOutcome& outcome) {
    QString text = QStringLiteral("Done.");
    listFiles(text, outcome.failures, QStringLiteral("No numbered copy was made of this file:"),
              QStringLiteral("No numbered copy was made of these files:"));
    listFiles(text, outcome.warnings, QStringLiteral("This file was numbered with a warning:"),
              QStringLiteral("These files were numbered with a warning:"));
    if (!outcome.temporaryFolderNotice.isEmpty())
        text += QStringLiteral("\r\n\r\n") + outcome.temporaryFolderNotice;
    return text;
}

// One file of the run: steps 112 to 172.
class FileNumbering {
public:
    FileNumbering(Services& s, StepGuard& g, RunOutcome& outcome)
        : s_(s)
        , g_(g)
        , outcome_(outcome) {}

    void run(int i) {
        QString input;
        const std::optional<QString> entryProblem = g_.step(112, [&] {
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
        // A failed step 112 leaves the path empty rather than the previous file's: the file is then
        // unknown, but the box still says that one of the list got no copy.
        if (entryProblem) {
            outcome_.failures.append(
                {QStringLiteral("Entry %1 of the list").arg(i),
                 QStringLiteral("its path cannot be read from the list: ") + *entryProblem});
            return;
        }
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
        const std::optional<QString> readProblem = g_.step(114, [&] { text = ReadFileText(input_); });
        // Without its header the version gate cannot judge the file, so it is not numbered.
        if (readProblem) {
            skip(QStringLiteral("its header cannot be read: ") + *readProblem);
            return false;
        }
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
        return !g_.actionIf(126, [&] { return refused; });
    }

    void skip(const QString& reason) { outcome_.failures.append({input_, reason}); }

    // Steps 128 to 172 for a file that passed the version gate: prepare the working copy and the run
    // script, run the tool, deliver its numbered copy. Whatever stops it names why the file got no
    // numbered copy.
    void numberFile() {
        const std::optional<QString> refusal = chooseWorkingFiles();
        // A folder made for this file alone goes when the file is done (declared first, so it goes last).
        const FolderMadeForThisFile madeFolder(choice_);
        if (refusal)
            return skip(*refusal);
        // From here to the removal of the working files, another Numbrel would use the same files.
        const TemporaryFolderLock lock(folder_);
        // What a run killed half-way left behind goes first: in a folder of Numbrel's own, the tool's
        // hidden copies too. The user's own TEMP is never cleaned by a kind of name: the user's files
        // there may look alike.
        if (choice_.numbrelsOwn)
            RemoveLeftovers(folder_);
        // Declared after the lock, so the working files go while the folder is still ours.
        WorkingFilesCleanup cleanup(*this);
        std::optional<QString> reason = prepare(cleanup);
        WaitReport report;
        if (!reason)
            reason = runTool(lock, report);
        if (!reason)
            reason = deliver(report);
        if (reason)
            skip(*reason);
    }

    class FolderMadeForThisFile {
    public:
        explicit FolderMadeForThisFile(const TemporaryFolderChoice& choice)
            : choice_(choice) {}
        ~FolderMadeForThisFile() {
            if (choice_.madeForThisFile)
                ::rmdir(QFile::encodeName(choice_.path).constData());
        }
        FolderMadeForThisFile(const FolderMadeForThisFile&) = delete;
        FolderMadeForThisFile& operator=(const FolderMadeForThisFile&) = delete;

    private:
        const TemporaryFolderChoice& choice_;
    };

    // Removes the working files when the file's numbering ends, however it ends. Nothing is removed
    // until the run has made its working copy; once the script could not be written, whatever is at
    // its name is not ours, and only the working copy goes.
    class WorkingFilesCleanup {
    public:
        explicit WorkingFilesCleanup(FileNumbering& numbering)
            : numbering_(numbering) {}
        ~WorkingFilesCleanup() {
            if (scope_ == Scope::All)
                numbering_.removeWorkingFiles();
            else if (scope_ == Scope::WorkingCopyOnly)
                DeleteFileQuietly(numbering_.working_);
        }
        WorkingFilesCleanup(const WorkingFilesCleanup&) = delete;
        WorkingFilesCleanup& operator=(const WorkingFilesCleanup&) = delete;

        void removeAll() { scope_ = Scope::All; }
        void removeWorkingCopyOnly() { scope_ = Scope::WorkingCopyOnly; }

    private:
        enum class Scope { Nothing, WorkingCopyOnly, All };
        FileNumbering& numbering_;
        Scope scope_ = Scope::Nothing;
    };

    // Steps 128 and 130: the temporary folder and the working files' names.
    std::optional<QString> chooseWorkingFiles() {
        const std::optional<QString> folderProblem = g_.step(128, [&] {
            choice_ = ChooseTemporaryFolder();
            folder_ = choice_.path;
            working_ = folder_ + QStringLiteral("/temp1.pdf");
        });
        if (outcome_.temporaryFolderNotice.isEmpty())
            outcome_.temporaryFolderNotice = choice_.notice;
        g_.step(130, [&] { numbered_ = folder_ + QStringLiteral("/temp2.pdf"); });
        if (folderProblem)
            return folderProblem;
        script_ = folder_ + QStringLiteral("/temp.bat");
        // Checked before anything in the temporary folder is deleted: the run must not remove or
        // overwrite the very file it was asked to number.
        if (isWorkingFile(input_, folder_))
            return QStringLiteral("it is one of the run's own working files");
        if (isWorkingFile(outputPathFor(s_.options.outputFolder(), input_), folder_))
            return QStringLiteral("its numbered copy would replace one of the run's own working files");
        return std::nullopt;
    }

    // Steps 134 to 150: the working copy and the run script.
    std::optional<QString> prepare(WorkingFilesCleanup& cleanup) {
        g_.step(134, [&] { DeleteFileQuietly(numbered_); });
        // An old numbered copy left in place would be delivered under this file's name.
        if (PathExists(numbered_))
            return QStringLiteral("an old numbered copy in the temporary folder cannot be removed");
        g_.step(136, [] { QCoreApplication::processEvents(); });
        // The working copy is made afresh, never over or through whatever is at its name, and the
        // run remembers which file it made: only that file goes to the tool.
        std::optional<MadeFile> made;
        QString copyProblem = QStringLiteral("its working copy cannot be made");
        g_.step(138, [&] {
            DeleteFileQuietly(working_);
            try {
                made = MakeWorkingCopy(input_, working_);
                copyProblem.clear();
            } catch (const WorkingCopyError& e) {
                copyProblem = QString::fromLocal8Bit(e.what());
            }
        });
        if (!made)
            return copyProblem;
        cleanup.removeAll();
        if (!IsStillMadeFile(working_, *made))
            return QStringLiteral("its working copy in the temporary folder was replaced by another file");

        QString tool, arguments, scriptText;
        g_.step(140, [&] { tool = ProgramFolder() + QStringLiteral("/mbtPdfAsm.exe"); });
        // The script's first line holds the tool's path; a line break in it would start a command.
        if (std::any_of(tool.cbegin(), tool.cend(), IsLineBreak))
            return QStringLiteral("the program folder's path holds a line break, so the numbering tool "
                                  "cannot be started safely");
        g_.step(142, [&] {
            arguments = ToolArguments(s_.options.firstNumber(), s_.options.fontSize(), s_.options.fontColor(),
                                      s_.options.leftMargin(), s_.options.bottomMargin());
        });
        g_.step(144, [&] { scriptText = RunScriptText(tool, arguments); });
        if (const std::optional<QString> problem =
                g_.step(150, [&] { WriteFileText(scriptText, script_); })) {
            cleanup.removeWorkingCopyOnly();
            return QStringLiteral("the run script cannot be written: ") + *problem;
        }
        return std::nullopt;
    }

    // Steps 152 to 158: the script runs the tool; the run waits until the tool is done.
    std::optional<QString> runTool(const TemporaryFolderLock& lock, WaitReport& report) {
        g_.step(152, [&] {
            int hidden = 0;
            RunAndWait(QLatin1Char('"') + script_ + QLatin1Char('"'), &hidden, folder_ + QLatin1Char('/'),
                       &report, lock.descriptor());
        });
        if (!report.launched)
            return QStringLiteral("the run script cannot be started: ") + report.launchErrorMessage;
        // The script deletes the working copy once the tool is done. When the script has ended and
        // the copy is still there, it never will be.
        while (g_.blockIf(154, [&] { return IsVisibleFile(working_) && !report.processEnded; })) {
            g_.step(156, [] { QCoreApplication::processEvents(); });
            g_.step(158, [] { QThread::msleep(100); });
        }
        return std::nullopt;
    }

    // Steps 160 to 164: the tool's numbered copy goes to the output folder.
    std::optional<QString> deliver(const WaitReport& report) {
        QString output;
        g_.step(160,
                [&] { output = s_.options.outputFolder() + QLatin1Char('/') + GetFileNamePart(input_); });
        g_.step(162, [&] { output = CollapseBackslashes(output); });
        if (!IsVisibleFile(numbered_))
            return toolReason(report, input_);
        // Only a plain file of ours is a copy the tool wrote; a link or a file with another name
        // elsewhere came from someone else.
        if (!IsPlainOwnFile(numbered_))
            return QStringLiteral("the numbered copy in the temporary folder is not one the numbering tool "
                                  "wrote");
        if (isWorkingFile(output, folder_))
            return QStringLiteral("its numbered copy would replace one of the run's own working files");
        // The field may have been changed while the tool ran; an empty one would mean the root folder.
        if (!IsFolder(s_.options.outputFolder()))
            return QStringLiteral("the output folder \"%1\" does not exist").arg(s_.options.outputFolder());
        bool copied = false;
        int error = 0;
        g_.step(164, [&] { copied = CopyFileChecked(numbered_, output, &error); });
        if (!copied)
            return QStringLiteral("the numbered copy cannot be saved as %1 (%2)")
                .arg(output, savingProblem(error, s_.options.outputFolder()));
        const QString warnings = toolWarnings(report, input_, output);
        if (!warnings.isEmpty())
            outcome_.warnings.append({input_, warnings});
        return std::nullopt;
    }

    // Steps 168 and 172, and the working copy when the script left it.
    void removeWorkingFiles() {
        g_.step(168, [&] { DeleteFileQuietly(script_); });
        g_.step(172, [&] { DeleteFileQuietly(numbered_); });
        if (PathExists(working_))
            DeleteFileQuietly(working_);
    }

    Services& s_;
    StepGuard& g_;
    RunOutcome& outcome_;
    TemporaryFolderChoice choice_;
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
    if (g.actionIf(100, [&] { return s.files.EntryCount() == 0; })) {
        g.step(184, [&] { showMessage(s.prompts, QStringLiteral("No files added.")); });
        return;
    }
    if (g.actionIf(102, [&] { return !IsFolder(s.options.outputFolder()); })) {
        g.step(182, [&] {
            showMessage(s.prompts, QStringLiteral("Folder does not exist. Please select another folder."));
        });
        return;
    }
    int n = 0;
    g.step(104, [&] { n = s.files.EntryCount(); });
    // A copy that a killed run left under a short name in an output folder goes first.
    RemoveRecordedLeftovers();
    RunOutcome outcome;
    for (int i = 1; i <= n; ++i) // 174
        FileNumbering(s, g, outcome).run(i);
    g.step(176, [&] { s.busy.setBusy(false); });
    g.step(178, [&] {
        s.progress.setExactValue(0);
        s.progress.setDisplayText(QStringLiteral("Progress Bar"));
    });
    g.step(180, [&] { showMessage(s.prompts, doneText(outcome)); });
}
