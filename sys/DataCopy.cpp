#include "sys/DataCopy.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {
constexpr size_t kChunk = 1 << 20;

// Writes all of data at offset, retrying short writes.
int writeAllAt(int fd, const char* data, size_t size, off_t offset) {
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, data, size, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : ENOSPC;
        data += n;
        size -= size_t(n);
        offset += n;
    }
    return 0;
}

// Copies [from, end) of in to the same place in out; end < 0 means up to the end of the file.
int copyRange(int in, int out, off_t from, off_t end, bool& kernelCopies) {
    while (kernelCopies && (end < 0 || from < end)) {
        off_t at = from;
        const size_t length = end < 0 ? kChunk : size_t(std::min<off_t>(end - from, off_t(1) << 30));
        const ssize_t n = ::copy_file_range(in, &from, out, &at, length, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0)
            return 0; // the end of the file
        if (n < 0) {
            // Not between these two files (another file system, an old kernel): read and write.
            if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP || errno == EBADF)
                kernelCopies = false;
            else
                return errno;
        }
    }
    std::vector<char> buffer(kChunk);
    while (end < 0 || from < end) {
        const size_t want = end < 0 ? kChunk : size_t(std::min<off_t>(end - from, off_t(kChunk)));
        const ssize_t n = ::pread(in, buffer.data(), want, from);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            return 0;
        if (const int error = writeAllAt(out, buffer.data(), size_t(n), from))
            return error;
        from += n;
    }
    return 0;
}
} // namespace

int CopyFileData(int from, int to) {
    struct stat st {};
    if (::fstat(from, &st) != 0)
        return errno;
    bool kernelCopies = true;
    if (!S_ISREG(st.st_mode))
        return copyRange(from, to, 0, -1, kernelCopies);
    const off_t size = st.st_size;
    off_t position = 0;
    while (position < size) {
        off_t data = ::lseek(from, position, SEEK_DATA);
        if (data < 0) {
            if (errno == ENXIO)
                break; // only a hole is left
            // The file system can't tell where its holes are: copy the rest as it reads.
            data = position;
        }
        if (data >= size)
            break;
        off_t hole = ::lseek(from, data, SEEK_HOLE);
        if (hole < 0 || hole > size)
            hole = size;
        if (const int error = copyRange(from, to, data, hole, kernelCopies))
            return error;
        position = hole;
    }
    // What was left as a hole, the end included, only needs the copy's length.
    if (::ftruncate(to, size) != 0)
        return errno;
    // A file that grew while it was copied: the rest as it comes.
    return copyRange(from, to, size, -1, kernelCopies);
}
