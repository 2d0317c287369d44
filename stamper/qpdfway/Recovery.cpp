#include "Recovery.h"

#include "XrefSection.h"

#include <qpdf/InputSource.hh>
#include <qpdf/Pipeline.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFTokenizer.hh>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <stdexcept>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// Trailers tried, latest first: a file with more is built to make recovery slow.
constexpr size_t kMaxTrailers = 100;
// An object stream's list of numbers and offsets is read up to this size.
constexpr size_t kMaxStreamHeader = 16 << 20;

// The damaged file's bytes, in memory or read from the file a piece at a time: a file of any size is
// scanned and read with memory bounded by the pieces, never held whole.
class Bytes {
public:
    struct File {
        std::string path;
    };
    explicit Bytes(std::string bytes)
        : memory_(std::move(bytes))
        , size_((long long)memory_.size()) {}
    explicit Bytes(const File& file) {
        fd_ = ::open(file.path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0)
            throw std::runtime_error(std::strerror(errno));
        struct stat st {};
        if (fstat(fd_, &st) != 0) {
            ::close(fd_);
            throw std::runtime_error(std::strerror(errno));
        }
        size_ = (long long)st.st_size;
    }
    ~Bytes() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Bytes(const Bytes&) = delete;
    Bytes& operator=(const Bytes&) = delete;

