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
    fd_.reset(::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd_.isOpen())
        return;
    while (::flock(fd_.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK) {
            fd_.reset();
            return;
        }
        QCoreApplication::processEvents();
        QThread::msleep(100);
    }
}
