#include "OutputFile.h"

#include "NumberPdfFile.h"
#include "StampError.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string folderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The named temporary files of the copies being written, for RemovePendingOutput: one slot per copy,
// as several may be written side by side. A signal handler only reads them; a slot's path is written
// before the slot is marked taken and the mark goes before the path is reused.
struct PendingSlot {
    std::atomic<bool> taken{false};
    char path[4096];
};
PendingSlot pendingOutputs[kMaxPendingOutputs];

// A slot for `path`, or -1 when every slot is taken or the path is too long (the copy is then only
// removed by its own destructor).
int setPending(const std::string& path) {
    if (path.size() >= sizeof pendingOutputs[0].path)
        return -1;
    static std::mutex choosing;
    const std::lock_guard<std::mutex> lock(choosing);
    for (int k = 0; k < kMaxPendingOutputs; ++k) {
        PendingSlot& slot = pendingOutputs[k];
        if (!slot.taken.load()) {
            std::memcpy(slot.path, path.c_str(), path.size() + 1);
            slot.taken.store(true);
            return k;
        }
    }
    return -1;
}

void clearPending(int& slot) {
    if (slot >= 0)
        pendingOutputs[slot].taken.store(false);
    slot = -1;
}

mode_t fileMode() {
    mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// ".nb" and eight random letters: short whatever OUT's name is.
std::string temporaryName(const std::string& folder) {
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    unsigned char random[8] = {};
    if (getrandom(random, sizeof random, 0) != sizeof random)
        for (size_t k = 0; k < sizeof random; ++k)
            random[k] = static_cast<unsigned char>(std::rand());
    std::string name = folder + "/.nb";
    for (unsigned char c : random)
        name += letters[c % (sizeof letters - 1)];
    return name;
}

} // namespace

void RemovePendingOutput() {
    for (PendingSlot& slot : pendingOutputs)
        if (slot.taken.load())
            unlink(slot.path);
}

OutputFile::OutputFile(const std::string& target, std::unique_ptr<ShortNameWatch> watch)
    : Pipeline("numbered copy", nullptr)
    , folder_(folderOf(target))
    , watch_(std::move(watch)) {
    fd_ = open(folder_.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, fileMode());
    if (fd_ < 0) {
        // No unnamed files here (an older kernel, some network or FUSE file systems). The name is
        // chosen here, not by mkstemp, so that the watch hears of it before it exists.
        for (int attempt = 0; fd_ < 0 && attempt < 100; ++attempt) {
            const std::string name = temporaryName(folder_);
            naming(name, -1);
            fd_ = open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
            if (fd_ >= 0) {
                path_ = name;
                naming(path_, fd_);
            } else if (errno != EEXIST) {
                break;
            }
        }
        if (fd_ < 0) {
            const int error = errno;
            nameGone();
            throw StampError("cannot write in the folder of " + target + ": " + std::strerror(error));
        }
        pendingSlot_ = setPending(path_);
        fchmod(fd_, fileMode());
    }
    buffer_.resize(kBufferSize);
}

OutputFile::~OutputFile() {
    if (map_ != nullptr)
        munmap(map_, mapLength_);
    if (fd_ >= 0)
        close(fd_);
    if (!committed_ && !path_.empty())
        unlink(path_.c_str());
    clearPending(pendingSlot_);
    nameGone();
}

void OutputFile::naming(const std::string& path, int fd) const {
    if (watch_)
        watch_->naming(path, fd);
}

void OutputFile::nameGone() const {
    if (watch_)
        watch_->gone();
}

void OutputFile::write(unsigned char const* data, size_t len) {
    if (failed_)
        return;
    if (used_ + len > buffer_.size()) {
        flush();
        if (len >= buffer_.size())
            return writeAll(data, len);
    }
    std::memcpy(buffer_.data() + used_, data, len);
    used_ += len;
}

void OutputFile::finish() {
    flush();
}

