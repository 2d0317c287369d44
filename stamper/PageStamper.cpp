#include "PageStamper.h"

#include "PageContentScans.h"

#include <qpdf/QPDFPageDocumentHelper.hh>

#include <stdexcept>
#include <vector>

PageStamper::PageStamper(QPDF& pdf, const StampOptions& options)
    : pdf_(pdf)
    , options_(options)
    , drawing_(options, isTagged(pdf)) {}

bool PageStamper::isTagged(QPDF& pdf) {
    QPDFObjectHandle markInfo = pdf.getRoot().getKey("/MarkInfo");
    return markInfo.isDictionary() && markInfo.getKey("/Marked").isBool() &&
           markInfo.getKey("/Marked").getBoolValue();
}

size_t PageStamper::stampAll() {
    std::vector<QPDFPageObjectHelper> pages = QPDFPageDocumentHelper(pdf_).getAllPages();
    std::vector<QPDFObjectHandle> contents;
    contents.reserve(pages.size());
    for (size_t k = 0; k < pages.size(); ++k) {
        QPDFObjectHandle page = pages[k].getObjectHandle();
        if (!page.isDictionary())
            throw std::runtime_error("page " + std::to_string(k + 1) + " is damaged beyond repair");
        contents.push_back(page.getKey("/Contents"));
    }
    PageContentScans scans(contents);
    drawing_.setPageCount(pages.size());

    // The first new object makes qpdf read every object of the file; the scans go on meanwhile.
    font_ = pdf_.makeIndirectObject(QPDFObjectHandle::parse(NumberDrawing::kFontDictionary));
    openSave_ = pdf_.newStream("q\n");
    long long n = options_.firstNumber;
    std::string content;
    for (size_t k = 0; k < pages.size(); ++k) {
        ContentScan scan = scans.scanOf(k, &content);
        stampPage(pages[k], n++, scan, content);
    }
    return pages.size();
}

std::string PageStamper::addFont(QPDFPageObjectHelper& page) {
    QPDFObjectHandle page_dict = page.getObjectHandle();
    QPDFObjectHandle resources = page.getAttribute("/Resources", true);
    if (!resources.isDictionary()) {
        resources = QPDFObjectHandle::newDictionary();
        page_dict.replaceKey("/Resources", resources);
    }
    QPDFObjectHandle fonts = resources.getKey("/Font");
    // A damaged file's /Font may be the page itself (or another page): no fonts to keep, and a copy
    // of it would tie the page to itself in ways qpdf's writer follows without end.
    if (fonts.isDictionaryOfType("/Page") || fonts.isDictionaryOfType("/Pages"))
        fonts = QPDFObjectHandle::newNull();
    // Another page (or the resources we were copied from) may hold the same font dictionary.
    fonts = fonts.isDictionary() ? fonts.unsafeShallowCopy() : QPDFObjectHandle::newDictionary();
    resources.replaceKey("/Font", fonts);
    const std::string name = NumberDrawing::freeFontName([&](const std::string& n) { return fonts.hasKey(n); });
    fonts.replaceKey(name, font_);
    return name;
}

void PageStamper::stampPage(QPDFPageObjectHelper& page, long long value, const ContentScan& scan,
                            std::string& content) {
    QPDFObjectHandle page_dict = page.getObjectHandle();
    QPDFObjectHandle contents = page_dict.getKey("/Contents");

    std::string fontName = addFont(page);
    std::string close = NumberDrawing::closing(scan);
    close += drawing_.draw(PageGeometry::of(page), fontName, value);

    // The page gets a /Contents array of its own; the streams it had stay untouched, so pages that
    // share them keep what they showed.
    QPDFObjectHandle list = QPDFObjectHandle::newArray();
    if (scan.strayRestores.empty()) {
        list.appendItem(openSave_);
        for (auto& s : ContentStreams(contents))
            list.appendItem(s);
    } else {
        // A Q that closes nothing is ignored by viewers but would close our q; drop it from a copy.
        for (size_t at : scan.strayRestores)
            content[at] = ' ';
        list.appendItem(pdf_.newStream("q\n" + content));
    }
    list.appendItem(pdf_.newStream(close));
    page_dict.replaceKey("/Contents", list);
}
