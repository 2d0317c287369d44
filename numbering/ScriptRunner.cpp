#include "numbering/ScriptRunner.h"

#include "batch/CommandLine.h"
#include "numbering/ChildProcess.h"
#include "numbering/ShellError.h"
#include "sys/FileUtils.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QThread>
#include <QUrl>

#include <cerrno>
#include <cstdint>
#include <unistd.h>

ShellLaunch::ShellLaunch() = default;
ShellLaunch::~ShellLaunch() = default;
ShellLaunch::ShellLaunch(ShellLaunch&&) noexcept = default;
ShellLaunch& ShellLaunch::operator=(ShellLaunch&&) noexcept = default;

namespace {
constexpr int kLaunched = 42; // any value above 32 means success
constexpr int kPollMilliseconds = 100;

enum ShellCode : int {
    kFileNotFound = 2,
    kPathNotFound = 3,
    kAccessDenied = 5,
    kOutOfMemory = 8,
    kBadFormat = 11,
    kNoAssociation = 31,
    kGeneralFailure = 1,
};

int codeForErrno(int error) {
    switch (error) {
    case ENOENT:
        return kFileNotFound;
    case ENOTDIR:
        return kPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:
        return kAccessDenied;
    case ENOMEM:
        return kOutOfMemory;
    case ENOEXEC:
        return kBadFormat;
    default:
        return kGeneralFailure;
    }
}

std::int32_t comErrorNumber(int code) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(code) + 0x80040418u);
}

QString unquoted(QString file) {
    file = file.trimmed();
    while (file.startsWith(QLatin1Char('"')))
        file.remove(0, 1);
    while (file.endsWith(QLatin1Char('"')))
        file.chop(1);
    return file;
}

QStringList splitParameters(const QString& parameters) {
    QStringList result;
    for (const std::string& argument : SplitArguments(parameters.toStdString()))
        result.append(QString::fromStdString(argument));
    return result;
}

bool isExecutable(const QString& path) {
    return ::access(QFile::encodeName(path).constData(), X_OK) == 0;
}

// The shell's open action: starts file and returns the shell result code.
int openAction(const QString& verb, const QString& file, const QString& parameters, const QString& folder,
               ShellLaunch* launch) {
    if (verb.compare(QLatin1String("open"), Qt::CaseInsensitive) != 0)
        return kNoAssociation;
    if (!folder.isEmpty() && !IsFolder(folder))
        return kPathNotFound;
    QString path = unquoted(file);
    if (path.isEmpty())
        return kFileNotFound;
    if (QDir::isRelativePath(path))
        path = QDir(folder.isEmpty() ? QDir::currentPath() : folder).filePath(path);
    if (!PathExists(path)) {
        const QString parent = GetFolderPart(path);
        return !parent.isEmpty() && !IsFolder(parent) ? kPathNotFound : kFileNotFound;
    }

    const bool isBatch = path.endsWith(QLatin1String(".bat"), Qt::CaseInsensitive);
    const bool isProgram = path.endsWith(QLatin1String(".exe"), Qt::CaseInsensitive);
    if (!isBatch && !isProgram) {
        if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
            return kNoAssociation;
        return kLaunched;
    }
    QString program = path;
    QStringList arguments = splitParameters(parameters);
    if (isBatch) {
        if (IsFolder(path))
            return kAccessDenied;
        program = ProgramFolder() + QStringLiteral("/numbrel-batch");
        if (!IsOpenableFile(program) || !isExecutable(program))
            return kNoAssociation;
        arguments.prepend(path);
    }
    auto process = std::make_unique<ChildProcess>();
    const int error = process->start(program, arguments, folder, launch ? launch->inheritedDescriptor : -1);
    if (error != 0)
        return codeForErrno(error);
    if (launch)
        launch->process = std::move(process);
    return kLaunched;
}
} // namespace

ShellErrorInfo ShellErrorFor(int code) {
    switch (code) {
    case 0:
    case 8:
        return {7, QStringLiteral("Out of memory")};
    case 2:
        return {53, QStringLiteral("File not found")};
    case 3:
        return {76, QStringLiteral("Path not found")};
    case 5:
        return {75, QStringLiteral("Path/file access error")};
    case 11:
        return {comErrorNumber(code), QStringLiteral("The executable file is invalid or corrupt")};
    case 26:
        return {75, QStringLiteral("A sharing violation occurred.")};
    case 27:
        return {comErrorNumber(code),
                QStringLiteral("This file type does not have a valid file association.")};
    case 28:
        return {286, QStringLiteral(
                         "The file could not be opened due to time out. Please try again in a moment.")};
    case 29:
        return {285,
                QStringLiteral("The file could not be opened because the DDE transaction failed. Please try "
                               "again in a moment.")};
    case 30:
        return {285,
                QStringLiteral("The file could not be opened because the target application is busy. Please "
                               "try again in a moment.")};
    case 31:
        return {comErrorNumber(code), QStringLiteral("No application is associated with this file type.")};
    case 32:
        return {48, QStringLiteral("The specified dynamic-link library was not found.")};
    default:
        return {
            comErrorNumber(code),
            QStringLiteral("An error occurred occurred whilst trying to open or print the selected file.")};
    }
}

int GShell(const QString& file, int showMode, const QString& parameters, const QString& folder,
           const QString& verb, QWidget* /*owner*/, ShellLaunch* launch) {
    if (file.toUpper().contains(QLatin1String(".EXE")))
        showMode = 0;
    // Show modes change nothing for a process here, but the caller still learns which one was used.
    const bool withDetails = !parameters.isEmpty() || !folder.isEmpty();
    const int usedMode = withDetails ? showMode : 1;
    if (launch)
        launch->showMode = usedMode;
    const int code = withDetails ? openAction(verb, file, parameters, folder, launch)
                                 : openAction(verb, file, QString(), QString(), launch);
    if (code >= 0 && code <= 32) {
        const ShellErrorInfo error = ShellErrorFor(code);
        throw ShellError(error.number, error.message);
    }
    return code;
}

int WaitWhileActive(const WaitSteps& steps, WaitReport& report) {
    int status = 0;
    do {
        status = steps.queryStatus();
        ++report.statusQueries;
        steps.processEvents();
        steps.pause();
        ++report.pauses;
    } while (status == ChildProcess::kStillActive);
    return status;
}

int RunAndWait(const QString& command, int* showMode, const QString& folder, WaitReport* report,
               int inherited) {
    WaitReport local;
    WaitReport& seen = report ? *report : local;
    int mode = 6;
    if (showMode) {
        if (*showMode < 0 || *showMode > 6)
            *showMode = 6;
        mode = *showMode;
    }
    ShellLaunch launch;
    launch.inheritedDescriptor = inherited;
    try {
        GShell(command, mode, QString(), folder, QStringLiteral("open"), nullptr, &launch);
    } catch (const ShellError& error) {
        seen.showMode = launch.showMode;
        seen.launchErrorNumber = error.number();
        seen.launchErrorMessage = error.message();
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(error.number()) + 0x80040000u);
    }
    seen.launched = true;
    seen.showMode = launch.showMode;

    const int status = WaitWhileActive({[&] { return launch.process ? launch.process->exitStatus() : 0; },
                                        [] { QCoreApplication::processEvents(); },
                                        [] { QThread::msleep(kPollMilliseconds); }},
                                       seen);

    if (launch.process) {
        seen.processEnded = launch.process->hasEnded();
        seen.errorOutput = launch.process->errorOutput();
    }
    return status;
}
