#include "numbering/WorkingCopy.h"

#include "sys/DataCopy.h"
#include "sys/FileDescriptor.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QString errorText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

bool isNoRoom(int error) {
    return error == ENOSPC || error == EDQUOT || error == EFBIG;
}

} // namespace

MadeFile MakeWorkingCopy(const QString& source, const QString& target) {
    const QByteArray from = QFile::encodeName(source);
    const QByteArray to = QFile::encodeName(target);
    const QString folder = QFileInfo(target).absolutePath();

    const FileDescriptor in(::open(from.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (in.get() < 0) {
        if (errno == ENOENT)
            throw WorkingCopyError("the file does not exist");
        throw WorkingCopyError(
            QStringLiteral("the file cannot be read: %1").arg(errorText(errno)).toStdString());
    }
    struct stat st {};
    if (::fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode))
        throw WorkingCopyError(S_ISDIR(st.st_mode) ? "the file is a folder" : "the file is not a plain file");

    FileDescriptor out(::open(to.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (out.get() < 0) {
        const int error = errno;
        if (error == EEXIST)
            throw WorkingCopyError("an old working copy in the temporary folder cannot be removed");
        if (isNoRoom(error))
            throw WorkingCopyError(QStringLiteral("there is no room in the temporary folder %1 (%2)")
                                       .arg(folder, errorText(error))
                                       .toStdString());
        throw WorkingCopyError(
            QStringLiteral("its working copy cannot be made in the temporary folder %1 (%2)")
                .arg(folder, errorText(error))
                .toStdString());
    }
    auto fail = [&](const QString& reason) {
        out.reset();
        ::unlink(to.constData());
        return WorkingCopyError(reason.toStdString());
    };
    // Holes stay holes: a sparse input of gigabytes takes no more room in the temporary folder than
    // it takes where it is.
    if (const int error = CopyFileData(in.get(), out.get())) {
        if (error == EIO || error == EBADF || error == EISDIR)
            throw fail(QStringLiteral("the file cannot be read: %1").arg(errorText(error)));
        if (isNoRoom(error))
            throw fail(QStringLiteral("there is no room in the temporary folder %1 (%2)")
                           .arg(folder, errorText(error)));
        throw fail(QStringLiteral("its working copy cannot be written in the temporary folder %1 (%2)")
                       .arg(folder, errorText(error)));
    }
    struct stat made {};
    if (::fstat(out.get(), &made) != 0)
        throw fail(QStringLiteral("its working copy cannot be checked (%1)").arg(errorText(errno)));
    if (!out.close()) {
        const int error = errno;
        ::unlink(to.constData());
        if (isNoRoom(error))
            throw WorkingCopyError(QStringLiteral("there is no room in the temporary folder %1 (%2)")
                                       .arg(folder, errorText(error))
                                       .toStdString());
        throw WorkingCopyError(
            QStringLiteral("its working copy cannot be written in the temporary folder %1 (%2)")
                .arg(folder, errorText(error))
                .toStdString());
    }
    return {made.st_dev, made.st_ino};
}

bool IsStillMadeFile(const QString& path, const MadeFile& made) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode) &&
           st.st_dev == made.device && st.st_ino == made.inode;
}

bool IsPlainOwnFile(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode) &&
           st.st_uid == ::geteuid() && st.st_nlink == 1;
}

void RemoveLeftovers(const QString& folder) {
    const QDir dir(folder);
    for (const QString& name : dir.entryList({QStringLiteral(".nb??????"), QStringLiteral(".nb????????"),
                                              QStringLiteral(".temp2.pdf.??????")},
                                             QDir::Files | QDir::Hidden | QDir::System)) {
        const QByteArray path = QFile::encodeName(dir.filePath(name));
        struct stat st {};
        if (::lstat(path.constData(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid())
            ::unlink(path.constData());
    }
}
