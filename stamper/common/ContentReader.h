#pragma once
// Reads the decoded data of content streams in two halves, so that the slow half can run away from
// qpdf, which only one thread may use: `fetch` takes a stream's bytes through qpdf, and plain Flate
// (most content) stays deflated there; `decode` inflates such bytes with one reused zlib state and
// buffer, which also costs a fraction of building qpdf's filter pipeline per stream. Decoded data
// goes out in pieces of a fixed size: a stream may inflate to gigabytes and is never held whole.

#include "ContentScan.h"

#include <qpdf/QPDFObjectHandle.hh>

#include <string>
#include <string_view>
#include <vector>
#include <zlib.h>

// The streams a page's /Contents names, in order; anything that isn't a stream is left out.
std::vector<QPDFObjectHandle> ContentStreams(QPDFObjectHandle contents);

struct ContentPiece {
    enum class Kind { Decoded, Deflated, QpdfOnly };
    std::string bytes; // empty for QpdfOnly
    Kind kind = Kind::Decoded;
};

// Where decoded content goes, a piece at a time.
class ContentSink {
public:
    virtual ~ContentSink() = default;
    virtual void take(const char* data, size_t len) = 0;
    // One of a page's content streams ended; viewers read the next as if a line break came between.
    virtual void streamEnd() { take("\n", 1); }
};

// Scans decoded content as it arrives.
class ScanningSink : public ContentSink {
public:
    void take(const char* data, size_t len) override { scanner_.feed(std::string_view(data, len)); }
    void streamEnd() override { scanner_.endStream(); }
    ContentScan finish() { return scanner_.finish(); }

private:
    ContentScanner scanner_;
};

class ContentReader {
public:
    ContentReader();
    ~ContentReader();
    ContentReader(const ContentReader&) = delete;
    ContentReader& operator=(const ContentReader&) = delete;

    // On qpdf's thread. Unfiltered data is taken as it is, plain Flate stays deflated; any other
    // filter is left for `decodeThroughQpdf`, whose output may be of any size.
    static ContentPiece fetch(QPDFObjectHandle stream);
    // On qpdf's thread. Data that can't be decoded ends where the damage starts, as it does for a
    // viewer; this does not throw for bad data, and returns false for it (a filter qpdf doesn't
    // decode counts as bad data: viewers differ in what they make of it).
    static bool decodeThroughQpdf(QPDFObjectHandle stream, ContentSink& sink);

    // On any one thread: passes the piece's decoded data to `sink`. False when the piece must be
    // decoded through qpdf, or its deflated bytes are not a plain zlib stream or go wrong before
    // their end; the sink may have taken part of the data then.
    bool decode(const ContentPiece& piece, ContentSink& sink);
    // The same for bytes as stored: plain Flate when `deflated`, unfiltered otherwise.
    bool decode(std::string_view bytes, bool deflated, ContentSink& sink);

private:
    bool inflateInto(std::string_view raw, ContentSink& sink);

    z_stream zlib_{};
    bool zlibReady_ = false;
    std::vector<unsigned char> chunk_;
};
