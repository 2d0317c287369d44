// libFuzzer entry: any bytes as a PDF file, read and numbered in memory the way mbtPdfAsm.exe reads
// and numbers a file: first the quick way (our own reader, for well-formed files), then qpdf's reading, our recovery when it gives up, the page tree mended, the pages
// stamped, then the copy appended as an incremental update and read back when the input read
// cleanly, rewritten whole otherwise. Both ways run on every input. Exceptions are the engine's way of refusing a file; crashes,
// leaks and hangs are what we look for. With NUMBREL_FUZZ_STRICT set, an appended copy that does not
// read back as written also aborts: the tool would quietly fall back to a rewrite, but the writer got
// something wrong.

#include "CleanFileUpdate.h"
#include "ContentScan.h"
#include "IncrementalUpdate.h"
#include "PageStamper.h"
#include "PageTree.h"
#include "Recovery.h"

#include <qpdf/Buffer.hh>
#include <qpdf/Pl_Buffer.hh>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFWriter.hh>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <string_view>

namespace {

RecoveredInput read(const uint8_t* data, size_t size) {
    try {
        auto pdf = std::make_unique<QPDF>();
        pdf->setSuppressWarnings(true);
        pdf->processMemoryFile("fuzz input", reinterpret_cast<const char*>(data), size);
        pdf->getRoot();
        if (!pdf->getTrailer().getKey("/Root").isIndirect())
            throw std::runtime_error("direct catalog");
        return RecoveredInput{nullptr, std::move(pdf)};
    } catch (QPDFExc& e) {
        if (e.getErrorCode() == qpdf_e_password)
            throw;
    } catch (std::exception&) {
    }
    return RecoverInput(std::string(reinterpret_cast<const char*>(data), size), "fuzz input");
}

// Every object of the input read by qpdf without a warning.
bool readsCleanly(const uint8_t* data, size_t size) {
    try {
        QPDF pdf;
        pdf.setSuppressWarnings(true);
        pdf.processMemoryFile("fuzz input", reinterpret_cast<const char*>(data), size);
        for (auto& h : pdf.getAllObjects())
            if (h.isStream())
                h.getDict();
        return !pdf.anyWarnings();
    } catch (std::exception&) {
        return false;
    }
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
    // Content is scanned in pieces of whatever size the decoder hands out: the split must not matter.
    if (std::getenv("NUMBREL_FUZZ_STRICT") &&
        (whole.openSaves != split.openSaves || whole.openText != split.openText ||
         whole.strayRestores != split.strayRestores || whole.end != split.end)) {
        std::fprintf(stderr, "content scanned in pieces differs from the whole\n");
        std::abort();
    }

    StampOptions options;
    options.firstNumber = size % 2 ? -3 : 999999999999LL;
    options.fontSize = 10.5;
    options.red = 255;
    // Whatever the quick way takes must read back as written.
    try {
        CleanFileUpdate quick(bytes, options);
        std::string copy(bytes);
        copy += quick.text();
        try {
            QPDF check;
            check.setSuppressWarnings(true);
            check.processMemoryFile("numbered copy", copy.data(), copy.size());
            quick.checkReadBack(check);
        } catch (std::exception& e) {
            // The read-back may meet damage the quick way never read (it reads only what numbering
            // needs); the writer is at fault only when the input itself reads without a repair.
            if (std::getenv("NUMBREL_FUZZ_STRICT") && readsCleanly(data, size)) {
                std::fprintf(stderr, "quick copy does not read back: %s\n", e.what());
                std::abort();
            }
        }
    } catch (std::exception&) {
    }

    try {
        RecoveredInput input = read(data, size);
        QPDF& pdf = *input.pdf;
        const bool treeMended = MendPageTree(pdf).mended;
        const bool trailerMended = MendTrailer(pdf);
        PageStamper stamper(pdf, options);
        stamper.stampAll();
        if (!input.bytes && !treeMended && !trailerMended && !EncryptionLengthRounded(pdf) &&
            !pdf.anyWarnings()) {
            IncrementalUpdate update(
                pdf, (long long)size,
                [&](long long offset, size_t length) {
                    if (offset < 0 || size_t(offset) >= size)
                        return std::string();
                    return std::string(reinterpret_cast<const char*>(data) + offset,
                                       std::min(length, size - size_t(offset)));
                },
                RevisionId(std::string_view(reinterpret_cast<const char*>(data), size), options));
            if (update.unsupported().empty()) {
                Pl_Buffer copy("numbered copy");
                copy.write(data, size);
                update.write(copy);
                std::unique_ptr<Buffer> bytes(copy.getBuffer());
                try {
                    QPDF check;
                    check.setSuppressWarnings(true);
                    check.processMemoryFile(
                        "numbered copy", reinterpret_cast<const char*>(bytes->getBuffer()), bytes->getSize());
                    update.checkReadBack(check);
                } catch (std::exception& e) {
                    if (std::getenv("NUMBREL_FUZZ_STRICT")) {
                        std::fprintf(stderr, "appended copy does not read back: %s\n", e.what());
                        std::abort();
                    }
                }
                return 0;
            }
        }
        QPDFWriter writer(pdf);
        writer.setOutputMemory();
        writer.write();
    } catch (std::exception&) {
    }
    return 0;
}
