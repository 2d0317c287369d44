#include "filelist/FolderScan.h"

#include "sys/ErrnoError.h"
#include "sys/FileDescriptor.h"
#include "sys/FileUtils.h"

#include <QCoreApplication>
#include <QFile>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <set>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QString withSlash(const QString& folder) {
    return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

bool isDotOrDotDot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// The name as text, or empty text when the text wouldn't lead back to the same bytes (such a name can't
// be opened by the path we would build from it).
QString decodedName(const char* name) {
    const QByteArrayView bytes(name);
    // Plain ASCII, by far the most common, reads the same in every encoding.
    if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return QString::fromLatin1(bytes);
    const QString text = QFile::decodeName(name);
    return QFile::encodeName(text) == bytes ? text : QString();
}

// IsOpenableFile for an entry of an open directory, without looking the whole path up again. For an entry
// the directory reports as a regular file, the kernel's read-permission check answers what opening it
// would: opening and closing every file of a big tree costs several times as much as the whole rest of the
// scan. Anything else (links, file systems that don't report types) is looked at and opened, never
// blocking on a FIFO or device.
bool openableEntry(int folderFd, const char* name, unsigned char type) {
    if (type == DT_DIR)
        return false;
    if (type == DT_REG)
        return ::faccessat(folderFd, name, R_OK, AT_EACCESS) == 0;
    struct stat st {};
    if (::fstatat(folderFd, name, &st, 0) != 0 || !S_ISREG(st.st_mode))
        return false;
    const FileDescriptor fd(::openat(folderFd, name, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    return fd.isOpen() && ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode);
}

using OpenFolder = std::unique_ptr<DIR, int (*)(DIR*)>;

OpenFolder openFolder(const QString& folder) {
    return OpenFolder(::opendir(QFile::encodeName(folder).constData()), &::closedir);
}

// --- the scan ---

const QString kScanTag = QStringLiteral("TamrikTitle2021/08/31.AddFolder.GetSubDirectories2016");

// A failure while a folder is looked at or listed. Permission denied and path not found take the folder
// out of the list; any other kind leaves it in.
class ScanFailure : public std::runtime_error {
public:
    enum Kind { PermissionDenied, PathNotFound, Other };
    ScanFailure(Kind kind, const QString& description)
        : std::runtime_error(description.toStdString())
        , kind(kind)
        , description(description) {}
    Kind kind;
    QString description;
};

ScanFailure failureOf(int error, const QString& folder) {
    const ScanFailure::Kind kind = (error == EACCES || error == EPERM)     ? ScanFailure::PermissionDenied
                                   : (error == ENOENT || error == ENOTDIR) ? ScanFailure::PathNotFound
                                                                           : ScanFailure::Other;
    return ScanFailure(kind, QString::fromLocal8Bit(std::strerror(error)) + QStringLiteral(": ") + folder);
}

bool isRootFolder(const QString& folder) {
    return CollapseBackslashes(folder) == QLatin1String("/");
}

// Hidden system folders (22, or 1046 as a reparse point) are left out, except a drive root.
bool passesFolderTest(const QString& folder) {
    const int attributes = FileAttributes(folder);
    if (attributes < 0)
        throw failureOf(ENOENT, folder);
    return (attributes != 22 && attributes != 1046) || isRootFolder(folder);
}

// "?" and "*" are ordinary characters in names here: a folder named "drafts?" is scanned like any
// other. What the test still keeps out is a name that holds control characters or that can't be
// carried to a path and back. No name reaches PATH_MAX.
bool passesNameTest(const QString& name) {
    QString rest = name;
    rest.remove(QLatin1Char('?'));
    return !HasUnusualCharacters(rest) && name != QLatin1String(".") && name != QLatin1String("..");
}

// A path the system can still open: shorter than PATH_MAX bytes. Deeper folders are not listed (a
// loop of links would otherwise grow paths without end; the scan also never enters a folder twice).
bool isTooLong(const QString& path) {
    return QFile::encodeName(path).size() >= PATH_MAX;
}

// IsFolder, keeping what stat said.
bool statFolder(const QString& folder, struct stat& st) {
    return !folder.isEmpty() && ::stat(QFile::encodeName(folder).constData(), &st) == 0 &&
           S_ISDIR(st.st_mode);
}

void processPendingEvents() {
    QCoreApplication::processEvents();
}

struct FolderId {
    dev_t device;
    ino_t inode;
    bool operator<(const FolderId& other) const {
        return device != other.device ? device < other.device : inode < other.inode;
    }
};

struct ScanState {
    const ScanFailureReport& report;
    ScannedFiles* seen;
    // Every folder listed so far in this scan: a symbolic link back up the tree must not be followed
    // round and round until the paths grow too long.
    std::set<FolderId> entered;
    // Entries the walk found to be folders that pass the folder test; the final pass needn't ask again.
    QSet<QString> checked;
};

enum class Listing { Listed, AlreadyEntered };

// Steps 118 to 136: reads folder once, collecting its subfolders that pass the name test and, for the
// caller, its matching files.
Listing listFolder(ScanState& state, const QString& folder, FolderId id, QStringList& collected) {
    if (state.entered.count(id) != 0)
        return Listing::AlreadyEntered;
    const OpenFolder dir = openFolder(folder);
    if (!dir)
        throw failureOf(errno, folder);
    state.entered.insert(id);
    const int folderFd = ::dirfd(dir.get());
    struct stat st {};

    QStringList* files = nullptr;
    if (state.seen) {
        files = &state.seen->byFolder[folder];
        files->clear();
    }
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir.get());
        if (!entry) {
            if (errno != 0)
                throw failureOf(errno, folder);
            return Listing::Listed;
        }
        if (isDotOrDotDot(entry->d_name))
            continue;
        bool isSubfolder = entry->d_type == DT_DIR;
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN)
            isSubfolder = ::fstatat(folderFd, entry->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
        if (isSubfolder) {
            processPendingEvents();                                 // 120
            const QString name = QFile::decodeName(entry->d_name);  // 122
            if (passesNameTest(name))                               // 124-130
                collected.append(folder + name + QLatin1Char('/')); // 132-134
        } else if (files) {
            const QString name = decodedName(entry->d_name);
            if (!name.isEmpty() && WildcardMatches(state.seen->pattern, name) &&
                openableEntry(folderFd, entry->d_name, entry->d_type))
                files->append(name);
        }
    }
}

