#include "numbering/TemporaryFolder.h"

#include "sys/FileUtils.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Another user who can write in a folder can put a file, or a link, at a working file's name
// before we do, and so choose what gets numbered and delivered under the user's file names.
bool isOursAlone(const QString& folder) {
    const QByteArray name = QFile::encodeName(folder);
    struct stat link {};
    if (::lstat(name.constData(), &link) != 0)
        return false;
    // A link in a shared place could be turned to another folder while the run goes on.
    if (S_ISLNK(link.st_mode) && link.st_uid != ::getuid() && link.st_uid != 0)
        return false;
    struct stat st {};
    return ::stat(name.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
           (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// <parent>/numbrel-<uid>, created with mode 0700, and checked: the parent may be shared with other
// users, so the folder found there must be our own and nobody else's to write in.
QString privateFolderIn(const QString& parent) {
    const QString folder = parent + QStringLiteral("/numbrel-") + QString::number(::getuid());
    const QByteArray name = QFile::encodeName(folder);
    auto refuse = [&](const std::string& why) {
        return std::runtime_error("The temporary folder " + name.toStdString() + " cannot be used: " + why);
    };
    if (::mkdir(name.constData(), 0700) != 0 && errno != EEXIST)
        throw refuse(std::strerror(errno));
    struct stat st {};
    if (::lstat(name.constData(), &st) != 0)
        throw refuse(std::strerror(errno));
    if (S_ISLNK(st.st_mode))
        throw refuse("it is a symbolic link");
    if (!S_ISDIR(st.st_mode))
        throw refuse("it is not a folder");
    if (st.st_uid != ::getuid())
        throw refuse("it belongs to another user");
    // Whoever could write in it may have left files at the working names already.
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        throw refuse("other users can write in it");
    if ((st.st_mode & 077) != 0 && ::chmod(name.constData(), 0700) != 0)
        throw refuse(std::strerror(errno));
    return folder;
}
} // namespace

QString TemporaryFolder() {
    const QByteArray temp = qgetenv("TEMP");
    if (!temp.isEmpty()) {
        const QString folder = QFile::decodeName(temp);
        if (IsFolder(folder))
            return isOursAlone(folder) ? folder : privateFolderIn(folder);
    }
    return privateFolderIn(QDir::tempPath());
}
