#include "ContentReader.h"

#include <qpdf/Pl_String.hh>

namespace {

bool isPlainFlate(QPDFObjectHandle dict) {
    QPDFObjectHandle filter = dict.getKey("/Filter");
    if (filter.isArray() && filter.getArrayNItems() == 1)
        filter = filter.getArrayItem(0);
    if (!filter.isNameAndEquals("/FlateDecode"))
        return false;
    QPDFObjectHandle parms = dict.getKey("/DecodeParms");
    if (parms.isArray() && parms.getArrayNItems() == 1)
        parms = parms.getArrayItem(0);
    return parms.isNull() || (parms.isDictionary() && parms.getKeys().empty());
}

} // namespace

std::vector<QPDFObjectHandle> ContentStreams(QPDFObjectHandle contents) {
    std::vector<QPDFObjectHandle> streams;
    if (contents.isStream()) {
        streams.push_back(contents);
    } else if (contents.isArray()) {
        for (auto& item : contents.aitems())
            if (item.isStream())
                streams.push_back(item);
    }
    return streams;
}

// Raw deflate: the zlib header is checked here and the trailing checksum is not, which saves a
// pass over the data. A page's content is only scanned, never written from this copy.
ContentReader::ContentReader() {
    zlibReady_ = inflateInit2(&zlib_, -MAX_WBITS) == Z_OK;
    chunk_.resize(64 * 1024);
}

ContentReader::~ContentReader() {
    if (zlibReady_)
        inflateEnd(&zlib_);
}

ContentPiece ContentReader::fetch(QPDFObjectHandle stream) {
    ContentPiece piece;
    if (isPlainFlate(stream.getDict())) {
        Pl_String sink("raw content", nullptr, piece.bytes);
        try {
            // Without decoding, qpdf still decrypts. It reports "not filtered" here, which is the point.
            stream.pipeStreamData(&sink, 0, qpdf_dl_none, true, false);
            piece.deflated = true;
            return piece;
        } catch (std::exception&) {
            piece.bytes.clear();
        }
    }
    appendThroughQpdf(stream, piece.bytes);
    return piece;
}

void ContentReader::appendThroughQpdf(QPDFObjectHandle stream, std::string& out) {
    Pl_String sink("content", nullptr, out);
    try {
        stream.pipeStreamData(&sink, 0, qpdf_dl_specialized, true, false);
    } catch (std::exception&) {
        // keep what was decoded before the damage
    }
}

bool ContentReader::appendDecoded(const ContentPiece& piece, std::string& out) {
    if (!piece.deflated) {
        out += piece.bytes;
        return true;
    }
    return inflateInto(piece.bytes, out);
}

bool ContentReader::inflateInto(const std::string& raw, std::string& out) {
    if (!zlibReady_ || raw.size() < 2 || inflateReset(&zlib_) != Z_OK)
        return false;
    const unsigned cmf = static_cast<unsigned char>(raw[0]), flg = static_cast<unsigned char>(raw[1]);
    if ((cmf & 0x0f) != Z_DEFLATED || (cmf * 256 + flg) % 31 != 0 || (flg & 0x20) != 0)
        return false; // not a plain zlib stream; qpdf knows what to do with it
    zlib_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(raw.data() + 2));
    zlib_.avail_in = uInt(raw.size() - 2);
    const size_t start = out.size();
    // Through a fixed buffer: growing `out` ahead of the data would fill it with zeros first.
    for (;;) {
        zlib_.next_out = chunk_.data();
        zlib_.avail_out = uInt(chunk_.size());
        int rc = inflate(&zlib_, Z_NO_FLUSH);
        const size_t produced = chunk_.size() - zlib_.avail_out;
        out.append(reinterpret_cast<const char*>(chunk_.data()), produced);
        if (rc == Z_STREAM_END)
            return true;
        if (rc == Z_BUF_ERROR && (zlib_.avail_in == 0 || produced == 0))
            return true; // truncated data: keep what came out, as a viewer does
        if (rc != Z_OK && rc != Z_BUF_ERROR) {
            out.resize(start);
            return false;
        }
    }
}