// Removes the first entry equal to folder, keeping the walk at position on the entry that followed.
void removeFirstEqual(QStringList& folders, const QString& folder, qsizetype& position) {
    const qsizetype index = folders.indexOf(folder);
    if (index < 0)
        return;
    folders.removeAt(index);
    if (index <= position)
        --position;
}

// Steps 106 to 148 for one level: walks folders (removing the ones that can't be listed) and collects
// their subfolders.
void walkLevel(ScanState& state, QStringList& folders, QStringList& collected, bool callersEntries) {
    bool listingStarted = false;
    int step = 106;
    // Before the first listing a failing step is reported and counts as passed; from then on it is the
    // entry's listing failure.
    auto attempt = [&](int number, const std::function<bool()>& test) {
        step = number;
        if (listingStarted)
            return test();
        try {
            return test();
        } catch (const ScanFailure& failure) {
            state.report(kScanTag, failure.description, step);
            return true;
        }
    };

    for (qsizetype i = 0; i < folders.size(); ++i) {
        const QString folder = folders.at(i);
        try {
            // 108 (IsFolder) and 112 (the look-up, which gives the folder's identity) share one stat.
            struct stat st {};
            if (!attempt(108, [&] { return statFolder(folder, st); }))
                continue;
            if (isTooLong(folder)) // 110: stays in the list, unlisted
                continue;
            const FolderId id{st.st_dev, st.st_ino}; // 112
            processPendingEvents();                  // 114
            if (!attempt(116, [&] { return passesFolderTest(folder); }))
                continue;
            state.checked.insert(folder);
            step = 118;
            listingStarted = true;
            if (listFolder(state, folder, id, collected) == Listing::AlreadyEntered && !callersEntries) {
                // A folder seen before under another path: a link to a folder of this tree. Its files and
                // subfolders are already in the list.
                folders.removeAt(i);
                --i;
            }
        } catch (const ScanFailure& failure) {
            if (state.seen) {
                state.seen->byFolder.remove(folder);
                state.seen->unreadable.append(folder);
            }
            if (failure.kind != ScanFailure::Other)
                removeFirstEqual(folders, folder, i);
        }
    }
}
} // namespace

