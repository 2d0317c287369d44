#include "XrefSection.h"

#include <qpdf/QPDFCryptoProvider.hh>
#include <qpdf/QPDFXRefEntry.hh>
#include <qpdf/QUtil.hh>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <map>
#include <stdexcept>
#include <unistd.h>
#include <vector>
#include <zlib.h>

namespace {

bool isSpace(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

bool isDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

// Big-endian in `width` bytes.
void putNumber(std::string& out, unsigned long long value, int width) {
    for (int k = width - 1; k >= 0; --k)
        out += char((value >> (8 * k)) & 0xff);
}

// Calls `run(first, count)` for each run of consecutive object numbers.
template <typename Run>
void forEachRun(const std::vector<XrefEntry>& entries, Run run) {
    for (size_t k = 0; k < entries.size();) {
        size_t end = k + 1;
        while (end < entries.size() && entries[end].number == entries[end - 1].number + 1)
            ++end;
        run(k, end - k);
        k = end;
    }
}

} // namespace

bool StartsWithPdfHeader(std::string_view head) {
    // "%PDF-" and a version: digits, a dot, a digit.
    size_t at = 5;
    if (head.substr(0, at) != "%PDF-" || at >= head.size() || !isDigit(head[at]))
        return false;
    while (at < head.size() && isDigit(head[at]))
        ++at;
    return at + 1 < head.size() && head[at] == '.' && isDigit(head[at + 1]);
}

LastSection FindLastSection(long long inputSize, const InputReader& readInput) {
    LastSection last;
    // With bytes before the header, readers count offsets from the header or from the file's start;
    // offsets that suit both can't be written. A "%PDF-" without its version is no header to qpdf,
    // which then looks further on for one.
    if (!StartsWithPdfHeader(readInput(0, 32))) {
        last.unsupported = "bytes before the PDF header";
        return last;
    }
    const size_t tailLength = size_t(std::min<long long>(inputSize, 1054));
    const std::string tail = readInput(inputSize - (long long)tailLength, tailLength);
    if (tail.size() != tailLength || tail.empty()) {
        last.unsupported = "the input changed while it was read";
        return last;
    }
    last.needsNewline = tail.back() != '\n' && tail.back() != '\r';
    size_t at = tail.rfind("startxref");
    if (at == std::string::npos) {
        last.unsupported = "no startxref at its end";
        return last;
    }
    at += 9;
    while (at < tail.size() && isSpace(tail[at]))
        ++at;
    long long offset = 0;
    size_t digits = 0;
    for (; at < tail.size() && isDigit(tail[at]) && digits < 15; ++at, ++digits)
        offset = offset * 10 + (tail[at] - '0');
    if (digits == 0 || offset >= inputSize) {
        last.unsupported = "a broken startxref";
        return last;
    }
    const std::string head = readInput(offset, 64);
    size_t k = 0;
    while (k < head.size() && isSpace(head[k]))
        ++k;
    if (head.compare(k, 4, "xref") == 0) {
        last.offset = offset;
        return last;
    }
    // "n g obj": a cross-reference stream.
    int numbers = 0;
    while (numbers < 2 && k < head.size() && isDigit(head[k])) {
        while (k < head.size() && isDigit(head[k]))
            ++k;
        ++numbers;
        while (k < head.size() && isSpace(head[k]))
            ++k;
    }
    if (numbers == 2 && head.compare(k, 3, "obj") == 0) {
        last.offset = offset;
        last.isStream = true;
        return last;
    }
    last.unsupported = "startxref does not point at a cross-reference section";
    return last;
}

void AppendXrefTable(std::string& out, const std::vector<XrefEntry>& entries, long long start,
                     const std::string& trailerEntries) {
    out += "xref\n";
    forEachRun(entries, [&](size_t first, size_t count) {
        out += std::to_string(entries[first].number) + " " + std::to_string(count) + "\n";
        for (size_t k = first; k < first + count; ++k) {
            char line[32];
            std::snprintf(line, sizeof line, "%010lld %05d n \n", entries[k].offset, entries[k].generation);
            out += line;
        }
    });
    out += "trailer\n<<" + trailerEntries + " >>\nstartxref\n" + std::to_string(start) + "\n%%EOF\n";
}

void AppendXrefStream(std::string& out, std::vector<XrefEntry>& entries, long long start, long long number,
                      const std::string& trailerEntries) {
    entries.push_back({int(number), 0, start});
    int width = 1;
    while (width < 8 && (start >> (8 * width)) != 0)
        ++width;
    std::string rows, index;
    forEachRun(entries, [&](size_t first, size_t count) {
        index += (index.empty() ? "" : " ") + std::to_string(entries[first].number) + " " + std::to_string(count);
        for (size_t k = first; k < first + count; ++k) {
            rows += char(1);
            putNumber(rows, (unsigned long long)entries[k].offset, width);
            putNumber(rows, (unsigned long long)entries[k].generation, 2);
        }
    });
    uLongf packedSize = compressBound(uLong(rows.size()));
    std::string packed(packedSize, '\0');
    if (compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize,
                  reinterpret_cast<const Bytef*>(rows.data()), uLong(rows.size()),
                  Z_DEFAULT_COMPRESSION) != Z_OK)
        throw std::runtime_error("cannot compress the cross-reference stream");
    packed.resize(packedSize);