void OutputFile::copyFrom(int fd, off_t length) {
    flush();
    off_t from = 0;
    while (!failed_ && from < length) {
        ssize_t n = copy_file_range(fd, &from, fd_, nullptr, size_t(length - from), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        written_ += n;
        startWriteback();
    }
    // The kernel can't copy between these two (or the source ended early): read and write instead.
    std::vector<unsigned char> chunk(kBufferSize);
    while (!failed_ && from < length) {
        ssize_t n = pread(fd, chunk.data(), std::min(chunk.size(), size_t(length - from)), from);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return fail("cannot read the input again", n < 0 ? errno : EIO);
        writeAll(chunk.data(), size_t(n));
        from += n;
    }
}

bool OutputFile::replaceNearEnd(const std::string& from, const std::string& to, size_t within) {
    flush();
    if (failed_ || from.size() != to.size() || from.empty())
        return false;
    const off_t start = std::max<off_t>(0, written_ - off_t(within));
    std::string tail(size_t(written_ - start), '\0');
    if (pread(fd_, tail.data(), tail.size(), start) != ssize_t(tail.size()))
        return false;
    bool found = false;
    for (size_t at = tail.find(from); at != std::string::npos; at = tail.find(from, at + from.size())) {
        if (pwrite(fd_, to.data(), to.size(), start + off_t(at)) != ssize_t(to.size())) {
            fail("cannot write the numbered copy", errno);
            return false;
        }
        found = true;
    }
    return found;
}

void OutputFile::commit() {
    flush();
    if (failed_)
        throw StampError(failure_);
    if (fsync(fd_) != 0)
        throw StampError("cannot write the numbered copy: " + std::string(std::strerror(errno)));
}

std::string_view OutputFile::mapped() {
    if (map_ == nullptr && written_ > 0) {
        void* at = mmap(nullptr, size_t(written_), PROT_READ, MAP_SHARED, fd_, 0);
        if (at == MAP_FAILED)
            throw StampError("cannot read the numbered copy back: " + std::string(std::strerror(errno)));
        map_ = at;
        mapLength_ = size_t(written_);
    }
    return {static_cast<const char*>(map_), mapLength_};
}

bool OutputFile::linkAs(const std::string& name) const {
    if (linkat(fd_, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0)
        return true;
    if (errno == EEXIST)
        return false;
    // AT_EMPTY_PATH needs a privilege; the /proc link does the same for anyone.
    std::string self = "/proc/self/fd/" + std::to_string(fd_);
    return linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

void OutputFile::replace(const std::string& target) {
    if (path_.empty()) {
        // Complete now: it may get a name. Where OUT does not exist yet, it gets OUT's at once;
        // otherwise a short temporary one first, which the rename then turns into OUT's.
        if (linkAs(target)) {
            committed_ = true;
            return;
        }
        if (errno != EEXIST)
            throw StampError("cannot write " + target + ": " + std::strerror(errno));
        for (int attempt = 0; path_.empty(); ++attempt) {
            std::string name = temporaryName(folder_);
            naming(name, fd_);
            if (linkAs(name)) {
                path_ = name;
                pendingSlot_ = setPending(path_);
            } else if (errno != EEXIST || attempt > 100)
                throw StampError("cannot write in the folder of " + target + ": " + std::strerror(errno));
        }
    }
    if (std::rename(path_.c_str(), target.c_str()) != 0)
        throw StampError("cannot replace " + target + ": " + std::strerror(errno));
    committed_ = true;
    clearPending(pendingSlot_);
    nameGone();
}

void OutputFile::flush() {
    const size_t len = used_;
    used_ = 0;
    if (!failed_)
        writeAll(buffer_.data(), len);
}

void OutputFile::writeAll(unsigned char const* data, size_t len) {
    while (len > 0) {
        ssize_t n = ::write(fd_, data, len);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return fail("cannot write the numbered copy", n < 0 ? errno : ENOSPC);
        data += n;
        len -= size_t(n);
        written_ += n;
    }
    startWriteback();
}

void OutputFile::startWriteback() {
    if (written_ - syncedFrom_ >= kWritebackStep) {
        sync_file_range(fd_, syncedFrom_, written_ - syncedFrom_, SYNC_FILE_RANGE_WRITE);
        syncedFrom_ = written_;
    }
}

void OutputFile::fail(const std::string& what, int error) {
    if (!failed_)
        failure_ = what + ": " + std::strerror(error);
    failed_ = true;
}
