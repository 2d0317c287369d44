// libFuzzer entry: any bytes as a PDF file, numbered in memory the way mbtPdfAsm.exe numbers a file:
// appended as an incremental update and read back when the input read cleanly, rewritten otherwise.
// Exceptions are the engine's way of refusing a file; crashes, leaks and hangs are what we look for.
// With NUMBREL_FUZZ_STRICT set, an appended copy that does not read back as written also aborts: the
// tool would quietly fall back to a rewrite, but the writer got something wrong.

#include "ContentScan.h"
#include "IncrementalUpdate.h"
#include "PageStamper.h"

#include <qpdf/Buffer.hh>
#include <qpdf/Pl_Buffer.hh>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The content scanner also meets every byte string a page's content may hold.
    ContentScan::of(std::string_view(reinterpret_cast<const char*>(data), size));

    StampOptions options;
    options.firstNumber = size % 2 ? -3 : 999999999999LL;
    options.fontSize = 10.5;
    options.red = 255;
    try {
        QPDF pdf;
        pdf.setSuppressWarnings(true);
        pdf.processMemoryFile("fuzz input", reinterpret_cast<const char*>(data), size);
        PageStamper stamper(pdf, options);
        stamper.stampAll();
        if (!pdf.anyWarnings()) {
            IncrementalUpdate update(pdf, (long long)size, [&](long long offset, size_t length) {
                if (offset < 0 || size_t(offset) >= size)
                    return std::string();
                return std::string(reinterpret_cast<const char*>(data) + offset,
                                   std::min(length, size - size_t(offset)));
            });
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
