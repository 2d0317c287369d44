// libFuzzer entry: any bytes as a PDF file, numbered in memory the way mbtPdfAsm.exe numbers a file.
// Exceptions are the engine's way of refusing a file; crashes, leaks and hangs are what we look for.

#include "ContentScan.h"
#include "PageStamper.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>

#include <cstdint>
#include <exception>
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
        QPDFWriter writer(pdf);
        writer.setOutputMemory();
        writer.write();
    } catch (std::exception&) {
    }
    return 0;
}
