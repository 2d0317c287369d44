#include "NumberPdfFile.h"

#include "PageStamper.h"
#include "PageTree.h"
#include "Recovery.h"
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

std::string nameOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The temporary file being written, for RemovePendingOutput (a signal handler may only read it).
char pendingOutput[4096];

void setPending(const std::string& path) {
    pendingOutput[0] = '\0';
    if (path.size() < sizeof pendingOutput)
        std::memcpy(pendingOutput, path.c_str(), path.size() + 1);
}

// A file in OUT's folder that is removed unless it was renamed into place. It is also where the
// writer's bytes go: gathered into large writes, with the disk set to work on each few megabytes as
// they are done, so the sync before the rename finds little left to wait for.
class TemporaryOutput : public Pipeline {
public:
    explicit TemporaryOutput(const std::string& target)
        : Pipeline("numbered copy", nullptr) {
        std::string pattern = folderOf(target) + "/." + nameOf(target) + ".XXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        fd_ = mkostemp(buf.data(), O_CLOEXEC);
        if (fd_ < 0)
            throw StampError("cannot write in the folder of " + target + ": " + std::strerror(errno));
        path_ = buf.data();
        setPending(path_);
        mode_t mask = umask(0);
        umask(mask);
        fchmod(fd_, 0666 & ~mask);
        buffer_.resize(kBufferSize);
    }
    ~TemporaryOutput() override {
        if (fd_ >= 0)
            close(fd_);
        if (!committed_)
            unlink(path_.c_str());
        setPending("");
    }

    const std::string& path() const { return path_; }

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

    // Puts everything on the disk and closes; nothing may be written after.
    void commit() {
        flush();
        if (failed_)
            throw StampError(failure_);
        bool ok = fsync(fd_) == 0;
        ok = close(fd_) == 0 && ok;
        fd_ = -1;
        if (!ok)
            throw StampError("cannot write " + path_ + ": " + std::strerror(errno));
    }
    void renameTo(const std::string& target) {
        if (std::rename(path_.c_str(), target.c_str()) != 0)
            throw StampError("cannot replace " + target + ": " + std::strerror(errno));
        committed_ = true;
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
                failure_ = "cannot write " + path_ + ": " + std::strerror(n < 0 ? errno : ENOSPC);
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

    std::string path_;
    int fd_ = -1;
    bool committed_ = false;
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

// qpdf reads the file; when it gives up, or finds no catalog, our own recovery tries once more.
RecoveredInput openInput(const std::string& path, bool& recovered) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        throw StampError(path + ": " + std::strerror(errno));
    if (S_ISDIR(st.st_mode))
        throw StampError(path + " is a folder, not a PDF file");
    const std::string passwordNeeded = path + " is protected by a password; it was not numbered";
    std::string failure;
    try {
        auto pdf = std::make_unique<QPDF>();
        pdf->setSuppressWarnings(true);
        pdf->processFile(path.c_str(), "");
        pdf->getRoot();
        // A catalog written into the trailer itself is one no viewer finds.
        if (!pdf->getTrailer().getKey("/Root").isIndirect())
            throw std::runtime_error("the catalog is not an object of its own");
        return RecoveredInput{nullptr, std::move(pdf)};
    } catch (QPDFExc& e) {
        if (e.getErrorCode() == qpdf_e_password)
            throw StampError(passwordNeeded);
        failure = describe(e);
    } catch (std::exception& e) {
        failure = e.what();
    }
    try {
        RecoveredInput input = RecoverInput(path);
        recovered = true;
        return input;
    } catch (QPDFExc& e) {
        if (e.getErrorCode() == qpdf_e_password)
            throw StampError(passwordNeeded);
    } catch (std::exception&) {
        // what qpdf said is the better reason
    }
    throw StampError(path + " cannot be read as a PDF file (" + failure + ")");
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
    bool recovered = false;
    RecoveredInput document = openInput(options.input, recovered);
    QPDF& pdf = *document.pdf;
    try {
        if (recovered)
            result.warnings.push_back("the cross-reference table or trailer could not be used; "
                                      "they were rebuilt from the objects found in the file");
        const PageTreeRepair tree = MendPageTree(pdf);
        if (tree.mended)
            result.warnings.push_back("page tree mended: " + tree.reason);
        if (const std::string refused = EncryptionOthersRefuse(pdf); !refused.empty())
            throw StampError(refused);
        const bool trailerMended = MendTrailer(pdf);
        // Known before anything is written: what qpdf repaired while reading counts too.
        result.neededRepair = recovered || tree.mended || trailerMended || pdf.anyWarnings();
        result.signatureBroken = isSigned(pdf);
        PageStamper stamper(pdf, options);
        result.pages = stamper.stampAll();
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
        result.neededRepair = result.neededRepair || !result.warnings.empty();
        if (result.neededRepair)
            checkWritten(out.path(), result.pages);
        out.renameTo(options.output);
        // Freeing a large document object by object takes about a tenth of the run; when the process
        // ends right after, the system takes it back at once.
        if (leaveDocumentToExit) {
            (void)document.pdf.release();
            (void)document.bytes.release();
        }
    } catch (StampError& e) {
        throw StampError(options.input + ": " + e.what());
    } catch (QPDFExc& e) {
        throw StampError(options.input + " could not be numbered (" + describe(e) + ")");
    } catch (std::exception& e) {
        throw StampError(options.input + " could not be numbered (" + e.what() + ")");
    }
    return result;
}
