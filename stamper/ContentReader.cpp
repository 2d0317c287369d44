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

bool ContentReader::inflateInto(std::string& out) {
    if (!zlibReady_ || raw_.size() < 2 || inflateReset(&zlib_) != Z_OK)
        return false;
    const unsigned cmf = static_cast<unsigned char>(raw_[0]), flg = static_cast<unsigned char>(raw_[1]);
    if ((cmf & 0x0f) != Z_DEFLATED || (cmf * 256 + flg) % 31 != 0 || (flg & 0x20) != 0)
        return false; // not a plain zlib stream; qpdf knows what to do with it
    zlib_.next_in = reinterpret_cast<Bytef*>(raw_.data() + 2);
    zlib_.avail_in = uInt(raw_.size() - 2);
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

void ContentReader::append(QPDFObjectHandle stream, std::string& out) {
    if (isPlainFlate(stream.getDict())) {
        raw_.clear();
        Pl_String sink("raw content", nullptr, raw_);
        try {
            // Without decoding, qpdf still decrypts. It reports "not filtered" here, which is the point.
            stream.pipeStreamData(&sink, 0, qpdf_dl_none, true, false);
            if (inflateInto(out))
                return;
        } catch (std::exception&) {
        }
    }
    size_t start = out.size();
    Pl_String sink("content", nullptr, out);
    try {
        stream.pipeStreamData(&sink, 0, qpdf_dl_specialized, true, false);
    } catch (std::exception&) {
        // keep what was decoded before the damage
    }
    (void)start;
}
