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

#include <cctype>
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

// One copy being written: OUT's file for the tool, memory for NumberPdfBytes.
class Copy : public Pipeline {
public:
    Copy()
        : Pipeline("numbered copy", nullptr) {}
    // The input's own bytes, the ones that were read (an update follows them); false when they
    // changed since.
    virtual bool appendInput() = 0;
    // Complete: nothing may be written after.
    virtual void commit() = 0;
    // The committed copy.
    virtual std::string_view written() = 0;
    // The copy becomes the result (OUT gets its name).
    virtual void place() = 0;
    // Overwrites every `from` within the last `within` bytes written with `to`, of the same length;
    // false when there is none.
    virtual bool replaceNearEnd(const std::string& from, const std::string& to, size_t within) = 0;
};

// What a run reads and where its copies go.
struct Job {
    Job(const StampOptions& o, std::string n, std::unique_ptr<std::string> b)
        : options(o)
        , name(std::move(n))
        , bytes(std::move(b)) {}

    const StampOptions& options;
    std::string name;                // the input, as messages name it
    std::unique_ptr<std::string> bytes; // the input's bytes when held in memory (handed to qpdf)
    bool inMemory = false;
    bool quickAllowed = false;       // the quick way may try (a regular file's bytes, all in memory)
    long long inputSize = 0;
    InputReader readInput;           // the input's bytes by range, the ones qpdf read
    std::function<std::unique_ptr<Copy>()> newCopy;
    std::string readBackFailure; // see NumberPdfResult
    std::string quickRefusal;    // see NumberPdfResult
    bool encryptionIgnored = false; // a trailer's /Encrypt that is no dictionary was set aside
    // The second /ID element of a copy, from the input's bytes and the options (made once, when
    // first asked for).
    std::function<std::string()> makeRevisionId;
    const std::string& revisionId() {
        if (!revisionId_)
            revisionId_ = makeRevisionId ? makeRevisionId() : std::string();
        return *revisionId_;
    }

private:
    std::optional<std::string> revisionId_;
};

// The bytes with every trailer's /Encrypt whose value is no dictionary renamed to a key of the same
// length (offsets hold), or nothing when there is none. Viewers take such a file as not encrypted;
// qpdf refuses it.
std::optional<std::string> withoutBadEncrypt(const std::string& bytes) {
    std::string out = bytes;
    bool changed = false;
    for (size_t at = out.find("/Encrypt"); at != std::string::npos; at = out.find("/Encrypt", at + 1)) {
        size_t v = at + 8;
        if (v < out.size() && (std::isalnum(static_cast<unsigned char>(out[v])) || out[v] == '#'))
            continue; // a longer name (/EncryptMetadata)
        const size_t trailer = out.rfind("trailer", at), object = out.rfind(" obj", at);
        if (trailer == std::string::npos || (object != std::string::npos && object > trailer))
            continue; // not in a trailer
        while (v < out.size() && std::isspace(static_cast<unsigned char>(out[v])))
            ++v;
        if (out.compare(v, 2, "<<") == 0)
            continue;
        out.replace(at, 8, "/NoCrypt");
        changed = true;
    }
    return changed ? std::optional<std::string>(std::move(out)) : std::nullopt;
}

