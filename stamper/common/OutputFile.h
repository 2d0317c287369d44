#pragma once
// The numbered copy while it is being written. It has no name in OUT's folder until it is complete
// (an unnamed O_TMPFILE file, linked in at the end), so a run stopped in any way, even by SIGKILL,
// leaves nothing half-written behind. Where the file system can't make unnamed files, a short
// temporary name is used instead and removed unless the copy was moved into place. Temporary names
// never derive from OUT's name: a 255-byte OUT name must still work. A kill -9 between a short name and
// its rename leaves that file; a ShortNameWatch, when given, hears of each short name before it is
// made and once it is gone, so that its program can have such a file removed by a later run.
//
// It is also where the writer's bytes go: gathered into large writes, with the disk set to work on
// each few megabytes as they are done, so the sync before the rename finds little left to wait for.

#include "StampOptions.h"

#include <qpdf/Pipeline.hh>

#include <memory>

#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

// Copies written side by side whose temporary names a stop signal still removes.
inline constexpr int kMaxPendingOutputs = 256;

class OutputFile : public Pipeline {
public:
    // watch: told of the short name before it is made and once it is gone (may be null).
    explicit OutputFile(const std::string& target, std::unique_ptr<ShortNameWatch> watch = nullptr);
    ~OutputFile() override;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Pipeline: never throws (qpdf's writer also writes from destructors); a failure is kept and
    // `commit` reports it.
    void write(unsigned char const* data, size_t len) override;
    void finish() override;

    // Appends the first `length` bytes of the open file `fd`, copied by the kernel where it can.
    void copyFrom(int fd, off_t length);
    // Bytes written so far.
    off_t size() const { return written_ + off_t(used_); }

    // Overwrites every `from` within the last `within` bytes written with `to`, of the same length;
    // false when there is none.
    bool replaceNearEnd(const std::string& from, const std::string& to, size_t within);
    // Puts everything on the disk; nothing may be written after.
    void commit();
    // The committed file mapped into memory, valid while this object lives: qpdf reads objects one
    // by one through a FILE* with a system call per seek, several times slower than from memory.
    std::string_view mapped();
    // Gives the committed file the name `target`, replacing what was there in one step.
    void replace(const std::string& target);

private:
    static constexpr size_t kBufferSize = 256 * 1024;
    static constexpr off_t kWritebackStep = 1024 * 1024;

    void flush();
    void writeAll(unsigned char const* data, size_t len);
    void startWriteback();
    void fail(const std::string& what, int error);
    bool linkAs(const std::string& name) const;
    void naming(const std::string& path, int fd) const;
    void nameGone() const;

    std::string folder_;
    std::string path_; // empty while the file has no name
    int fd_ = -1;
    bool committed_ = false;
    std::vector<unsigned char> buffer_;
    size_t used_ = 0;
    bool failed_ = false;
    std::string failure_;
    off_t written_ = 0, syncedFrom_ = 0;
    int pendingSlot_ = -1; // where RemovePendingOutput finds path_
    std::unique_ptr<ShortNameWatch> watch_;
    void* map_ = nullptr;
    size_t mapLength_ = 0;
};
