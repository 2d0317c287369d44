#include "NumberPdfFile.h"

#include "CleanFileUpdate.h"
#include "IncrementalUpdate.h"
#include "OutputFile.h"
#include "PageCount.h"
#include "PageStamper.h"
#include "PageTree.h"
#include "Recovery.h"
#include "SeededRandom.h"
#include "StampError.h"
#include "XrefSection.h"

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
#include <functional>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {
std::string describe(const QPDFExc& e) {
    std::string text = e.getMessageDetail();
    if (!e.getObject().empty())
        text = e.getObject() + ": " + text;
    return text;
}

constexpr off_t kReadWholeUpTo = 256 << 20;

std::string readWhole(const std::string& path, off_t expectedSize = 0) {
    std::string bytes;
    // Grown by doubling, the buffer would briefly need twice the file's size.
    bytes.reserve(size_t(expectedSize));
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        throw StampError(path + ": " + std::strerror(errno));
    char buffer[1 << 16];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        bytes.append(buffer, n);
    const bool failed = std::ferror(f);
    std::fclose(f);
    if (failed)
        throw StampError(path + ": cannot be read");
    return bytes;
}

struct stat statInput(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        throw StampError(path + ": " + std::strerror(errno));
    if (S_ISDIR(st.st_mode))
        throw StampError(path + " is a folder, not a PDF file");
    return st;
}