    long long size() const { return size_; }
    // Up to `length` bytes from `offset` into `out`; the count copied.
    size_t read(long long offset, char* out, size_t length) const {
        if (offset < 0 || offset >= size_)
            return 0;
        length = size_t(std::min<long long>((long long)length, size_ - offset));
        if (fd_ < 0) {
            std::memcpy(out, memory_.data() + offset, length);
            return length;
        }
        size_t done = 0;
        while (done < length) {
            const ssize_t n = pread(fd_, out + done, length - done, off_t(offset + (long long)done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                throw std::runtime_error("the file cannot be read");
            done += size_t(n);
        }
        return done;
    }
    // The bytes from `offset` on, up to `length`: a view of memory, or a copy kept in `buffer`.
    std::string_view view(long long offset, size_t length, std::string& buffer) const {
        if (offset < 0 || offset >= size_)
            return {};
        length = size_t(std::min<long long>((long long)length, size_ - offset));
        if (fd_ < 0)
            return std::string_view(memory_).substr(size_t(offset), length);
        buffer.resize(length);
        buffer.resize(read(offset, buffer.data(), length));
        return buffer;
    }

private:
    std::string memory_;
    int fd_ = -1;
    long long size_ = 0;
};

// What qpdf reads: the file's bytes followed by a cross-reference section of our own.
class JoinedInput : public InputSource {
public:
    JoinedInput(std::shared_ptr<const Bytes> bytes, std::string tail, std::string name)
        : bytes_(std::move(bytes))
        , tail_(std::move(tail))
        , name_(std::move(name))
        , end_(bytes_->size() + (long long)tail_.size()) {}

    qpdf_offset_t findAndSkipNextEOL() override {
        char c = 0;
        while (at_ < end_ && (c = byteAt(at_)) != '\r' && c != '\n')
            ++at_;
        const qpdf_offset_t result = at_;
        while (at_ < end_ && ((c = byteAt(at_)) == '\r' || c == '\n'))
            ++at_;
        return result;
    }
    std::string const& getName() const override { return name_; }
    qpdf_offset_t tell() override { return at_; }
    void seek(qpdf_offset_t offset, int whence) override {
        qpdf_offset_t to = offset;
        if (whence == SEEK_END)
            to = end_ + offset;
        else if (whence == SEEK_CUR)
            to = at_ + offset;
        if (to < 0)
            throw std::runtime_error(name_ + ": seek before the start");
        at_ = to;
    }
    void rewind() override { at_ = 0; }
    size_t read(char* buffer, size_t length) override {
        last_offset = std::min(at_, end_);
        size_t done = 0;
        while (done < length && at_ < end_) {
            size_t n = 0;
            if (at_ < bytes_->size()) {
                fill(at_);
                const long long in = at_ - blockStart_;
                n = std::min(length - done, block_.size() - size_t(in));
                std::memcpy(buffer + done, block_.data() + in, n);
            } else {
                const size_t in = size_t(at_ - bytes_->size());
                n = std::min(length - done, tail_.size() - in);
                std::memcpy(buffer + done, tail_.data() + in, n);
            }
            done += n;
            at_ += (long long)n;
        }
        return done;
    }
    void unreadCh(char) override {
        if (at_ > 0)
            --at_;
    }

private:
    static constexpr size_t kBlock = 64 * 1024;

    void fill(long long offset) {
        if (offset >= blockStart_ && offset < blockStart_ + (long long)block_.size())
            return;
        blockStart_ = offset / (long long)kBlock * (long long)kBlock;
        block_.resize(kBlock);
        block_.resize(bytes_->read(blockStart_, block_.data(), kBlock));
    }
    char byteAt(long long offset) {
        if (offset >= bytes_->size())
            return tail_[size_t(offset - bytes_->size())];
        fill(offset);
        return block_[size_t(offset - blockStart_)];
    }

    std::shared_ptr<const Bytes> bytes_;
    std::string tail_;
    std::string name_;
    long long end_ = 0;
    long long at_ = 0;
    std::string block_;
    long long blockStart_ = 0;
};

bool isWhite(char c) {
    return c == 0 || c == 9 || c == 10 || c == 12 || c == 13 || c == 32;
}
bool isDelimiter(char c) {
    return std::strchr("()<>[]{}/%", c) != nullptr && c != 0;
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

struct Header {
    long long offset = 0;
    int gen = 0;
};

// One entry of the rebuilt cross-reference section.
struct Entry {
    int type = 1; // 1: at `where` in the file; 2: number `index` in object stream `where`
    long long where = 0;
    int genOrIndex = 0;
};

struct Scan {
    std::map<int, Header> objects;   // each number's latest "n g obj" in the file
    std::vector<long long> trailers; // just past each "trailer" keyword
};

// Reads "n g obj" at `at`; false when something else is there.
bool readHeader(std::string_view b, size_t at, int& num, int& gen, size_t& end) {
    const size_t n = b.size();
    size_t p = at;
    long long value = 0;
    while (p < n && isDigit(b[p]) && p - at < 10)
        value = value * 10 + (b[p++] - '0');
    if (p == at || p >= n || !isWhite(b[p]) || value > kMaxObjectNumber || value < 1)
        return false;
    num = int(value);
    while (p < n && isWhite(b[p]))
        ++p;
    const size_t genStart = p;
    value = 0;
    while (p < n && isDigit(b[p]) && p - genStart < 6)
        value = value * 10 + (b[p++] - '0');
    if (p == genStart || p >= n || !isWhite(b[p]) || value > 65535)
        return false;
    gen = int(value);
    while (p < n && isWhite(b[p]))
        ++p;
    if (b.compare(p, 3, "obj") != 0 || (p + 3 < n && !isWhite(b[p + 3]) && !isDelimiter(b[p + 3])))
        return false;
    end = p + 3;
    return true;
}

// The file is scanned a piece at a time; a header or keyword that starts in one piece is read on
// into the next by this much. An "n g obj" longer than that (white space without end) is not one a
// writer makes.
constexpr size_t kScanPiece = 16 << 20;
constexpr size_t kScanOverlap = 4096;

Scan scanBytes(const Bytes& bytes) {
    Scan scan;
    std::string buffer;
    // Positions before `next` are done: a header read on into the next piece moves it on.
    long long next = 0;
    for (long long start = 0; start < bytes.size(); start += (long long)kScanPiece) {
        // One byte before the piece, to tell whether its first byte starts a word.
        const long long from = start > 0 ? start - 1 : 0;
        const std::string_view b = bytes.view(from, kScanPiece + kScanOverlap + 1, buffer);
        const size_t n = b.size();
        const size_t stop = std::min<size_t>(n, size_t(start - from) + kScanPiece);
        for (size_t i = size_t(std::max<long long>(next - from, start - from)); i < stop; ++i) {
            if (i > 0 && !isWhite(b[i - 1]) && !isDelimiter(b[i - 1]))
                continue;
            const char c = b[i];
            if (isDigit(c)) {
                int num = 0, gen = 0;
                size_t end = 0;
                if (readHeader(b, i, num, gen, end)) {
                    scan.objects[num] = Header{from + static_cast<long long>(i), gen};
                    i = end - 1;
                } else {
                    while (i + 1 < n && isDigit(b[i + 1]))
                        ++i;
                }
                next = from + (long long)i + 1;
            } else if (c == 't' && b.compare(i, 7, "trailer") == 0 &&
                       (i + 7 == n || isWhite(b[i + 7]) || isDelimiter(b[i + 7]))) {
                scan.trailers.push_back(from + static_cast<long long>(i + 7));
            }
        }
    }
    return scan;
}

// Whether `word` occurs in the first bytes of the object at `at`: a cheap test before asking qpdf.
bool objectMentions(const Bytes& b, long long at, const char* word, size_t window) {
    std::string buffer;
    return b.view(at, window, buffer).find(word) != std::string_view::npos;
}

void putBigEndian(std::string& out, unsigned long long value, int bytes) {
    for (int k = bytes - 1; k >= 0; --k)
        out += char((value >> (8 * k)) & 0xff);
}

// A cross-reference stream listing `entries`, with the trailer keys `keys`, and a startxref pointing
// at it, to follow `size` bytes.
std::string xrefAfter(long long size, const std::map<int, Entry>& entries, const std::string& keys) {
    std::string bytes;
    const int self = entries.empty() ? 1 : entries.rbegin()->first + 1;
    std::map<int, Entry> all = entries;
    const long long selfOffset = size + 1;
    all[self] = Entry{1, selfOffset, 0};
    std::string index, data;
    int runStart = -1, runLength = 0;
    auto closeRun = [&] {
        if (runLength > 0)
            index += std::to_string(runStart) + " " + std::to_string(runLength) + " ";
    };
    for (auto& [num, entry] : all) {
        if (runStart < 0 || num != runStart + runLength) {
            closeRun();
            runStart = num;
            runLength = 0;
        }
        ++runLength;
        data += char(entry.type);
        putBigEndian(data, static_cast<unsigned long long>(entry.where), 5);
        putBigEndian(data, static_cast<unsigned long long>(entry.genOrIndex), 4);
    }
    closeRun();
    bytes += "\n" + std::to_string(self) + " 0 obj\n<< /Type /XRef /Size " + std::to_string(self + 1) +
             " /W [1 5 4] /Index [" + index + "] /Length " + std::to_string(data.size()) + keys +
             " >>\nstream\n";
    bytes += data;
    bytes += "\nendstream\nendobj\nstartxref\n" + std::to_string(selfOffset) + "\n%%EOF\n";
    return bytes;
}

// Keeps the first bytes of a stream's decoded data, then stops the decoding.
class Prefix : public Pipeline {
public:
    Prefix(std::string& out, size_t limit)
        : Pipeline("object stream header", nullptr)
        , out_(out)
        , limit_(limit) {}
    void write(unsigned char const* data, size_t len) override {
        const size_t take = std::min(len, limit_ - out_.size());
        out_.append(reinterpret_cast<const char*>(data), take);
        if (out_.size() >= limit_)
            throw std::length_error("enough of the stream");
    }
    void finish() override {}

private:
    std::string& out_;
    size_t limit_;
};

// The objects an object stream holds, by its list of "number offset" pairs.
std::vector<int> objectsInStream(QPDFObjectHandle stream) {
    std::vector<int> numbers;
    QPDFObjectHandle dict = stream.getDict();
    QPDFObjectHandle n = dict.getKey("/N"), first = dict.getKey("/First");
    if (!n.isInteger() || !first.isInteger() || first.getIntValue() <= 0 || n.getIntValue() <= 0)
        return numbers;
    std::string header;
    Prefix prefix(header, std::min<size_t>(size_t(first.getIntValue()), kMaxStreamHeader));
    try {
        stream.pipeStreamData(&prefix, 0, qpdf_dl_generalized, true, false);
    } catch (std::exception&) {
        // enough read, or damaged: what came out is used
    }
    size_t p = 0;
    for (long long k = 0; k < n.getIntValue(); ++k) {
        long long values[2] = {0, 0};
        for (long long& v : values) {
            while (p < header.size() && isWhite(header[p]))
                ++p;
            if (p >= header.size() || !isDigit(header[p]))
                return numbers;
            while (p < header.size() && isDigit(header[p]) && v <= kMaxObjectNumber)
                v = v * 10 + (header[p++] - '0');
        }
        if (values[0] >= 1 && values[0] <= kMaxObjectNumber)
            numbers.push_back(int(values[0]));
    }
    return numbers;
}

std::unique_ptr<QPDF> open(const std::shared_ptr<const Bytes>& bytes, const std::map<int, Entry>& entries,
                           const std::string& keys, const std::string& description) {
    auto pdf = std::make_unique<QPDF>();
    pdf->setSuppressWarnings(true);
    pdf->processInputSource(
        std::make_shared<JoinedInput>(bytes, xrefAfter(bytes->size(), entries, keys), description));
    return pdf;
}

// Trailer dictionaries that name a /Root: after a "trailer" keyword or as a cross-reference
// stream's dictionary. Latest in the file first, as later updates supersede earlier ones.
std::vector<QPDFObjectHandle> trailerCandidates(QPDF& pdf, const std::shared_ptr<const Bytes>& bytes,
                                                const Scan& scan) {
    std::vector<std::pair<long long, QPDFObjectHandle>> found;
    auto input = std::make_shared<JoinedInput>(bytes, std::string(), "trailer");
    size_t tried = 0;
    for (auto it = scan.trailers.rbegin(); it != scan.trailers.rend() && tried < kMaxTrailers;
         ++it, ++tried) {
        try {
            input->seek(*it, SEEK_SET);
            QPDFTokenizer tokenizer;
            bool empty = false;
            QPDFObjectHandle t = QPDFObjectHandle::parse(input, "trailer", tokenizer, empty, nullptr, &pdf);
            if (t.isDictionary() && t.hasKey("/Root"))
                found.emplace_back(*it, t);
        } catch (std::exception&) {
            // not a trailer after all
        }
    }
    for (auto& [num, header] : scan.objects) {
        if (!objectMentions(*bytes, header.offset, "/XRef", 1024))
            continue;
        try {
            QPDFObjectHandle object = pdf.getObject(num, header.gen);
            if (object.isStream() && object.getDict().getKey("/Type").isNameAndEquals("/XRef") &&
                object.getDict().hasKey("/Root"))
                found.emplace_back(header.offset, object.getDict());
        } catch (std::exception&) {
        }
    }
    std::stable_sort(found.begin(), found.end(), [](auto& a, auto& b) { return a.first > b.first; });
    std::vector<QPDFObjectHandle> result;
    for (auto& f : found)
        result.push_back(f.second);
    return result;
}

std::string keysText(QPDFObjectHandle trailer, std::initializer_list<const char*> keys) {
    std::string text;
    for (const char* key : keys) {
        QPDFObjectHandle value = trailer.getKey(key);
        if (!value.isNull())
            text += std::string(" ") + key + " " + value.unparse();
    }
    return text;
}

// The catalog among the objects, latest first, one that leads to pages preferred.
QPDFObjectHandle findCatalog(QPDF& pdf, const Bytes& bytes, const std::map<int, Entry>& entries,
                             const Scan& scan) {
    QPDFObjectHandle any;
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        auto& [num, entry] = *it;
        if (entry.type == 1 && !objectMentions(bytes, entry.where, "/Catalog", 4096))
            continue;
        try {
            QPDFObjectHandle object = pdf.getObject(num, entry.type == 1 ? scan.objects.at(num).gen : 0);
            if (!object.isDictionaryOfType("/Catalog"))
                continue;
            if (object.getKey("/Pages").isDictionary())
                return object;
            if (!any.isInitialized())
                any = object;
        } catch (std::exception&) {
        }
    }
    return any;
}

RecoveredInput recover(std::shared_ptr<const Bytes> bytes, const std::string& description) {
    // Without a header in the first kilobyte no viewer takes the bytes for a PDF file.
    std::string buffer;
    if (bytes->view(0, 1024, buffer).find("%PDF-") == std::string_view::npos)
        throw std::runtime_error("no PDF header");
    const Scan scan = scanBytes(*bytes);
    if (scan.objects.empty())
        throw std::runtime_error("no objects found");
    std::map<int, Entry> entries;
    for (auto& [num, header] : scan.objects)
        entries[num] = Entry{1, header.offset, header.gen};

    // First look: the objects at their places, no trailer keys yet. Its trailers tell whether the
    // file is encrypted, which must be known to read object streams.
    std::string encryption;
    for (int pass = 0; pass < 2; ++pass) {
        std::unique_ptr<QPDF> first = open(bytes, entries, encryption, description);
        if (pass == 0) {
            auto candidates = trailerCandidates(*first, bytes, scan);
            if (!candidates.empty())
                encryption = keysText(candidates.front(), {"/ID", "/Encrypt"});
            if (encryption.find("/Encrypt") != std::string::npos)
                continue; // again, able to decrypt this time
        }
        // Objects inside object streams, unless also stored on their own (the later way to store).
        std::map<int, Entry> compressed;
        for (auto& [num, header] : scan.objects) {
            if (!objectMentions(*bytes, header.offset, "/ObjStm", 1024))
                continue;
            try {
                QPDFObjectHandle stream = first->getObject(num, header.gen);
                if (!stream.isStream() || !stream.getDict().getKey("/Type").isNameAndEquals("/ObjStm"))
                    continue;
                int index = 0;
                for (int inside : objectsInStream(stream)) {
                    if (!scan.objects.count(inside) && inside != num)
                        compressed[inside] = Entry{2, num, index};
                    ++index;
                }
            } catch (std::exception&) {
            }
        }
        entries.insert(compressed.begin(), compressed.end());
        break;
    }

    std::unique_ptr<QPDF> pdf = open(bytes, entries, encryption, description);
    QPDFObjectHandle trailer = pdf->getTrailer();
    QPDFObjectHandle root, info;
    for (auto& candidate : trailerCandidates(*pdf, bytes, scan)) {
        if (candidate.getKey("/Root").isDictionary()) {
            root = candidate.getKey("/Root");
            info = candidate.getKey("/Info");
            break;
        }
    }
    if (!root.isInitialized())
        root = findCatalog(*pdf, *bytes, entries, scan);
    if (!root.isInitialized())
        throw std::runtime_error("no catalog found");
    trailer.replaceKey("/Root", root);
    if (info.isInitialized() && info.isDictionary() && info.isIndirect())
        trailer.replaceKey("/Info", info);
    else
        trailer.removeKey("/Info");
    // qpdf's reading holds on to the bytes for as long as the document lives.
    return RecoveredInput{std::make_unique<std::string>(), std::move(pdf)};
}

} // namespace

RecoveredInput RecoverInput(const std::string& path) {
    return recover(std::make_shared<const Bytes>(Bytes::File{path}), path);
}

RecoveredInput RecoverInput(std::string bytes, const std::string& description) {
    return recover(std::make_shared<const Bytes>(std::move(bytes)), description);
}

bool MendTrailer(QPDF& pdf) {
    QPDFObjectHandle trailer = pdf.getTrailer();
    if (trailer.getKey("/Size").isInteger())
        return false;
    trailer.replaceKey("/Size", QPDFObjectHandle::newInteger(0)); // the writer puts in the count
    return true;
}

namespace {
// The /Length of an encryption dictionary whose key length qpdf takes from it (V 2 and 3), or a null.
QPDFObjectHandle keyLengthOf(QPDF& pdf) {
    QPDFObjectHandle encrypt = pdf.getTrailer().getKey("/Encrypt");
    if (!encrypt.isDictionary())
        return QPDFObjectHandle();
    QPDFObjectHandle v = encrypt.getKey("/V");
    if (!v.isInteger() || (v.getIntValue() != 2 && v.getIntValue() != 3))
        return QPDFObjectHandle();
    return encrypt.getKey("/Length");
}
} // namespace

bool EncryptionLengthRounded(QPDF& pdf) {
    QPDFObjectHandle length = keyLengthOf(pdf);
    return length.isInteger() && length.getIntValue() % 8 != 0;
}

std::string EncryptionOthersRefuse(QPDF& pdf) {
    // qpdf keeps the key in whole bytes and writes its length back in bits.
    QPDFObjectHandle length = keyLengthOf(pdf);
    if (!length.isInitialized())
        return {};
    const long long bits = length.isInteger() ? length.getIntValue() / 8 * 8 : 0;
    if (bits >= 40 && bits <= 128)
        return {};
    return "its encryption dictionary gives a key length of " +
           (length.isInteger() ? std::to_string(length.getIntValue()) + " bits" : std::string("nothing")) +
           " where PDF readers need 40 to 128; a copy would open in no PDF reader";
}
