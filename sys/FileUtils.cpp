#include "sys/FileUtils.h"

#include "sys/DataCopy.h"
#include "sys/FileDescriptor.h"
#include "sys/PendingCopy.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QByteArray native(const QString& path) {
    return QFile::encodeName(path);
}

bool statPath(const QString& path, struct stat& st) {
    return !path.isEmpty() && ::stat(native(path), &st) == 0;
}

QString& programFolderOverride() {
    static QString folder;
    return folder;
}

} // namespace

int FileAttributes(const QString& path) {
    struct stat link {};
    if (path.isEmpty() || ::lstat(native(path), &link) != 0)
        return -1;
    int attributes = 0;
    struct stat target = link;
    if (S_ISLNK(link.st_mode)) {
        attributes |= AttrReparsePoint;
        if (::stat(native(path), &target) != 0)
            target = link; // a dangling link is still a file system entry
    }
    attributes |= S_ISDIR(target.st_mode) ? AttrDirectory : AttrArchive;
    if (::access(native(path), W_OK) != 0)
        attributes |= AttrReadOnly;
    QString name = path;
    while (name.size() > 1 && name.endsWith(QLatin1Char('/')))
        name.chop(1);
    name = GetFileNamePart(name);
    if (name.startsWith(QLatin1Char('.')) && name != QLatin1String(".") && name != QLatin1String(".."))
        attributes |= AttrHidden;
    return attributes;
}

QString GetDesktopFolder() {
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (desktop.isEmpty())
        throw std::invalid_argument("Invalid procedure call or argument: the desktop folder is unknown");
    return desktop + QLatin1Char('/');
}

bool PathExists(const QString& path) {
    struct stat st {};
    return statPath(path, st);
}

QString GetFolderPart(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : path.left(slash + 1);
}

QString GetFileNamePart(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? path : path.mid(slash + 1);
}

bool IsFolder(const QString& path) {
    struct stat st {};
    return statPath(path, st) && S_ISDIR(st.st_mode);
}

bool IsVisibleFile(const QString& path) {
    const int attributes = FileAttributes(path);
    return attributes >= 0 && !(attributes & (AttrDirectory | AttrHidden | AttrSystem));
}

bool HasWildcard(const QString& text) {
    return text.contains(QLatin1Char('*')) || text.contains(QLatin1Char('?'));
}

bool IsOpenableFile(const QString& path) {
    // "*" and "?" are ordinary characters in names here: a path that names a file opens whatever it holds.
    if (path.isEmpty())
        return false;
    // Look before opening: opening a device or a FIFO could block or have side effects.
    struct stat st {};
    if (!statPath(path, st) || !S_ISREG(st.st_mode))
        return false;
    const FileDescriptor fd(::open(native(path), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    return fd.isOpen() && ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode);
}

void DeleteFileQuietly(const QString& path) {
    QCoreApplication::processEvents();
    // On Linux a file's own mode never stands in the way of its removal; only the folder's does. So
    // there is nothing to retry, and no mode is ever changed (a chmod would follow a link to its target).
    // The name is taken as it is: a "*" in it is part of the name, never a pattern.
    if (!path.isEmpty())
        ::unlink(native(path));
}

bool CopyFileChecked(const QString& source, const QString& destination, int* error) {
    auto fail = [error](int why) {
        if (error)
            *error = why;
        return false;
    };
    if (source.trimmed().isEmpty() || destination.trimmed().isEmpty())
        return fail(EINVAL);
    const QString from = CollapseBackslashes(source);
    const QString to = CollapseBackslashes(destination);
    if (!IsOpenableFile(from))
        return fail(ENOENT);
    if (!IsFolder(GetFolderPart(to))) {
        QString folder = GetFolderPart(to);
        if (folder.size() > 1)
            folder.chop(1);
        return fail(PathExists(folder) ? ENOTDIR : ENOENT);
    }
    return CopyFileOverwrite(from, to, error);
}

bool CopyFileOverwrite(const QString& source, const QString& destination, int* error) {
    auto fail = [error](int why) {
        if (error)
            *error = why;
        return false;
    };
    QString target = destination;
    if (target.endsWith(QLatin1Char('/')))
        target += GetFileNamePart(source);
    if (target.isEmpty() || !IsOpenableFile(source))
        return fail(ENOENT);

    const FileDescriptor from(::open(native(source), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!from.isOpen())
        return fail(errno);
    struct stat sourceStat {};
    ::fstat(from.get(), &sourceStat);

    QString folder = GetFolderPart(target);
    if (folder.isEmpty())
        folder = QStringLiteral("./");
    // An existing destination keeps its permissions; a new one gets the source's, less the umask.
    struct stat targetStat {};
    mode_t mode = sourceStat.st_mode & 0777;
    if (::stat(native(target), &targetStat) == 0)
        mode = targetStat.st_mode & 07777;
    else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode &= ~mask;
    }
    PendingCopy copy(native(folder));
    if (!copy.isOpen())
        return fail(errno);
    if (const int copyError = CopyFileData(from.get(), copy.fd()))
        return fail(copyError);
    if (!copy.complete(mode) || !copy.publishAs(native(target)))
        return fail(errno);
    return true;
}

QString CollapseBackslashes(const QString& path) {
    if (!path.contains(QLatin1String("//")))
        return path; // the common case, and the folder scan calls this for every file it lists
    auto onePass = [](const QString& text) {
        QString out;
        out.reserve(text.size());
        for (qsizetype i = 0; i < text.size(); ++i) {
            out.append(text.at(i));
            if (text.at(i) == QLatin1Char('/') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('/'))
                ++i; // "//" becomes "/"; the pass doesn't look back, so "///" becomes "//"
        }
        return out;
    };
    if (!path.startsWith(QLatin1Char('/')))
        return onePass(path);
    qsizetype rest = 1;
    while (rest < path.size() && path.at(rest) == QLatin1Char('/'))
        ++rest;
    return QLatin1Char('/') + onePass(path.mid(rest));
}

bool HasUnusualCharacters(const QString& name) {
    for (const QChar c : name) {
        const ushort u = c.unicode();
        if (u < 32 || (u >= 127 && u <= 159) || c == QLatin1Char('?') || c == QChar::ReplacementCharacter)
            return true;
    }
    // A name the file system's encoding can't carry back unchanged can't be opened by that name.
    return QFile::decodeName(QFile::encodeName(name)) != name;
}

bool WildcardMatches(const QString& pattern, const QString& name) {
    if (pattern == QLatin1String("*.*") || pattern == QLatin1String("*"))
        return true;
    // Iterative glob match with backtracking to the last "*".
    qsizetype p = 0, n = 0, star = -1, mark = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern.at(p) == QLatin1Char('?') ||
                                   (pattern.at(p) != QLatin1Char('*') &&
                                    pattern.at(p).toCaseFolded() == name.at(n).toCaseFolded()))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern.at(p) == QLatin1Char('*')) {
            star = p++;
            mark = n;
        } else if (star >= 0) {
            p = star + 1;
            n = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern.at(p) == QLatin1Char('*'))
        ++p;
    return p == pattern.size();
}

QString ProgramFolder() {
    if (!programFolderOverride().isEmpty())
        return programFolderOverride();
    return QCoreApplication::applicationDirPath();
}

void OverrideProgramFolder(const QString& folder) {
    programFolderOverride() = folder;
}
