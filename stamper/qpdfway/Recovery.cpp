#include "Recovery.h"

#include <qpdf/Buffer.hh>
#include <qpdf/BufferInputSource.hh>
#include <qpdf/Pipeline.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFTokenizer.hh>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <stdexcept>
#include <vector>

namespace {

// Beyond what qpdf accepts as an object number, and far beyond any real file.
constexpr long long kMaxObjectNumber = 8'000'000;
// Trailers tried, latest first: a file with more is built to make recovery slow.
constexpr size_t kMaxTrailers = 100;
// An object stream's list of numbers and offsets is read up to this size.
constexpr size_t kMaxStreamHeader = 16 << 20;

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
bool readHeader(const std::string& b, size_t at, int& num, int& gen, size_t& end) {
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

Scan scanBytes(const std::string& b) {
    Scan scan;
    const size_t n = b.size();
    for (size_t i = 0; i < n; ++i) {
        if (i > 0 && !isWhite(b[i - 1]) && !isDelimiter(b[i - 1]))
            continue;
        const char c = b[i];
        if (isDigit(c)) {
            int num = 0, gen = 0;
            size_t end = 0;
            if (readHeader(b, i, num, gen, end)) {
                scan.objects[num] = Header{static_cast<long long>(i), gen};
                i = end - 1;
            } else {
                while (i + 1 < n && isDigit(b[i + 1]))
                    ++i;
            }
        } else if (c == 't' && b.compare(i, 7, "trailer") == 0 &&
                   (i + 7 == n || isWhite(b[i + 7]) || isDelimiter(b[i + 7]))) {
            scan.trailers.push_back(static_cast<long long>(i + 7));
        }
    }
    return scan;
}

// Whether `word` occurs in the first bytes of the object at `at`: a cheap test before asking qpdf.
bool objectMentions(const std::string& b, long long at, const char* word, size_t window) {
    const size_t from = size_t(at);
    const size_t len = std::min(window, b.size() - from);
    return std::string_view(b).substr(from, len).find(word) != std::string_view::npos;
}

void putBigEndian(std::string& out, unsigned long long value, int bytes) {
    for (int k = bytes - 1; k >= 0; --k)
        out += char((value >> (8 * k)) & 0xff);
}

// Appends a cross-reference stream listing `entries`, with the trailer keys `keys`, and a
// startxref pointing at it.
void appendXref(std::string& bytes, const std::map<int, Entry>& entries, const std::string& keys) {
    const int self = entries.empty() ? 1 : entries.rbegin()->first + 1;
    std::map<int, Entry> all = entries;
    const long long selfOffset = static_cast<long long>(bytes.size()) + 1;
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

std::unique_ptr<QPDF> open(const std::string& bytes, const std::string& description) {
    auto pdf = std::make_unique<QPDF>();
    pdf->setSuppressWarnings(true);
    pdf->processMemoryFile(description.c_str(), bytes.data(), bytes.size());
    return pdf;
}

// Trailer dictionaries that name a /Root: after a "trailer" keyword or as a cross-reference
// stream's dictionary. Latest in the file first, as later updates supersede earlier ones.
std::vector<QPDFObjectHandle> trailerCandidates(QPDF& pdf, const std::string& bytes, const Scan& scan) {
    std::vector<std::pair<long long, QPDFObjectHandle>> found;
    Buffer view(reinterpret_cast<unsigned char*>(const_cast<char*>(bytes.data())), bytes.size());
    auto input = std::make_shared<BufferInputSource>("trailer", &view, false);
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
        if (!objectMentions(bytes, header.offset, "/XRef", 1024))
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
QPDFObjectHandle findCatalog(QPDF& pdf, const std::string& bytes, const std::map<int, Entry>& entries,
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

RecoveredInput recover(std::unique_ptr<std::string> bytes, const std::string& description) {
    std::string& work = *bytes;
    const size_t original = work.size();
    // Without a header in the first kilobyte no viewer takes the bytes for a PDF file.
    if (std::string_view(work).substr(0, 1024).find("%PDF-") == std::string_view::npos)
        throw std::runtime_error("no PDF header");
    const Scan scan = scanBytes(work);
    if (scan.objects.empty())
        throw std::runtime_error("no objects found");
    std::map<int, Entry> entries;
    for (auto& [num, header] : scan.objects)
        entries[num] = Entry{1, header.offset, header.gen};

    // First look: the objects at their places, no trailer keys yet. Its trailers tell whether the
    // file is encrypted, which must be known to read object streams.
    std::string encryption;
    for (int pass = 0; pass < 2; ++pass) {
        work.resize(original);
        appendXref(work, entries, encryption);
        std::unique_ptr<QPDF> first = open(work, description);
        if (pass == 0) {
            auto candidates = trailerCandidates(*first, work, scan);
            if (!candidates.empty())
                encryption = keysText(candidates.front(), {"/ID", "/Encrypt"});
            if (encryption.find("/Encrypt") != std::string::npos)
                continue; // again, able to decrypt this time
        }
        // Objects inside object streams, unless also stored on their own (the later way to store).
        std::map<int, Entry> compressed;
        for (auto& [num, header] : scan.objects) {
            if (!objectMentions(work, header.offset, "/ObjStm", 1024))
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

    work.resize(original);
    appendXref(work, entries, encryption);
    std::unique_ptr<QPDF> pdf = open(work, description);
    QPDFObjectHandle trailer = pdf->getTrailer();
    QPDFObjectHandle root, info;
    for (auto& candidate : trailerCandidates(*pdf, work, scan)) {
        if (candidate.getKey("/Root").isDictionary()) {
            root = candidate.getKey("/Root");
            info = candidate.getKey("/Info");
            break;
        }
    }
    if (!root.isInitialized())
        root = findCatalog(*pdf, work, entries, scan);
    if (!root.isInitialized())
        throw std::runtime_error("no catalog found");
    trailer.replaceKey("/Root", root);
    if (info.isInitialized() && info.isDictionary() && info.isIndirect())
        trailer.replaceKey("/Info", info);
    else
        trailer.removeKey("/Info");
    return RecoveredInput{std::move(bytes), std::move(pdf)};
}

} // namespace

RecoveredInput RecoverInput(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error(std::strerror(errno));
    auto bytes = std::make_unique<std::string>();
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size < 0)
        throw std::runtime_error("cannot tell the file's size");
    in.seekg(0, std::ios::beg);
    bytes->resize(size_t(size));
    if (!in.read(bytes->data(), size))
        throw std::runtime_error("cannot read the file");
    return recover(std::move(bytes), path);
}

RecoveredInput RecoverInput(std::string bytes, const std::string& description) {
    return recover(std::make_unique<std::string>(std::move(bytes)), description);
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
