#include "filelist/FolderScan.h"

#include "sys/FileUtils.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace {
bool hasWildcard(const QString& text) {
    return text.contains(QLatin1Char('*')) || text.contains(QLatin1Char('?'));
}

QString withSlash(const QString& folder) {
    return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

bool isDotOrDotDot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// The name as text, or empty text when the text wouldn't lead back to the same bytes (such a name can't
// be opened by the path we would build from it).
QString decodedName(const char* name) {
    const QString text = QFile::decodeName(name);
    return QFile::encodeName(text) == QByteArrayView(name) ? text : QString();
}

// IsOpenableFile for an entry of an open directory, without looking the whole path up again. An entry the
// directory already reports as a regular file is opened straight away (non-blocking, so even a file swapped
// for a FIFO meanwhile can't hang us); anything else is looked at first.
bool openableEntry(int folderFd, const char* name, unsigned char type) {
    if (type == DT_DIR)
        return false;
    struct stat st {};
    if (type != DT_REG && (::fstatat(folderFd, name, &st, 0) != 0 || !S_ISREG(st.st_mode)))
        return false;
    const int fd = ::openat(folderFd, name, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return false;
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    ::close(fd);
    return regular;
}

[[noreturn]] void throwListingError(int error, const QString& folder) {
    throw std::runtime_error(std::string(std::strerror(error)) + ": " +
                             QFile::encodeName(folder).toStdString());
}

class DirCloser {
public:
    explicit DirCloser(DIR* dir)
        : dir_(dir) {}
    ~DirCloser() { ::closedir(dir_); }
    DirCloser(const DirCloser&) = delete;
    DirCloser& operator=(const DirCloser&) = delete;

private:
    DIR* dir_;
};
} // namespace

QStringList ListFilesInFolder(const QString& folder, const QString& pattern) {
    const QString base = withSlash(folder);
    DIR* dir = ::opendir(QFile::encodeName(base).constData());
    if (!dir) {
        // A folder that isn't there has no files; any other refusal is the caller's to report.
        if (errno == ENOENT || errno == ENOTDIR)
            return {};
        throwListingError(errno, base);
    }
    DirCloser closer(dir);
    const int folderFd = ::dirfd(dir);
    // A wildcard in the folder part makes every path built on it unopenable, as IsOpenableFile says.
    const bool folderUsable = !hasWildcard(base);

    QStringList names;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (!entry) {
            if (errno != 0)
                throwListingError(errno, base);
            break;
        }
        if (isDotOrDotDot(entry->d_name) || entry->d_type == DT_DIR)
            continue;
        const QString name = decodedName(entry->d_name);
        if (name.isEmpty() || !WildcardMatches(pattern, name))
            continue;
        if (folderUsable && !hasWildcard(name) && openableEntry(folderFd, entry->d_name, entry->d_type))
            names.append(name);
    }
    return names;
}

void GetSubDirectories2016(Prompts&, QStringList&, bool) {}
