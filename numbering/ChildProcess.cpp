#include "numbering/ChildProcess.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {
constexpr qsizetype kErrorOutputLimit = 64 * 1024;
}

ChildProcess::~ChildProcess() {
    errorPipe_.reset();
    // Nobody waits for a process released while it runs; reap it when it ends, so it leaves no zombie.
    if (pid_ > 0 && !ended_ && ::waitpid(pid_, nullptr, WNOHANG) == 0)
        std::thread([pid = pid_] { ::waitpid(pid, nullptr, 0); }).detach();
}

int ChildProcess::start(const QString& program, const QStringList& arguments, const QString& folder,
                        int inherited) {
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0)
        return errno;
    FileDescriptor readEnd(pipeEnds[0]);
    FileDescriptor writeEnd(pipeEnds[1]);

    std::vector<QByteArray> storage;
    storage.push_back(QFile::encodeName(program));
    for (const QString& argument : arguments)
        storage.push_back(QFile::encodeName(argument));
    std::vector<char*> argv;
    for (QByteArray& item : storage)
        argv.push_back(item.data());
    argv.push_back(nullptr);
    const QByteArray where = QFile::encodeName(folder);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), 2);
    // dup2 onto itself clears close-on-exec in the child only (glibc 2.29 and later).
    if (inherited >= 0)
        posix_spawn_file_actions_adddup2(&actions, inherited, inherited);
    if (!folder.isEmpty())
        posix_spawn_file_actions_addchdir_np(&actions, where.constData());
    const int error =
        ::posix_spawn(&pid_, storage.front().constData(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    writeEnd.reset();
    if (error != 0) {
        pid_ = -1;
        return error;
    }
    errorPipe_ = std::move(readEnd);
    ::fcntl(errorPipe_.get(), F_SETFL, ::fcntl(errorPipe_.get(), F_GETFL) | O_NONBLOCK);
    return 0;
}

int ChildProcess::exitStatus() {
    if (ended_ || pid_ <= 0)
        return status_;
    drainErrorOutput();
    int status = 0;
    pid_t result;
    do {
        result = ::waitpid(pid_, &status, WNOHANG);
    } while (result < 0 && errno == EINTR);
    if (result == 0)
        return kStillActive;
    ended_ = true;
    if (result < 0)
        status_ = 0;
    else if (WIFEXITED(status))
        status_ = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        status_ = 128 + WTERMSIG(status);
    return status_;
}

QByteArray ChildProcess::errorOutput() {
    drainErrorOutput();
    return errorOutput_;
}

void ChildProcess::drainErrorOutput() {
    if (!errorPipe_.isOpen())
        return;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(errorPipe_.get(), buffer, sizeof buffer);
        if (n > 0) {
            errorOutput_.append(buffer, n);
            if (errorOutput_.size() > kErrorOutputLimit)
                errorOutput_.remove(0, errorOutput_.size() - kErrorOutputLimit);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0) {
            // Every writer has gone; nothing more can come.
            errorPipe_.reset();
        }
        return;
    }
}