// qpdf reads the file, from `bytes` when they were read; when it gives up, or finds no catalog, our
// own recovery tries once more.
RecoveredInput openInput(const std::string& path, std::unique_ptr<std::string> bytes, bool& recovered) {
    const struct stat st = statInput(path);
    const std::string passwordNeeded = path + " is protected by a password; it was not numbered";
    std::string failure;
    try {
        auto pdf = std::make_unique<QPDF>();
        pdf->setSuppressWarnings(true);
        // Parsed from memory when the file is of a size to hold: qpdf's file source seeks for every
        // object it reads, which costs a fifth of the run on a large clean file. Larger files are
        // read through the file, so memory stays bounded whatever the input's size.
        if (!bytes->empty() || st.st_size <= kReadWholeUpTo) {
            if (bytes->empty())
                *bytes = readWhole(path);
            pdf->processMemoryFile(path.c_str(), bytes->data(), bytes->size(), "");
        } else {
            pdf->processFile(path.c_str(), "");
        }
        pdf->getRoot();
        // A catalog written into the trailer itself is one no viewer finds.
        if (!pdf->getTrailer().getKey("/Root").isIndirect())
            throw std::runtime_error("the catalog is not an object of its own");
        return RecoveredInput{std::move(bytes), std::move(pdf)};
    } catch (QPDFExc& e) {
        if (e.getErrorCode() == qpdf_e_password)
            throw StampError(passwordNeeded);
        failure = describe(e);
    } catch (std::exception& e) {
        failure = e.what();
    }
    try {
        // The bytes already read, unless reading them was what failed.
        RecoveredInput input = bytes->empty() ? RecoverInput(path) : RecoverInput(std::move(*bytes), path);
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

// What qpdf writes as the second /ID element when told to write a fixed one.
const std::string kStandInId("\x31\x41\x59\x26\x53\x58\x97\x93\x23\x84\x62\x64\x33\x83\x27\x95", 16);

std::string revisionIdOfInput(const StampOptions& options) {
    const int fd = open(options.input.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw StampError(options.input + ": " + std::strerror(errno));
    struct stat st {};
    std::string id;
    try {
        if (fstat(fd, &st) != 0)
            throw StampError(options.input + ": " + std::strerror(errno));
        id = RevisionIdOfFile(fd, st.st_size, options);
    } catch (...) {
        close(fd);
        throw;
    }
    close(fd);
    return id;
}

// The committed copy as qpdf reads it, handed to `check`, which throws unless it reads as it should.
void readBack(OutputFile& out, const std::function<void(QPDF&)>& check) {
    QPDF copy;
    copy.setSuppressWarnings(true);
    const std::string_view bytes = out.mapped();
    copy.processMemoryFile("numbered copy", bytes.data(), bytes.size(), "");
    check(copy);
}

void checkPages(QPDF& check, size_t pages) {
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

// After repairs the result is read back: a file that qpdf patched together must open with every page
// and without another repair of its cross-reference table before it replaces anything.
void checkWritten(OutputFile& out, size_t pages) {
    readBack(out, [&](QPDF& check) { checkPages(check, pages); });
}

// A signed field or a document-level signature flag. Appended after the signed revision, the numbers
// leave its signature valid for that revision; a rewritten file no longer carries a valid one.
bool isSigned(QPDF& pdf) {
    QPDFObjectHandle form = pdf.getRoot().getKey("/AcroForm");
    if (!form.isDictionary())
        return false;
    QPDFObjectHandle flags = form.getKey("/SigFlags");
    return flags.isInteger() && (flags.getIntValue() & 1) != 0;
}

// Writes OUT as the input's bytes followed by an incremental update, and puts it in place once qpdf
// reads it back with exactly the objects written. False, with nothing written, when the update
// can't be made or doesn't read back so; the caller then rewrites the whole file.
bool appendUpdate(QPDF& pdf, const StampOptions& options, const struct stat& before) {
    int fd = open(options.input.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct Closer {
        int fd;
        ~Closer() { close(fd); }
    } closer{fd};
    // The bytes to copy must be the ones qpdf read.
    struct stat now {};
    if (fstat(fd, &now) != 0 || now.st_ino != before.st_ino || now.st_dev != before.st_dev ||
        now.st_size != before.st_size || now.st_mtim.tv_sec != before.st_mtim.tv_sec ||
        now.st_mtim.tv_nsec != before.st_mtim.tv_nsec)
        return false;
    try {
        IncrementalUpdate update(
            pdf, now.st_size,
            [fd](long long offset, size_t length) {
                std::string bytes(length, '\0');
                ssize_t n = pread(fd, bytes.data(), length, offset);
                bytes.resize(n > 0 ? size_t(n) : 0);
                return bytes;
            },
            RevisionIdOfFile(fd, now.st_size, options));
        if (!update.unsupported().empty())
            return false;
        OutputFile out(options.output);
        out.copyFrom(fd, now.st_size);
        update.write(out);
        out.commit();
        readBack(out, [&](QPDF& copy) { update.checkReadBack(copy); });
        out.replace(options.output);
    } catch (std::exception&) {
        // Whatever went wrong here, the whole rewrite still may not; it reports its own failure.
        return false;
    }
    return true;
}

// The quick way for a file that reads cleanly: numbered straight from its bytes, the update appended
// to those very bytes and read back by qpdf before the copy gets its name. Nothing, with nothing
// written, when the file is not one for it or anything goes wrong; the qpdf way then does it all.
std::optional<NumberPdfResult> numberQuickly(const std::string& bytes, const StampOptions& options) {
    try {
        CleanFileUpdate update(bytes, options);
        OutputFile out(options.output);
        out.write(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
        out.write(reinterpret_cast<const unsigned char*>(update.text().data()), update.text().size());
        out.commit();
        readBack(out, [&](QPDF& copy) { update.checkReadBack(copy); });
        out.replace(options.output);
        NumberPdfResult result;
        result.pages = update.pages();
        result.pagesWithNumberOffPage = update.pagesWithNumberOffPage();
        result.appended = true;
        result.signatureKept = update.isSigned();
        return result;
    } catch (std::exception&) {
        return std::nullopt;
    }
}

} // namespace

NumberPdfResult NumberPdfFile(const StampOptions& options, bool leaveDocumentToExit, NumberingWay way) {
    struct stat st {};
    if (stat(options.output.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        throw StampError(options.output + " is a folder; give a file name for the numbered copy");

    NumberPdfResult result;
    // The bytes an update is appended to must be the ones read.
    const struct stat inputBefore = statInput(options.input);
    auto bytes = std::make_unique<std::string>();
    if (S_ISREG(inputBefore.st_mode) && inputBefore.st_size <= kReadWholeUpTo) {
        *bytes = readWhole(options.input, inputBefore.st_size);
        if (way == NumberingWay::Quickest)
            if (std::optional<NumberPdfResult> quick = numberQuickly(*bytes, options))
                return *quick;
    }
    bool recovered = false;
    RecoveredInput document = openInput(options.input, std::move(bytes), recovered);
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
        result.neededRepair =
            recovered || tree.mended || trailerMended || EncryptionLengthRounded(pdf) || pdf.anyWarnings();
        const bool signedInput = isSigned(pdf);
        PageStamper stamper(pdf, options);
        result.pages = stamper.stampAll();
        // qpdf reads objects as they are asked for: a content stream it had to repair counts too.
        result.neededRepair = result.neededRepair || pdf.anyWarnings();
        result.pagesWithNumberOffPage = stamper.pagesWithNumberOffPage();
        if (result.pages == 0)
            throw StampError("it has no pages to number");

        // The one place that chooses how the copy is written: appended to the input's own bytes
        // when the input read cleanly and the appended copy reads back the same, rewritten whole
        // otherwise.
        result.appended = !result.neededRepair && appendUpdate(pdf, options, inputBefore);
        result.signatureKept = signedInput && result.appended;
        result.signatureBroken = signedInput && !result.appended;
        if (result.appended) {
            if (leaveDocumentToExit) {
                (void)document.pdf.release();
                (void)document.bytes.release();
            }
            return result;
        }

        OutputFile out(options.output);
        QPDFWriter writer(pdf);
        writer.setOutputPipeline(&out);
        // Streams are written as they came: what was compressed stays so, nothing is decoded.
        writer.setStreamDataMode(qpdf_s_preserve);
        // The same input numbered the same way gives the same bytes. qpdf derives the /ID from what it
        // writes, except when it encrypts with it: it then writes a fixed stand-in, replaced here by one
        // derived from the input and the options, which also give its cipher blocks their start.
        const bool encrypted = pdf.isEncrypted();
        std::string revision;
        std::optional<SeededRandom> seeded;
        if (encrypted) {
            revision = revisionIdOfInput(options);
            seeded.emplace(revision);
            writer.setStaticID(true);
        } else {
            writer.setDeterministicID(true);
        }
        writer.write();
        seeded.reset();
        // Only the second element: where the input had no /ID, the first is the stand-in too, and the
        // file's key was computed with it.
        if (encrypted && !out.replaceNearEnd(HexString(kStandInId) + "]", HexString(revision) + "]", 1 << 16))
            throw StampError("the numbered copy's /ID could not be written");
        out.commit();
        for (auto& w : pdf.getWarnings())
            result.warnings.push_back(w.what());
        result.neededRepair = result.neededRepair || !result.warnings.empty();
        if (result.neededRepair)
            checkWritten(out, result.pages);
        out.replace(options.output);
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

size_t CountPdfPages(const std::string& path) {
    const struct stat st = statInput(path);
    auto bytes = std::make_unique<std::string>();
    if (S_ISREG(st.st_mode) && st.st_size <= kReadWholeUpTo) {
        *bytes = readWhole(path, st.st_size);
        if (std::optional<size_t> pages = CountPagesQuickly(*bytes))
            return *pages;
    }
    // Counted as numbering counts when it goes the qpdf way: the tree mended first.
    try {
        bool recovered = false;
        RecoveredInput document = openInput(path, std::move(bytes), recovered);
        MendPageTree(*document.pdf);
        const size_t pages = QPDFPageDocumentHelper(*document.pdf).getAllPages().size();
        if (pages == 0)
            throw StampError(path + ": it has no pages to number");
        return pages;
    } catch (StampError&) {
        throw;
    } catch (QPDFExc& e) {
        throw StampError(path + " could not be read (" + describe(e) + ")");
    } catch (std::exception& e) {
        throw StampError(path + " could not be read (" + e.what() + ")");
    }
}