    // Not encrypted: readers must find the objects before they can decrypt anything.
    out += std::to_string(number) + " 0 obj\n<< /Type /XRef" + trailerEntries + " /W [1 " + std::to_string(width) +
           " 2] /Index [" + index + "] /Filter /FlateDecode /Length " + std::to_string(packed.size()) +
           " >>\nstream\n";
    out += packed;
    out += "\nendstream\nendobj\nstartxref\n" + std::to_string(start) + "\n%%EOF\n";
}

std::string HexString(const std::string& bytes) {
    return "<" + QUtil::hex_encode(bytes) + ">";
}

namespace {
// Everything that changes what the pages show; not the file names, so a copy's bytes do not depend
// on where it was made.
std::string describeOptions(const StampOptions& o) {
    char numbers[200];
    std::snprintf(numbers, sizeof numbers, "%lld %.17g %d %d %d %.17g %.17g %d", o.firstNumber, o.fontSize,
                  o.red, o.green, o.blue, o.left, o.bottom, o.digits);
    std::string described = std::string(numbers) + '\0' + o.format + '\0' + o.fileTitle;
    // Every page numbered adds nothing: a copy keeps the ID it had before pages could be chosen.
    if (!o.pages.all())
        described += '\0' + o.pages.text();
    return described;
}

// qpdf's MD5, whichever crypto library it was built with.
class Md5 {
public:
    Md5()
        : impl_(QPDFCryptoProvider::getImpl()) {
        impl_->MD5_init();
    }
    void add(const void* data, size_t length) {
        impl_->MD5_update(static_cast<const unsigned char*>(data), length);
    }
    std::string finish(const StampOptions& options) {
        const std::string described = describeOptions(options);
        add(described.data(), described.size());
        impl_->MD5_finalize();
        QPDFCryptoImpl::MD5_Digest digest;
        impl_->MD5_digest(digest);
        return std::string(reinterpret_cast<const char*>(digest), sizeof digest);
    }

private:
    std::shared_ptr<QPDFCryptoImpl> impl_;
};
} // namespace

// The input as the ID sees it: its size, its first and its last 64 KB. The tail holds the last
// cross-reference section and trailer (with the file's own /ID), so two files that share all three
// are one document for any reader; hashing every byte cost a large file a tenth of its run.
constexpr long long kIdSample = 64 * 1024;

std::string RevisionId(std::string_view input, const StampOptions& options) {
    Md5 md5;
    const long long size = (long long)input.size();
    md5.add(&size, sizeof size);
    if (size <= 2 * kIdSample) {
        md5.add(input.data(), input.size());
    } else {
        md5.add(input.data(), size_t(kIdSample));
        md5.add(input.data() + (size - kIdSample), size_t(kIdSample));
    }
    return md5.finish(options);
}

std::string RevisionIdOfFile(int fd, long long size, const StampOptions& options) {
    std::string sample;
    auto readAt = [&](long long at, long long length) {
        const size_t start = sample.size();
        sample.resize(start + size_t(length));
        for (long long done = 0; done < length;) {
            const ssize_t n = pread(fd, sample.data() + start + done, size_t(length - done), at + done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                throw std::runtime_error("cannot read the input again");
            done += n;
        }
    };
    if (size <= 2 * kIdSample) {
        readAt(0, size);
        return RevisionId(sample, options);
    }
    // The same bytes RevisionId hashes, so a file gets the same ID whichever way it was read.
    readAt(0, kIdSample);
    readAt(size - kIdSample, kIdSample);
    Md5 md5;
    md5.add(&size, sizeof size);
    md5.add(sample.data(), sample.size());
    return md5.finish(options);
}

void CheckWrittenWhere(QPDF& copy, QPDFObjGen root, const std::vector<XrefEntry>& written) {
    if (copy.getTrailer().getKey("/Root").getObjGen() != root)
        throw std::runtime_error("the copy's catalog is not the input's");
    const std::map<QPDFObjGen, QPDFXRefEntry> table = copy.getXRefTable();
    for (const XrefEntry& e : written) {
        const QPDFObjGen og(e.number, e.generation);
        auto found = table.find(og);
        if (found == table.end() || found->second.getType() != 1 || found->second.getOffset() != e.offset)
            throw std::runtime_error("object " + og.unparse(' ') + " is not where it was written");
    }
}

void CheckReadWithoutRepair(QPDF& copy) {
    if (copy.anyWarnings())
        throw std::runtime_error(std::string("the copy needed repairs to be read: ") + copy.getWarnings().at(0).what());
}
