#include "ContentReader.h"

#include <algorithm>

#include <libdeflate.h>
#include <qpdf/Pipeline.hh>
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
    if (whole_ != nullptr)
        libdeflate_free_decompressor(whole_);
}

ContentPiece ContentReader::fetch(QPDFObjectHandle stream) {
    ContentPiece piece;
    QPDFObjectHandle dict = stream.getDict();
    const bool plainFlate = isPlainFlate(dict);
    QPDFObjectHandle filter = dict.getKey("/Filter");
    const bool unfiltered = filter.isNull() || (filter.isArray() && filter.getArrayNItems() == 0);
    if (!plainFlate && !unfiltered) {
        piece.kind = ContentPiece::Kind::QpdfOnly;
        return piece;
    }
    Pl_String sink("raw content", nullptr, piece.bytes);
    try {
        // Without decoding, qpdf still decrypts. It reports "not filtered" here, which is the point.
        stream.pipeStreamData(&sink, 0, qpdf_dl_none, true, false);
        piece.kind = plainFlate ? ContentPiece::Kind::Deflated : ContentPiece::Kind::Decoded;
    } catch (std::exception&) {
        piece.bytes.clear();
        piece.kind = ContentPiece::Kind::QpdfOnly;
    }
    return piece;
}

namespace {
class SinkPipeline : public Pipeline {
public:
    explicit SinkPipeline(ContentSink& sink)
        : Pipeline("content", nullptr)
        , sink_(sink) {}
    void write(unsigned char const* data, size_t len) override {
        sink_.take(reinterpret_cast<const char*>(data), len);
    }
    void finish() override {}

private:
    ContentSink& sink_;
};
} // namespace

bool ContentReader::decodeThroughQpdf(QPDFObjectHandle stream, ContentSink& sink) {
    SinkPipeline pipe(sink);
    try {
        return stream.pipeStreamData(&pipe, 0, qpdf_dl_specialized, true, false);
    } catch (std::exception&) {
        return false; // what was decoded before the damage is kept
    }
}

bool ContentReader::decode(const ContentPiece& piece, ContentSink& sink) {
    switch (piece.kind) {
    case ContentPiece::Kind::Decoded:
        sink.take(piece.bytes.data(), piece.bytes.size());
        return true;
    case ContentPiece::Kind::Deflated:
        return decode(piece.bytes, true, sink);
    case ContentPiece::Kind::QpdfOnly:
        break;
    }
    return false;
}

bool ContentReader::decode(std::string_view bytes, bool deflated, ContentSink& sink) {
    if (deflated)
        return inflateInto(bytes, sink);
    sink.take(bytes.data(), bytes.size());
    return true;
}

// Most content streams are small: inflated whole by libdeflate, about twice as fast as zlib, into a
// buffer of a bounded size. Larger data, data that inflates beyond the buffer and anything libdeflate
// refuses (a bad checksum, data cut short, which viewers still show up to the damage) go through
// zlib a piece at a time.
bool ContentReader::inflateWhole(std::string_view raw, ContentSink& sink) {
    constexpr size_t kMaxRaw = 1 << 20, kMaxOut = 16 << 20;
    if (raw.size() > kMaxRaw)
        return false;
    if (whole_ == nullptr && (whole_ = libdeflate_alloc_decompressor()) == nullptr)
        return false;
    size_t room = std::max<size_t>(wholeOut_.size(), std::max<size_t>(raw.size() * 4, 64 * 1024));
    for (; room <= kMaxOut; room *= 4) {
        if (wholeOut_.size() < room)
            wholeOut_.resize(room);
        size_t produced = 0;
        const libdeflate_result rc =
            libdeflate_zlib_decompress(whole_, raw.data(), raw.size(), wholeOut_.data(), room, &produced);
        if (rc == LIBDEFLATE_SUCCESS) {
            sink.take(wholeOut_.data(), produced);
            return true;
        }
        if (rc != LIBDEFLATE_INSUFFICIENT_SPACE)
            return false;
    }
    return false;
}

bool ContentReader::inflateInto(std::string_view raw, ContentSink& sink) {
    if (inflateWhole(raw, sink))
        return true;
    if (!zlibReady_ || raw.size() < 2 || inflateReset(&zlib_) != Z_OK)
        return false;
    const unsigned cmf = static_cast<unsigned char>(raw[0]), flg = static_cast<unsigned char>(raw[1]);
    if ((cmf & 0x0f) != Z_DEFLATED || (cmf * 256 + flg) % 31 != 0 || (flg & 0x20) != 0)
        return false; // not a plain zlib stream; qpdf knows what to do with it
    zlib_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(raw.data() + 2));
    zlib_.avail_in = uInt(raw.size() - 2);
    for (;;) {
        zlib_.next_out = chunk_.data();
        zlib_.avail_out = uInt(chunk_.size());
        int rc = inflate(&zlib_, Z_NO_FLUSH);
        const size_t produced = chunk_.size() - zlib_.avail_out;
        sink.take(reinterpret_cast<const char*>(chunk_.data()), produced);
        if (rc == Z_STREAM_END)
            return true;
        if (rc == Z_BUF_ERROR && (zlib_.avail_in == 0 || produced == 0))
            return true; // truncated data: keep what came out, as a viewer does
        if (rc != Z_OK && rc != Z_BUF_ERROR)
            return false;
    }
}
