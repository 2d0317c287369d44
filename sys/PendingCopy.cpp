#include "sys/PendingCopy.h"

#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {
// A short name of ours in folder: ".numbrel-" and six random letters.
QByteArray shortName(const QByteArray& folder) {
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QByteArray name = folder + ".numbrel-";
    for (int k = 0; k < 6; ++k)
        name += letters[QRandomGenerator::global()->bounded(int(sizeof letters - 1))];
    return name;
}
} // namespace

PendingCopy::PendingCopy(QByteArray folder)
    : folder_(std::move(folder)) {
    if (!folder_.endsWith('/'))
        folder_ += '/';
    fd_.reset(::open(folder_.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
    if (fd_.isOpen())
        return;
    // No unnamed files here (vfat, many network mounts): the copy has a short name from the start. It
    // is recorded before it is made, so that a run killed before the rename leaves it to the next run.
    for (int attempt = 0; attempt < 100 && !fd_.isOpen(); ++attempt) {
        const QByteArray name = shortName(folder_);
        pending_.record(name, -1);
        fd_.reset(::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (fd_.isOpen()) {
            name_ = name;
            pending_.record(name_, fd_.get());
        } else if (errno != EEXIST) {
            break;
        }
    }
    if (!fd_.isOpen())
        pending_.clear();
}

PendingCopy::~PendingCopy() {
    fd_.reset();
    if (!name_.isEmpty())
        ::unlink(name_.constData());
}

bool PendingCopy::complete(mode_t mode) {
    return ::fchmod(fd_.get(), mode) == 0 && ::fsync(fd_.get()) == 0;
}

bool PendingCopy::publishAs(const QByteArray& target) {
    if (name_.isEmpty()) {
        // Still unnamed: a destination that doesn't exist yet takes the file as it is.
        if (linkUnnamed(target))
            return fd_.close();
        if (errno != EEXIST || !linkUnnamedUnderShortName())
            return false;
    }
    // The destination exists: only a rename replaces it without a moment of absence.
    if (!fd_.close() || ::rename(name_.constData(), target.constData()) != 0)
        return false;
    name_.clear();
    pending_.clear();
    return true;
}

bool PendingCopy::linkUnnamed(const QByteArray& name) const {
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd_.get());
    if (::linkat(AT_FDCWD, self.constData(), AT_FDCWD, name.constData(), AT_SYMLINK_FOLLOW) == 0)
        return true;
    if (errno != ENOENT) // no /proc: the descriptor itself can be named by those allowed to
        return false;
    return ::linkat(fd_.get(), "", AT_FDCWD, name.constData(), AT_EMPTY_PATH) == 0;
}

bool PendingCopy::linkUnnamedUnderShortName() {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray name = shortName(folder_);
        // Recorded first: the name is ours from the moment it exists.
        pending_.record(name, fd_.get());
        if (linkUnnamed(name)) {
            name_ = name;
            return true;
        }
        if (errno != EEXIST)
            break;
    }
    const int error = errno;
    pending_.clear();
    errno = error;
    return false;
}
