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

QString TemporaryFolder() {
    const QByteArray temp = qgetenv("TEMP");
    if (!temp.isEmpty()) {
        const QString folder = QFile::decodeName(temp);
        if (IsFolder(folder))
            return folder;
    }
    const QString folder = QDir::tempPath() + QStringLiteral("/numbrel-") + QString::number(::getuid());
    const QByteArray name = QFile::encodeName(folder);
    auto refuse = [&](const std::string& why) {
        return std::runtime_error("The temporary folder " + name.toStdString() + " cannot be used: " + why);
    };
    if (::mkdir(name.constData(), 0700) != 0 && errno != EEXIST)
        throw refuse(std::strerror(errno));
    // The parent is usually shared with other users, so the folder found there must be our own.
    struct stat st {};
    if (::lstat(name.constData(), &st) != 0)
        throw refuse(std::strerror(errno));
    if (S_ISLNK(st.st_mode))
        throw refuse("it is a symbolic link");
    if (!S_ISDIR(st.st_mode))
        throw refuse("it is not a folder");
    if (st.st_uid != ::getuid())
        throw refuse("it belongs to another user");
    if ((st.st_mode & 077) != 0 && ::chmod(name.constData(), 0700) != 0)
        throw refuse(std::strerror(errno));
    return folder;
}