// qpdf reads the input, from its bytes when they are held; when it gives up, or finds no catalog,
// our own recovery tries once more.
RecoveredInput openInput(Job& job, bool& recovered) {
    const std::string& path = job.name;
    const std::string passwordNeeded = path + " is protected by a password; it was not numbered";
    std::string failure;
    try {
        auto pdf = std::make_unique<QPDF>();
        pdf->setSuppressWarnings(true);
        // Parsed from memory when the file is of a size to hold: qpdf's file source seeks for every
        // object it reads, which costs a fifth of the run on a large clean file. Larger files are
        // read through the file, so memory stays bounded whatever the input's size.
        if (job.inMemory) {
            try {
                pdf->processMemoryFile(path.c_str(), job.bytes->data(), job.bytes->size(), "");
            } catch (QPDFExc& e) {
                std::optional<std::string> renamed;
                if (e.getMessageDetail().find("/Encrypt in trailer dictionary is not a dictionary") ==
                        std::string::npos ||
                    !(renamed = withoutBadEncrypt(*job.bytes)))
                    throw;
                // Read as viewers read it, not encrypted; the copy is then written whole. The input's
                // own bytes stay as read (the copy's /ID comes from them).
                job.encryptionIgnored = true;
                auto readFrom = std::make_unique<std::string>(std::move(*renamed));
                pdf = std::make_unique<QPDF>();
                pdf->setSuppressWarnings(true);
                pdf->processMemoryFile(path.c_str(), readFrom->data(), readFrom->size(), "");
                pdf->getRoot();
                QPDFObjectHandle root = pdf->getTrailer().getKey("/Root");
                if (!root.isIndirect() && (!root.isDictionary() || pdf->anyWarnings()))
                    throw std::runtime_error("the catalog is not an object of its own");
                return RecoveredInput{std::move(readFrom), std::move(pdf)};
            }
        } else {
            pdf->processFile(path.c_str(), "");
        }
        pdf->getRoot();
        // A catalog written into the trailer of a file that reads cleanly otherwise (MuPDF finds
        // it, poppler does not) becomes an object of its own below; in a damaged file it is no
        // catalog a viewer finds, and the recovery looks for one among the objects.
        QPDFObjectHandle root = pdf->getTrailer().getKey("/Root");
        if (!root.isIndirect() && (!root.isDictionary() || pdf->anyWarnings()))
            throw std::runtime_error("the catalog is not an object of its own");
        return RecoveredInput{std::move(job.bytes), std::move(pdf)};
    } catch (QPDFExc& e) {
        if (e.getErrorCode() == qpdf_e_password)
            throw StampError(passwordNeeded);
        failure = describe(e);
    } catch (std::exception& e) {
        failure = e.what();
    }
    try {
        // The bytes already read, unless the input is read through its file (the copy's /ID is
        // taken from them first).
        if (job.inMemory)
            job.revisionId();
        RecoveredInput input = job.inMemory ? RecoverInput(std::move(*job.bytes), path) : RecoverInput(path);
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


// The committed copy as qpdf reads it, handed to `check`, which throws unless it reads as it should.
void readBack(Copy& out, const std::function<void(QPDF&)>& check) {
    QPDF copy;
    copy.setSuppressWarnings(true);
    const std::string_view bytes = out.written();
    copy.processMemoryFile("numbered copy", bytes.data(), bytes.size(), "");
    check(copy);
}

// An appended update read back; what did not read back as written is kept in the job's result
// before the failure goes on to the caller, which then makes the copy another way.
template <class Update>
void readBackUpdate(Copy& out, const Update& update, Job& job) {
    try {
        readBack(out, [&](QPDF& copy) { update.checkReadBack(copy); });
    } catch (std::exception& e) {
        job.readBackFailure = e.what();
        throw;
    }
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

// Whether qpdf repaired anything while reading. A /Size above the highest object number is no
// damage: the PDF reference lets free numbers lie above, and an update numbers its objects from it.
bool anyRepairs(QPDF& pdf) {
    for (auto& w : pdf.getWarnings()) {
        long long reported = 0, highest = 0;
        if (std::sscanf(w.getMessageDetail().c_str(),
                        "reported number of objects (%lld) is not one plus the highest object number (%lld)",
                        &reported, &highest) == 2 &&
            reported > highest)
            continue;
        return true;
    }
    return false;
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

// A certification's permissions (1 to 3; 2 when its reference does not say), 0 when the catalog
// has no /Perms /DocMDP signature.
int certification(QPDF& pdf) {
    // (Every step checked: qpdf warns about a key asked of something that is no dictionary, and a
    // warning makes the copy a rewrite.)
    QPDFObjectHandle perms = pdf.getRoot().getKey("/Perms");
    QPDFObjectHandle signature = perms.isDictionary() ? perms.getKey("/DocMDP") : QPDFObjectHandle::newNull();
    if (!signature.isDictionary())
        return 0;
    int level = 2;
    QPDFObjectHandle refs = signature.getKey("/Reference");
    if (refs.isArray())
        for (auto& ref : refs.getArrayAsVector()) {
            if (!ref.isDictionary() || !ref.getKey("/TransformMethod").isNameAndEquals("/DocMDP"))
                continue;
            QPDFObjectHandle params = ref.getKey("/TransformParams");
            QPDFObjectHandle p = params.isDictionary() ? params.getKey("/P") : QPDFObjectHandle::newNull();
            if (p.isInteger() && p.getIntValue() >= 1 && p.getIntValue() <= 3)
                level = int(p.getIntValue());
        }
    return level;
}

// Writes the input's bytes followed by an incremental update, and places the copy once qpdf reads
// it back with exactly the objects written. False, with nothing placed, when the update can't be
// made or doesn't read back so; the caller then rewrites the whole file.
bool appendUpdate(QPDF& pdf, Job& job) {
    try {
        IncrementalUpdate update(pdf, job.inputSize, job.readInput, job.revisionId(), job.options.pageLabels);
        if (!update.unsupported().empty())
            return false;
        std::unique_ptr<Copy> out = job.newCopy();
        if (!out->appendInput())
            return false;
        update.write(*out);
        out->commit();
        readBackUpdate(*out, update, job);
        out->place();
    } catch (StampError&) {
        throw; // a copy that can't be written (a full disk) is not retried another way
    } catch (std::exception&) {
        // Whatever went wrong here, the whole rewrite still may not; it reports its own failure.
        return false;
    }
    return true;
}

// The quick way for a file that reads cleanly: numbered straight from its bytes, the update appended
// to those very bytes and read back by qpdf before the copy is placed. Nothing, with nothing
// placed, when the file is not one for it or anything goes wrong; the qpdf way then does it all.
std::optional<NumberPdfResult> numberQuickly(Job& job) {
    try {
        CleanFileUpdate update(*job.bytes, job.options);
        std::unique_ptr<Copy> out = job.newCopy();
        if (!out->appendInput())
            return std::nullopt;
        out->write(reinterpret_cast<const unsigned char*>(update.text().data()), update.text().size());
        out->commit();
        readBackUpdate(*out, update, job);
        out->place();
        NumberPdfResult result;
        result.quickWay = true;
        result.pages = update.pages();
        result.pagesWithNumberOffPage = update.pagesWithNumberOffPage();
        result.appended = true;
        result.signatureKept = update.isSigned();
        result.certification = update.certification();
        result.warnings = update.warnings();
        return result;
    } catch (StampError& e) {
        // A copy that can't be written (a full disk) is reported, not retried the qpdf way.
        throw StampError(job.name + ": " + e.what());
    } catch (std::exception& e) {
        job.quickRefusal = e.what();
        return std::nullopt;
    }
}

// Every run, whatever it reads from and writes to: the quick way where it takes the input, the qpdf
// way otherwise.
NumberPdfResult number(Job& job, NumberingWay way, bool leaveDocumentToExit) {
    const StampOptions& options = job.options;
    if (job.quickAllowed && way == NumberingWay::Quickest)
        if (std::optional<NumberPdfResult> quick = numberQuickly(job))
            return *quick;
    NumberPdfResult result;
    bool recovered = false;
    RecoveredInput document = openInput(job, recovered);
    QPDF& pdf = *document.pdf;
    try {
        if (recovered)
            result.warnings.push_back("the cross-reference table or trailer could not be used; "
                                      "they were rebuilt from the objects found in the file");
        if (job.encryptionIgnored)
            result.warnings.push_back("the trailer's /Encrypt is no dictionary; the file was read as not "
                                      "encrypted, as viewers read it");
        // Written as an object of its own, every viewer finds the catalog.
        bool catalogMended = false;
        if (QPDFObjectHandle root = pdf.getTrailer().getKey("/Root"); !root.isIndirect() && root.isDictionary()) {
            pdf.getTrailer().replaceKey("/Root", pdf.makeIndirectObject(root));
            result.warnings.push_back("the catalog was written into the trailer; it is now an object of its own");
            catalogMended = true;
        }
        const PageTreeRepair tree = MendPageTree(pdf);
        if (tree.mended)
            result.warnings.push_back("page tree mended: " + tree.reason);
        if (const std::string refused = EncryptionOthersRefuse(pdf); !refused.empty())
            throw StampError(refused);
        const bool trailerMended = MendTrailer(pdf);
        // Known before anything is written: what qpdf repaired while reading counts too.
        result.neededRepair =
            recovered || job.encryptionIgnored || catalogMended || tree.mended || trailerMended || EncryptionLengthRounded(pdf) || anyRepairs(pdf);
        const bool signedInput = isSigned(pdf);
        result.certification = certification(pdf);
        NumberNewObjectsFromSize(pdf);
        PageStamper stamper(pdf, options);
        result.pages = stamper.stampAll();
        // qpdf reads objects as they are asked for: a content stream it had to repair counts too.
        result.neededRepair = result.neededRepair || anyRepairs(pdf);
        result.pagesWithNumberOffPage = stamper.pagesWithNumberOffPage();
        result.warnings.insert(result.warnings.end(), stamper.warnings().begin(), stamper.warnings().end());
        if (result.pages == 0)
            throw StampError("it has no pages to number");

        // The one place that chooses how the copy is written: appended to the input's own bytes
        // when the input read cleanly and the appended copy reads back the same, rewritten whole
        // otherwise.
        result.appended = !result.neededRepair && appendUpdate(pdf, job);
        result.readBackFailure = job.readBackFailure;
        result.quickRefusal = job.quickRefusal;
        result.signatureKept = signedInput && result.appended;
        result.signatureBroken = signedInput && !result.appended;
        if (result.appended) {
            if (leaveDocumentToExit) {
                (void)document.pdf.release();
                (void)document.bytes.release();
            }
            return result;
        }

        std::unique_ptr<Copy> out = job.newCopy();
        QPDFWriter writer(pdf);
        writer.setOutputPipeline(out.get());
        // Streams are written as they came: what was compressed stays so, nothing is decoded.
        writer.setStreamDataMode(qpdf_s_preserve);
        // The same input numbered the same way gives the same bytes. qpdf derives the /ID from what it
        // writes, except when it encrypts with it: it then writes a fixed stand-in, replaced here by one
        // derived from the input and the options, which also give its cipher blocks their start.
        const bool encrypted = pdf.isEncrypted();
        std::string revision;
        std::optional<SeededRandom> seeded;
        if (encrypted) {
            revision = job.revisionId();
            seeded.emplace(revision);
            writer.setStaticID(true);
        } else {
            writer.setDeterministicID(true);
        }
        writer.write();
        seeded.reset();
        // Only the second element: where the input had no /ID, the first is the stand-in too, and the
        // file's key was computed with it.
        if (encrypted && !out->replaceNearEnd(HexString(kStandInId) + "]", HexString(revision) + "]", 1 << 16))
            throw StampError("the numbered copy's /ID could not be written");
        out->commit();
        for (auto& w : pdf.getWarnings())
            result.warnings.push_back(w.what());
        result.neededRepair = result.neededRepair || !result.warnings.empty();
        // After repairs the result is read back: a file that qpdf patched together must open with
        // every page and without another repair of its cross-reference table before it is placed.
        if (result.neededRepair)
            readBack(*out, [&](QPDF& check) { checkPages(check, result.pages); });
        out->place();
        // Freeing a large document object by object takes about a tenth of the run; when the process
        // ends right after, the system takes it back at once.
        if (leaveDocumentToExit) {
            (void)document.pdf.release();
            (void)document.bytes.release();
        }
    } catch (StampError& e) {
        throw StampError(job.name + ": " + e.what());
    } catch (QPDFExc& e) {
        throw StampError(job.name + " could not be numbered (" + describe(e) + ")");
    } catch (std::exception& e) {
        throw StampError(job.name + " could not be numbered (" + e.what() + ")");
    }
    return result;
}

// OUT's file, written unnamed and named when placed.
class FileCopy : public Copy {
public:
    FileCopy(const StampOptions& options, const std::string* bytes, const std::function<bool(OutputFile&)>& copyInput)
        : out_(options.output, options.watchShortNames ? options.watchShortNames() : nullptr)
        , target_(options.output)
        , bytes_(bytes)
        , copyInput_(copyInput) {}
    void write(unsigned char const* data, size_t len) override { out_.write(data, len); }
    void finish() override { out_.finish(); }
    bool appendInput() override {
        if (bytes_) {
            out_.write(reinterpret_cast<const unsigned char*>(bytes_->data()), bytes_->size());
            return true;
        }
        return copyInput_(out_);
    }
    void commit() override { out_.commit(); }
    std::string_view written() override { return out_.mapped(); }
    void place() override { out_.replace(target_); }
    bool replaceNearEnd(const std::string& from, const std::string& to, size_t within) override {
        return out_.replaceNearEnd(from, to, within);
    }

private:
    OutputFile out_;
    std::string target_;
    const std::string* bytes_;
    std::function<bool(OutputFile&)> copyInput_;
};

// A copy in memory, moved to `result` when placed.
class MemoryCopy : public Copy {
public:
    MemoryCopy(std::string_view input, std::string& result)
        : input_(input)
        , result_(result) {}
    void write(unsigned char const* data, size_t len) override { data_.append(reinterpret_cast<const char*>(data), len); }
    void finish() override {}
    bool appendInput() override {
        data_.append(input_);
        return true;
    }
    void commit() override {}
    std::string_view written() override { return data_; }
    void place() override { result_ = std::move(data_); }
    bool replaceNearEnd(const std::string& from, const std::string& to, size_t within) override {
        if (from.size() != to.size() || from.empty())
            return false;
        bool found = false;
        const size_t start = data_.size() > within ? data_.size() - within : 0;
        for (size_t at = data_.find(from, start); at != std::string::npos; at = data_.find(from, at + from.size())) {
            data_.replace(at, to.size(), to);
            found = true;
        }
        return found;
    }

private:
    std::string_view input_;
    std::string& result_;
    std::string data_;
};

InputReader readerOf(std::string_view bytes) {
    return [bytes](long long offset, size_t length) {
        if (offset < 0 || size_t(offset) >= bytes.size())
            return std::string();
        return std::string(bytes.substr(size_t(offset), length));
    };
}

} // namespace

NumberPdfResult NumberPdfFile(const StampOptions& options, bool leaveDocumentToExit, NumberingWay way) {
    struct stat st {};
    if (stat(options.output.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        throw StampError(options.output + " is a folder; give a file name for the numbered copy");

    Job job(options, options.input, std::make_unique<std::string>());
    // The bytes an update is appended to must be the ones read: held in memory when the file is of
    // a size to hold, otherwise read again through the file, which must not have changed since.
    const struct stat before = statInput(options.input);
    job.inputSize = before.st_size;
    std::shared_ptr<int> fd;
    auto openFd = [&]() -> int {
        if (!fd) {
            fd = std::shared_ptr<int>(new int(open(options.input.c_str(), O_RDONLY | O_CLOEXEC)), [](int* f) {
                if (*f >= 0)
                    close(*f);
                delete f;
            });
            struct stat now {};
            if (*fd >= 0 && (fstat(*fd, &now) != 0 || now.st_ino != before.st_ino || now.st_dev != before.st_dev ||
                             now.st_size != before.st_size || now.st_mtim.tv_sec != before.st_mtim.tv_sec ||
                             now.st_mtim.tv_nsec != before.st_mtim.tv_nsec)) {
                close(*fd);
                *fd = -1;
            }
        }
        return *fd;
    };
    if (before.st_size <= kReadWholeUpTo) {
        *job.bytes = readWhole(options.input, before.st_size);
        job.inMemory = true;
        job.quickAllowed = S_ISREG(before.st_mode);
        job.inputSize = (long long)job.bytes->size();
    }
    // Kept apart from job.bytes, which qpdf takes over.
    const std::string* held = job.inMemory ? job.bytes.get() : nullptr;
    if (held) {
        job.readInput = readerOf(*held);
    } else {
        job.readInput = [&](long long offset, size_t length) {
            std::string bytes(length, '\0');
            const int f = openFd();
            ssize_t n = f >= 0 ? pread(f, bytes.data(), length, offset) : -1;
            bytes.resize(n > 0 ? size_t(n) : 0);
            return bytes;
        };
    }
    job.makeRevisionId = [&] {
        if (held)
            return RevisionId(*held, options);
        const int f = openFd();
        if (f < 0)
            throw StampError(options.input + ": it changed while it was being numbered");
        return RevisionIdOfFile(f, before.st_size, options);
    };
    job.newCopy = [&]() -> std::unique_ptr<Copy> {
        return std::make_unique<FileCopy>(options, held, [&](OutputFile& out) {
            const int f = openFd();
            if (f < 0)
                return false;
            out.copyFrom(f, before.st_size);
            return true;
        });
    };
    return number(job, way, leaveDocumentToExit);
}

NumberedBytes NumberPdfBytes(std::string_view input, const StampOptions& options, NumberingWay way) {
    NumberedBytes numbered;
    Job job(options, options.input.empty() ? std::string("the input") : options.input,
            std::make_unique<std::string>(input));
    job.inMemory = true;
    job.quickAllowed = true;
    job.inputSize = (long long)input.size();
    job.readInput = readerOf(input);
    job.makeRevisionId = [&] { return RevisionId(input, options); };
    job.newCopy = [&]() -> std::unique_ptr<Copy> { return std::make_unique<MemoryCopy>(input, numbered.copy); };
    numbered.result = number(job, way, false);
    return numbered;
}

size_t CountPdfPages(const std::string& path) {
    const struct stat st = statInput(path);
    StampOptions options;
    options.input = path;
    Job job(options, path, std::make_unique<std::string>());
    if (st.st_size <= kReadWholeUpTo) {
        *job.bytes = readWhole(path, st.st_size);
        job.inMemory = true;
        if (S_ISREG(st.st_mode))
            if (std::optional<size_t> pages = CountPagesQuickly(*job.bytes))
                return *pages;
    }
    // Counted as numbering counts when it goes the qpdf way: the tree mended first.
    try {
        bool recovered = false;
        RecoveredInput document = openInput(job, recovered);
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
