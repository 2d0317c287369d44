#pragma once
// A program started by the script runner, followed until it ends. Its error output is gathered
// through a pipe so that the run can tell the user why the numbering tool gave up.

#include "sys/FileDescriptor.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <sys/types.h>

class ChildProcess {
public:
    // The exit status reported while the process is still running.
    static constexpr int kStillActive = 259;

    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    // Releases the handle; a process still running goes on on its own and is reaped when it ends.
    ~ChildProcess();

    // Starts program with arguments in folder (the current folder when empty), standard input from
    // /dev/null. inherited, when not -1, is a close-on-exec descriptor that this process alone gets,
    // under the same number. Returns 0 or the errno value of the failure.
    int start(const QString& program, const QStringList& arguments, const QString& folder,
              int inherited = -1);

    // kStillActive while running, then the exit status (128 + signal number for a killed process).
    // Returns 0 when the status cannot be had.
    int exitStatus();
    bool hasEnded() const { return ended_; }

    // Everything the process has written to its standard error so far (the last 64 KiB of it).
    QByteArray errorOutput();

private:
    void drainErrorOutput();

    pid_t pid_ = -1;
    FileDescriptor errorPipe_;
    bool ended_ = false;
    int status_ = 0;
    QByteArray errorOutput_;
};
