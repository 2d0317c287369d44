#include "NumberPdfFile.h"

#include "PageStamper.h"
#include "StampError.h"

#include <qpdf/Pipeline.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

std::string folderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The temporary file being written, for RemovePendingOutput (a signal handler may only read it).
char pendingOutput[4096];

void setPending(const std::string& path) {
    pendingOutput[0] = '\0';
    if (path.size() < sizeof pendingOutput)
        std::memcpy(pendingOutput, path.c_str(), path.size() + 1);
}

// The numbered copy while it is written, in OUT's folder. Where the file system allows it has no
// name until it is complete (O_TMPFILE), so a run cut short, even by kill -9, leaves nothing; elsewhere
// it has a short temporary name of its own (never one grown from OUT's name, which may already be as
// long as names can be), removed unless the copy was put in place. It is also where the writer's bytes
// go: gathered into large writes, with the disk set to work on each few megabytes as they are done, so
// the sync before the copy is named finds little left to wait for.
class TemporaryOutput : public Pipeline {
public:
    explicit TemporaryOutput(const std::string& target)
        : Pipeline("numbered copy", nullptr)
        , folder_(folderOf(target)) {
        mode_t mask = umask(0);
        umask(mask);
        fd_ = open(folder_.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666 & ~mask);
        if (fd_ < 0) {
            std::string pattern = folder_ + "/.numbrel-XXXXXX";
            std::vector<char> buf(pattern.begin(), pattern.end());
            buf.push_back('\0');
            fd_ = mkostemp(buf.data(), O_CLOEXEC);
            if (fd_ < 0)
                throw StampError("cannot write in the folder of " + target + ": " + std::strerror(errno));
            name_ = buf.data();
            setPending(name_);
            fchmod(fd_, 0666 & ~mask);
        }
        buffer_.resize(kBufferSize);
    }
    ~TemporaryOutput() override {
        if (fd_ >= 0)
            close(fd_);
        if (!name_.empty())
            unlink(name_.c_str());
        setPending("");
    }

    // Where the copy can be read back before it is put in place.
    std::string path() const { return name_.empty() ? "/proc/self/fd/" + std::to_string(fd_) : name_; }

    void write(unsigned char const* data, size_t len) override {
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
    void finish() override { flush(); }

    // Puts everything on the disk; nothing may be written after.
    void commit() {
        flush();
        if (failed_)
            throw StampError(failure_);
        if (fsync(fd_) != 0)
            throw StampError("cannot write the numbered copy: " + std::string(std::strerror(errno)));
    }
    // Puts the complete copy in target's place: the old file or the new one is there at every moment.
    void renameTo(const std::string& target) {
        if (name_.empty()) {
            // Still unnamed: a target that doesn't exist yet takes the file as it is.
            if (linkUnnamed(target))
                return closeFile();
            if (errno != EEXIST || !linkUnnamedUnderShortName())
                throw StampError("cannot replace " + target + ": " + std::strerror(errno));
        }
        closeFile();
        if (std::rename(name_.c_str(), target.c_str()) != 0)
            throw StampError("cannot replace " + target + ": " + std::strerror(errno));
        name_.clear();
        setPending("");
    }

private:
    static constexpr size_t kBufferSize = 256 * 1024;
    static constexpr off_t kWritebackStep = 1024 * 1024;

    void flush() {
        const size_t len = used_;
        used_ = 0;
        if (!failed_)
            writeAll(buffer_.data(), len);
    }
    // Never throws: qpdf's writer also writes from destructors, where an exception ends the program.
    // A failure is kept, the rest is dropped, and `commit` reports it.
    void writeAll(unsigned char const* data, size_t len) {
        while (len > 0) {
            ssize_t n = ::write(fd_, data, len);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                failed_ = true;
                failure_ =
                    std::string("cannot write the numbered copy: ") + std::strerror(n < 0 ? errno : ENOSPC);
                return;
            }
            data += n;
            len -= size_t(n);
            written_ += n;
        }
        if (written_ - syncedFrom_ >= kWritebackStep) {
            sync_file_range(fd_, syncedFrom_, written_ - syncedFrom_, SYNC_FILE_RANGE_WRITE);
            syncedFrom_ = written_;
        }
    }

