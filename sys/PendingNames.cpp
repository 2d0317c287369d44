#include "sys/PendingNames.h"

#include "sys/FileDescriptor.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {
const QByteArray kMagic = "numbrel pending name 1\n";

// Which file a name stands for: device and inode, and, where the file system keeps it, the birth time,
// since a freed inode number is soon given to the next new file.
struct Identity {
    qulonglong device = 0, inode = 0, born = 0, bornNs = 0;
};

bool identityOf(int dirFd, const char* path, int flags, Identity& id) {
    struct statx st {};
    if (::statx(dirFd, path, flags, STATX_TYPE | STATX_INO | STATX_BTIME, &st) != 0)
        return false;
    id.device = qulonglong(makedev(st.stx_dev_major, st.stx_dev_minor));
    id.inode = st.stx_ino;
    if (st.stx_mask & STATX_BTIME) {
        id.born = qulonglong(st.stx_btime.tv_sec);
        id.bornNs = st.stx_btime.tv_nsec;
    }
    return true;
}
constexpr time_t kUnfinishedRecordAge = 60; // seconds; a record still empty after that was cut short

bool writeAllAt(int fd, const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pwrite(fd, bytes.constData() + done, size_t(bytes.size() - done), done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

QByteArray readAll(int fd) {
    QByteArray bytes;
    char buffer[4096];
    for (off_t at = 0;;) {
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || bytes.size() > 64 * 1024)
            return bytes;
        bytes.append(buffer, n);
        at += n;
    }
}

// Removes the record's file if it is still the one that was recorded; whether it did.
bool removeRecordedFile(const QByteArray& record) {
    if (!record.startsWith(kMagic))
        return false;
    const qsizetype line = record.indexOf('\n', kMagic.size());
    if (line < 0)
        return false;
    const QList<QByteArray> fields = record.mid(kMagic.size(), line - kMagic.size()).split(' ');
    const QByteArray path = record.mid(line + 1);
    if (fields.size() != 4 || path.isEmpty() || path.contains('\0'))
        return false;
    Identity recorded;
    bool ok[4] = {};
    recorded.device = fields.at(0).toULongLong(&ok[0]);
    recorded.inode = fields.at(1).toULongLong(&ok[1]);
    recorded.born = fields.at(2).toULongLong(&ok[2]);
    recorded.bornNs = fields.at(3).toULongLong(&ok[3]);
    if (!ok[0] || !ok[1] || !ok[2] || !ok[3])
        return false;
    Identity found;
    if (!identityOf(AT_FDCWD, path.constData(), AT_SYMLINK_NOFOLLOW, found))
        return false;
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() ||
        st.st_nlink != 1)
        return false;
    // Without its identity (the program ended between making the file and recording it), only an empty
    // file fits: nothing was written into it yet.
    const bool same = recorded.inode != 0
                          ? found.device == recorded.device && found.inode == recorded.inode &&
                                found.born == recorded.born && found.bornNs == recorded.bornNs
                          : st.st_size == 0;
    return same && ::unlink(path.constData()) == 0;
}
} // namespace

QString PendingNamesFolder() {
    QString state = QFile::decodeName(qgetenv("XDG_STATE_HOME"));
    if (state.isEmpty() || !QFileInfo(state).isAbsolute())
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/Quillane/Numbrel/pending");
}

PendingName::~PendingName() {
    clear();
}

bool PendingName::record(const QByteArray& path, int fd) {
    Identity id;
    if (fd >= 0 && !identityOf(fd, "", AT_EMPTY_PATH, id))
        return false;
    if (fd_ < 0) {
        const QString folder = PendingNamesFolder();
        if (!QDir().mkpath(folder))
            return false;
        static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
        for (int attempt = 0; attempt < 20 && fd_ < 0; ++attempt) {
            QByteArray name = QFile::encodeName(folder) + '/';
            for (int k = 0; k < 12; ++k)
                name += letters[QRandomGenerator::global()->bounded(int(sizeof letters - 1))];
            name += ".pending";
            fd_ = ::open(name.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
            if (fd_ >= 0)
                recordPath_ = name;
            else if (errno != EEXIST)
                return false;
        }
        if (fd_ < 0 || ::flock(fd_, LOCK_EX) != 0) {
            clear();
            return false;
        }
    }
    const QByteArray text = kMagic + QByteArray::number(id.device) + ' ' + QByteArray::number(id.inode) +
                            ' ' + QByteArray::number(id.born) + ' ' + QByteArray::number(id.bornNs) + '\n' +
                            path;
    return ::ftruncate(fd_, 0) == 0 && writeAllAt(fd_, text);
}

void PendingName::clear() {
    if (!recordPath_.isEmpty())
        ::unlink(recordPath_.constData());
    recordPath_.clear();
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

int RemoveRecordedLeftovers() {
    const QString folder = PendingNamesFolder();
    const QDir dir(folder);
    int removed = 0;
    for (const QString& name : dir.entryList({QStringLiteral("*.pending")}, QDir::Files | QDir::Hidden)) {
        const QByteArray path = QFile::encodeName(dir.filePath(name));
        const FileDescriptor fd(::open(path.constData(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
        if (!fd.isOpen())
            continue;
        // Held: the program that wrote it is still at work.
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
            continue;
        struct stat st {};
        if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        const QByteArray record = readAll(fd.get());
        // Made a moment ago and not yet locked by its writer.
        if (record.isEmpty() && std::time(nullptr) - st.st_mtime < kUnfinishedRecordAge)
            continue;
        if (removeRecordedFile(record))
            ++removed;
        ::unlink(path.constData());
    }
    return removed;
}
