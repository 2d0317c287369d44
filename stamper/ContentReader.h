#pragma once
// Reads the decoded data of content streams in two halves, so that the slow half can run away from
// qpdf, which only one thread may use: `fetch` takes a stream's bytes through qpdf, and plain Flate
// (most content) stays deflated there; `appendDecoded` inflates such bytes with one reused zlib
// state and buffer, which also costs a fraction of building qpdf's filter pipeline per stream.

#include <qpdf/QPDFObjectHandle.hh>

#include <string>
#include <vector>
#include <zlib.h>

// The streams a page's /Contents names, in order; anything that isn't a stream is left out.
std::vector<QPDFObjectHandle> ContentStreams(QPDFObjectHandle contents);

struct ContentPiece {
    std::string bytes;
    bool deflated = false; // zlib data still to be inflated; else already decoded
};

class ContentReader {
public:
    ContentReader();
    ~ContentReader();
    ContentReader(const ContentReader&) = delete;
    ContentReader& operator=(const ContentReader&) = delete;

    // On qpdf's thread. Data that can't be decoded ends where the damage starts, as it does for a
    // viewer; neither throws for bad data.
    static ContentPiece fetch(QPDFObjectHandle stream);
    static void appendThroughQpdf(QPDFObjectHandle stream, std::string& out);

    // On any one thread: appends the piece's decoded data to `out`. False when deflated bytes are
    // not a plain zlib stream or go wrong before their end; `out` is then as it was, and qpdf's
    // own decoding should be asked instead.
    bool appendDecoded(const ContentPiece& piece, std::string& out);

private:
    bool inflateInto(const std::string& raw, std::string& out);

    z_stream zlib_{};
    bool zlibReady_ = false;
    std::vector<unsigned char> chunk_;
};