QStringList ListFilesInFolder(const QString& folder, const QString& pattern) {
    const QString base = withSlash(folder);
    const OpenFolder dir = openFolder(base);
    if (!dir) {
        // A folder that isn't there has no files; any other refusal is the caller's to report.
        if (errno == ENOENT || errno == ENOTDIR)
            return {};
        throw ErrnoError(errno, base);
    }
    const int folderFd = ::dirfd(dir.get());

    QStringList names;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir.get());
        if (!entry) {
            if (errno != 0)
                throw ErrnoError(errno, base);
            break;
        }
        if (isDotOrDotDot(entry->d_name) || entry->d_type == DT_DIR)
            continue;
        const QString name = decodedName(entry->d_name);
        if (name.isEmpty() || !WildcardMatches(pattern, name))
            continue;
        if (openableEntry(folderFd, entry->d_name, entry->d_type))
            names.append(name);
    }
    return names;
}

void GetSubDirectories2016(const ScanFailureReport& report, QStringList& folders, bool recurse,
                           ScannedFiles* seen) {
    ScanState state{report, seen, {}, {}}; // 100-104
    // The walk goes level by level, so the list comes out breadth first: the caller's folders, their
    // subfolders, then the next level, and so on.
    QStringList found;
    QStringList level;
    walkLevel(state, folders, level, true);
    while (!level.isEmpty()) {
        QStringList next;
        if (recurse) // 150
            walkLevel(state, level, next, false);
        found += level;
        level = std::move(next);
    }
    for (const QString& folder : std::as_const(found)) { // 152-154
        processPendingEvents();                          // 156
        bool keep = false;
        try {
            keep = state.checked.contains(folder) || (IsFolder(folder) && passesFolderTest(folder)); // 158
        } catch (const ScanFailure& failure) {
            report(kScanTag, failure.description, 158);
            keep = true;
        }
        if (keep)
            folders.append(folder); // 160
    }
}

QStringList ListFilesInFolder(const ScannedFiles& seen, const QString& folder, const QString& pattern) {
    if (pattern == seen.pattern) {
        const auto known = seen.byFolder.constFind(folder + QLatin1Char('/'));
        if (known != seen.byFolder.constEnd())
            return known.value();
    }
    return ListFilesInFolder(folder, pattern);
}

bool IsAcceptableListedFile(const QString& name, const QString& path) {
    // The listing opened the file a moment ago, so opening it again would only cost time; and only a
    // name with a leading "." can be hidden.
    return !name.startsWith(QLatin1Char('.')) || FileAttributes(path) != (AttrHidden | AttrArchive);
}

QStringList ScannedFilePaths(const QStringList& folders, const ScannedFiles& seen, const QString& pattern) {
    QStringList paths;
    for (const QString& entry : folders) {
        const QString folder = entry.chopped(1);
        QStringList names;
        try {
            names = ListFilesInFolder(seen, folder, pattern);
        } catch (const std::exception&) {
            continue;
        }
        for (const QString& name : std::as_const(names)) {
            const QString path = folder + QLatin1Char('/') + name;
            if (!name.startsWith(QLatin1Char('~')) && IsAcceptableListedFile(name, path))
                paths.append(CollapseBackslashes(path));
        }
    }
    return paths;
}
