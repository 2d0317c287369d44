#include "numbering/TemporaryFolderLock.h"

#include <QCoreApplication>
#include <QFile>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

TemporaryFolderLock::TemporaryFolderLock(const QString& folder) {
    // Close-on-exec: a program started while a file is in progress (a file manager opened from the
    // window) must not hold the folder, or the next file would wait until it ends. The run hands the
    // descriptor to its script alone (see RunAndWait).
    fd_ = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0)
        return;
    while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK) {
            ::close(fd_);
            fd_ = -1;
            return;
        }
        QCoreApplication::processEvents();
        QThread::msleep(100);
    }
}

TemporaryFolderLock::~TemporaryFolderLock() {
    if (fd_ >= 0)
        ::close(fd_);
}
