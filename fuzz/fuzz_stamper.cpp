// libFuzzer entry: any bytes as a PDF file, numbered in memory through the engine's in-memory entry
// (NumberPdfBytes), the way mbtPdfAsm.exe numbers a file: first the quick way (our own reader, for
// well-formed files), otherwise qpdf's reading, our recovery when it gives up, the page tree mended,
// the pages stamped, the copy appended as an incremental update when the input read cleanly and
// rewritten whole otherwise. Both ways run on every input. StampError is the engine's way of
// refusing a file; crashes, leaks and hangs are what we look for.
//
// With NUMBREL_FUZZ_STRICT set it also aborts where the writer got something wrong: an appended copy
// that did not read back as written (the tool quietly makes the copy another way then), and, for an
// input that reads cleanly, quick-way and qpdf-way copies that differ as a viewer reads them
// (CompareNumberedCopies: pages, boxes, rotation, resources, the number's stream).

#include "ContentScan.h"
#include "CopyCompare.h"
#include "NumberPdfFile.h"

#include <qpdf/QPDF.hh>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <string>
#include <string_view>

namespace {

// Every object of the input read by qpdf without a warning.
bool readsCleanly(std::string_view bytes) {
    try {
        QPDF pdf;
        pdf.setSuppressWarnings(true);
        pdf.processMemoryFile("fuzz input", bytes.data(), bytes.size());
        for (auto& h : pdf.getAllObjects())
            if (h.isStream())
                h.getDict();
        return !pdf.anyWarnings();
    } catch (std::exception&) {
        return false;
    }
}

std::optional<NumberedBytes> number(std::string_view bytes, const StampOptions& options, NumberingWay way) {
    try {
        return NumberPdfBytes(bytes, options, way);
    } catch (std::exception&) {
        return std::nullopt;
    }
}

[[noreturn]] void fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "%s: %s\n", what, detail.c_str());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The content scanner also meets every byte string a page's content may hold, whole and in pieces.
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const ContentScan whole = ContentScan::of(bytes);
    ContentScanner pieces;
    for (size_t at = 0; at < size; at += 7)
        pieces.feed(bytes.substr(at, 7));
    const ContentScan split = pieces.finish();
    const bool strict = std::getenv("NUMBREL_FUZZ_STRICT") != nullptr;
    // Content is scanned in pieces of whatever size the decoder hands out: the split must not matter.
    if (strict && (whole.openSaves != split.openSaves || whole.openText != split.openText ||
                   whole.strayRestores != split.strayRestores || whole.end != split.end ||
                   whole.doubt != split.doubt || whole.doubtAt != split.doubtAt ||
                   whole.openMarked != split.openMarked || whole.openCompat != split.openCompat))
        fail("content scanned in pieces differs from the whole", "");

    StampOptions options;
    options.input = "fuzz input";
    options.firstNumber = size % 2 ? -3 : 999999999999LL;
    options.fontSize = 10.5;
    options.red = 255;

    const std::optional<NumberedBytes> first = number(bytes, options, NumberingWay::Quickest);
    // Where the quick way declined, the first run already went the qpdf way.
    const std::optional<NumberedBytes> second =
        first && first->result.quickWay ? number(bytes, options, NumberingWay::QpdfOnly) : std::nullopt;
    if (!strict)
        return 0;
    for (const auto* run : {&first, &second})
        if (*run && !(*run)->result.readBackFailure.empty() && readsCleanly(bytes))
            fail("an appended copy does not read back", (*run)->result.readBackFailure);
    if (first && second && readsCleanly(bytes)) {
        std::string difference;
        try {
            QPDF a, b;
            a.setSuppressWarnings(true);
            b.setSuppressWarnings(true);
            a.processMemoryFile("quick copy", first->copy.data(), first->copy.size());
            b.processMemoryFile("qpdf copy", second->copy.data(), second->copy.size());
            difference = CompareNumberedCopies(a, b);
        } catch (std::exception& e) {
            difference = std::string("a copy does not read: ") + e.what();
        }
        if (!difference.empty())
            fail("the two ways' copies differ", difference);
    }
    return 0;
}
