#include "NumberPdfFile.h"

#include "PageStamper.h"
#include "StampError.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

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

// A file in OUT's folder that is removed unless it was renamed into place.
class TemporaryOutput {
public:
    explicit TemporaryOutput(const std::string& target) {
        std::string pattern = folderOf(target) + "/." + nameOf(target) + ".XXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        int fd = mkstemp(buf.data());
        if (fd < 0)
            throw StampError("cannot write in the folder of " + target + ": " + std::strerror(errno));
        path_ = buf.data();
        setPending(path_);
        mode_t mask = umask(0);
        umask(mask);
        fchmod(fd, 0666 & ~mask);
        file_ = fdopen(fd, "wb");
        if (file_ == nullptr) {
            close(fd);
            unlink(path_.c_str());
            throw StampError("cannot write " + path_ + ": " + std::strerror(errno));
        }
    }
    ~TemporaryOutput() {
        if (file_ != nullptr)
            std::fclose(file_);
        if (!committed_)
            unlink(path_.c_str());
        setPending("");
    }
    TemporaryOutput(const TemporaryOutput&) = delete;
    TemporaryOutput& operator=(const TemporaryOutput&) = delete;

    FILE* file() const { return file_; }
    const std::string& path() const { return path_; }

    // Flushes to disk and closes; the writer must not use the FILE any more.
    void finish() {
        bool ok = std::fflush(file_) == 0 && fsync(fileno(file_)) == 0;
        ok = std::fclose(file_) == 0 && ok;
        file_ = nullptr;
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
    std::string path_;
    FILE* file_ = nullptr;
    bool committed_ = false;
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
        if (result.pages == 0)
            throw StampError("it has no pages to number");

        TemporaryOutput out(options.output);
        QPDFWriter writer(pdf);
        writer.setOutputFile(out.path().c_str(), out.file(), false);
        // Streams are written as they came: what was compressed stays so, nothing is decoded.
        writer.setStreamDataMode(qpdf_s_preserve);
        writer.write();
        out.finish();
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