    bool linkUnnamed(const std::string& name) const {
        const std::string self = "/proc/self/fd/" + std::to_string(fd_);
        if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0)
            return true;
        if (errno != ENOENT) // without /proc, the descriptor itself can be named by those allowed to
            return false;
        return linkat(fd_, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0;
    }
    bool linkUnnamedUnderShortName() {
        static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
        unsigned seed = unsigned(getpid()) * 2654435761u ^ unsigned(fd_);
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::string name = folder_ + "/.numbrel-";
            for (int k = 0; k < 6; ++k) {
                seed = seed * 1103515245u + 12345u + unsigned(attempt);
                name += letters[(seed >> 16) % (sizeof letters - 1)];
            }
            if (linkUnnamed(name)) {
                name_ = name;
                setPending(name_);
                return true;
            }
            if (errno != EEXIST)
                return false;
        }
        return false;
    }
    void closeFile() {
        const int fd = fd_;
        fd_ = -1;
        if (close(fd) != 0)
            throw StampError("cannot write the numbered copy: " + std::string(std::strerror(errno)));
    }

    std::string folder_;
    std::string name_; // the copy's temporary name while it has one
    int fd_ = -1;
    std::vector<unsigned char> buffer_;
    size_t used_ = 0;
    bool failed_ = false;
    std::string failure_;
    off_t written_ = 0, syncedFrom_ = 0;
};

std::string describe(const QPDFExc& e) {
    std::string text = e.getMessageDetail();
    if (!e.getObject().empty())
        text = e.getObject() + ": " + text;
    return text;
}

void openInput(QPDF& pdf, const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        throw StampError(path + ": " + std::strerror(errno));
    if (S_ISDIR(st.st_mode))
        throw StampError(path + " is a folder, not a PDF file");
    try {
        pdf.processFile(path.c_str(), "");
    } catch (QPDFExc& e) {
        if (e.getErrorCode() == qpdf_e_password)
            throw StampError(path + " is protected by a password; it was not numbered");
        throw StampError(path + " cannot be read as a PDF file (" + describe(e) + ")");
    } catch (std::exception& e) {
        throw StampError(path + " cannot be read as a PDF file (" + e.what() + ")");
    }
}

// After repairs the result is read back: a file that qpdf patched together must open with every page
// and without another repair of its cross-reference table before it replaces anything.
void checkWritten(const std::string& path, size_t pages) {
    QPDF check;
    check.setSuppressWarnings(true);
    check.processFile(path.c_str(), "");
    std::vector<QPDFPageObjectHelper> found = QPDFPageDocumentHelper(check).getAllPages();
    bool sound = found.size() == pages;
    for (auto& page : found)
        sound = sound && page.getObjectHandle().isDictionary();
    for (auto& w : check.getWarnings())
        sound = sound && w.getErrorCode() != qpdf_e_object &&
                w.getMessageDetail().find("damaged") == std::string::npos &&
                w.getMessageDetail().find("reconstruct") == std::string::npos;
    if (!sound)
        throw StampError("the file is too damaged: its numbered copy does not read back cleanly");
}

// A signed field or a document-level signature flag: any change outside an incremental update
// invalidates the signature, and the user should hear that the copy no longer carries a valid one.
bool isSigned(QPDF& pdf) {
    QPDFObjectHandle form = pdf.getRoot().getKey("/AcroForm");
    if (!form.isDictionary())
        return false;
    QPDFObjectHandle flags = form.getKey("/SigFlags");
    return flags.isInteger() && (flags.getIntValue() & 1) != 0;
}

} // namespace

void RemovePendingOutput() {
    if (pendingOutput[0] != '\0')
        unlink(pendingOutput);
}

NumberPdfResult NumberPdfFile(const StampOptions& options, bool leaveDocumentToExit) {
    struct stat st {};
    if (stat(options.output.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        throw StampError(options.output + " is a folder; give a file name for the numbered copy");

    NumberPdfResult result;
    auto document = std::make_unique<QPDF>();
    QPDF& pdf = *document;
    pdf.setSuppressWarnings(true);
    openInput(pdf, options.input);
    try {
        result.signatureBroken = isSigned(pdf);
        PageStamper stamper(pdf, options);
        result.pages = stamper.stampAll();
        result.pagesWithNumberOffPage = stamper.pagesWithNumberOffPage();
        if (result.pages == 0)
            throw StampError("it has no pages to number");

        TemporaryOutput out(options.output);
        QPDFWriter writer(pdf);
        writer.setOutputPipeline(&out);
        // Streams are written as they came: what was compressed stays so, nothing is decoded.
        writer.setStreamDataMode(qpdf_s_preserve);
        writer.write();
        out.commit();
        for (auto& w : pdf.getWarnings())
            result.warnings.push_back(w.what());
        if (!result.warnings.empty())
            checkWritten(out.path(), result.pages);
        out.renameTo(options.output);
        // Freeing a large document object by object takes about a tenth of the run; when the process
        // ends right after, the system takes it back at once.
        if (leaveDocumentToExit)
            (void)document.release();
    } catch (StampError& e) {
        throw StampError(options.input + ": " + e.what());
    } catch (QPDFExc& e) {
        throw StampError(options.input + " could not be numbered (" + describe(e) + ")");
    } catch (std::exception& e) {
        throw StampError(options.input + " could not be numbered (" + e.what() + ")");
    }
    return result;
}
