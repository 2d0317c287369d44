#pragma once
// Reads the decoded data of content streams. Most content is plain Flate; that is inflated here with
// one reused zlib state and buffer, which costs a fraction of building qpdf's filter pipeline per
// stream. Anything else goes through qpdf.

#include <qpdf/QPDFObjectHandle.hh>

#include <string>
#include <vector>
#include <zlib.h>

class ContentReader {
public:
    ContentReader();
    ~ContentReader();
    ContentReader(const ContentReader&) = delete;
    ContentReader& operator=(const ContentReader&) = delete;

    // Appends the stream's decoded data to `out`. Data that can't be decoded ends where the damage
    // starts, as it does for a viewer; this never throws for bad data.
    void append(QPDFObjectHandle stream, std::string& out);

private:
    bool inflateInto(std::string& out);

    z_stream zlib_{};
    bool zlibReady_ = false;
    std::string raw_;
    std::vector<unsigned char> chunk_;
};
