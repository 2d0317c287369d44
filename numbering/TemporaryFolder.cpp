#include "numbering/TemporaryFolder.h"

#include "sys/FileDescriptor.h"
#include "sys/FileUtils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
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

// The numbering tool writes its copy unnamed and names it only when complete; where the file system
// can't make unnamed files it takes a short temporary name of its own, which a killed tool would leave
// among the user's files.
bool holdsUnnamedFiles(const QString& folder) {
    const FileDescriptor fd(
        ::open(QFile::encodeName(folder).constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
    if (fd.isOpen())
        return true;
    return errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOSYS;
}

class Refused : public std::runtime_error {
public:
    Refused(const QString& folder, const std::string& why)
        : std::runtime_error(why)
        , folder(folder)
        , why(QString::fromStdString(why)) {}
    QString folder;
    QString why;
};

// <parent>/numbrel-<uid>, created with mode 0700, and checked: the parent may be shared with other
// users, so the folder found there must be our own and nobody else's to write in.
QString privateFolderIn(const QString& parent) {
    const QString folder = parent + QStringLiteral("/numbrel-") + QString::number(::getuid());
    const QByteArray name = QFile::encodeName(folder);
    if (::mkdir(name.constData(), 0700) != 0 && errno != EEXIST)
        throw Refused(folder, std::strerror(errno));
    struct stat st {};
    if (::lstat(name.constData(), &st) != 0)
        throw Refused(folder, std::strerror(errno));
    if (S_ISLNK(st.st_mode))
        throw Refused(folder, "it is a symbolic link");
    if (!S_ISDIR(st.st_mode))
        throw Refused(folder, "it is not a folder");
    if (st.st_uid != ::getuid())
        throw Refused(folder, "it belongs to another user");
    // Whoever could write in it may have left files at the working names already.
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        throw Refused(folder, "other users can write in it");
    if ((st.st_mode & 077) != 0 && ::chmod(name.constData(), 0700) != 0)
        throw Refused(folder, std::strerror(errno));
    return folder;
}

// Folders that only the user can make names in, so no other account can take numbrel-<uid> there first.
QStringList usersOwnParents() {
    QStringList parents;
    const QString runtime = QFile::decodeName(qgetenv("XDG_RUNTIME_DIR"));
    if (!runtime.isEmpty() && QFileInfo(runtime).isAbsolute() && isOursAlone(runtime))
        parents.append(runtime);
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (!cache.isEmpty()) {
        const QString ours = cache + QStringLiteral("/Quillane");
        if (QDir().mkpath(ours) && isOursAlone(ours))
            parents.append(ours);
    }
    return parents;
}

// A folder with a random name, made with mode 0700: nobody can have made it first.
QString freshFolderIn(const QString& parent) {
    QByteArray pattern =
        QFile::encodeName(parent + QStringLiteral("/numbrel-") + QString::number(::getuid())) + "-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
        return {};
    return QFile::decodeName(pattern);
}

// The folder used when the private one was refused, and the notice that says so.
TemporaryFolderChoice elsewhere(const Refused& refused, const QString& parent) {
    TemporaryFolderChoice choice;
    choice.numbrelsOwn = true;
    for (const QString& own : usersOwnParents()) {
        try {
            choice.path = privateFolderIn(own);
            break;
        } catch (const Refused&) {
        }
    }
    if (choice.path.isEmpty()) {
        choice.path = freshFolderIn(parent);
        choice.madeForThisFile = true;
    }
    if (choice.path.isEmpty())
        throw std::runtime_error("The temporary folder " + QFile::encodeName(refused.folder).toStdString() +
                                 " cannot be used: " + refused.what() +
                                 "; and no other private folder can be made");
    const QString where =
        choice.madeForThisFile ? QStringLiteral("new private folders in %1").arg(parent) : choice.path;
    choice.notice = QStringLiteral("The temporary folder %1 cannot be used (%2), so the working files were "
                                   "kept in %3 instead.")
                        .arg(refused.folder, refused.why, where);
    return choice;
}
} // namespace

TemporaryFolderChoice ChooseTemporaryFolder() {
    QString parent = QDir::tempPath();
    const QByteArray temp = qgetenv("TEMP");
    if (!temp.isEmpty()) {
        // A relative TEMP is taken from the current folder once, here: the script runs in T itself.
        const QString folder = QFileInfo(QFile::decodeName(temp)).absoluteFilePath();
        if (IsFolder(folder)) {
            if (isOursAlone(folder) && holdsUnnamedFiles(folder))
                return {folder, false, false, {}};
            parent = folder;
        }
    }
    try {
        return {privateFolderIn(parent), true, false, {}};
    } catch (const Refused& refused) {
        return elsewhere(refused, parent);
    }
}

QString TemporaryFolder() {
    return ChooseTemporaryFolder().path;
}
