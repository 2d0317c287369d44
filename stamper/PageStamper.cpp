#include "PageStamper.h"

#include "PageContentScans.h"
#include "PageGeometry.h"

#include <qpdf/QPDFPageDocumentHelper.hh>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <vector>

namespace {

// Shortest decimal text for a content stream operand (no exponent, at most 5 decimals).
std::string number(double v) {
    if (std::fabs(v) < 5e-6)
        return "0";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.5f", v);
    std::string s(buf);
    while (s.back() == '0')
        s.pop_back();
    if (s.back() == '.')
        s.pop_back();
    return s;
}

// Whether any of the number's glyphs falls on the visible page: the Helvetica digits are 556/1000
// of the size wide and reach 0.72 of it above the baseline, a minus sign is 333/1000 wide.
bool numberIsVisible(const PageGeometry& g, const StampOptions& o, long long value) {
    const std::string digits = std::to_string(value);
    double width = 0;
    for (char c : digits)
        width += (c == '-' ? 0.333 : 0.556) * o.fontSize;
    double shownWidth = (g.urx - g.llx) * g.userUnit, shownHeight = (g.ury - g.lly) * g.userUnit;
    if (g.rotate == 90 || g.rotate == 270)
        std::swap(shownWidth, shownHeight);
    return o.left + width > 0 && o.left < shownWidth && o.bottom + 0.72 * o.fontSize > 0 &&
           o.bottom < shownHeight;
}

} // namespace

PageStamper::PageStamper(QPDF& pdf, const StampOptions& options)
    : pdf_(pdf)
    , options_(options) {
    // In a tagged file every mark must belong to the structure or be an artifact; screen readers then
    // skip the number as they skip any running footer.
    QPDFObjectHandle markInfo = pdf_.getRoot().getKey("/MarkInfo");
    tagged_ = markInfo.isDictionary() && markInfo.getKey("/Marked").isBool() &&
              markInfo.getKey("/Marked").getBoolValue();
    textState_ = " " + number(options_.fontSize) + " Tf " + number(options_.red / 255.0) + " " +
                 number(options_.green / 255.0) + " " + number(options_.blue / 255.0) + " rg 1 0 0 1 " +
                 number(options_.left) + " " + number(options_.bottom) + " Tm (";
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

    // The first new object makes qpdf read every object of the file; the scans go on meanwhile.
    font_ = pdf_.makeIndirectObject(QPDFObjectHandle::parse(
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>"));
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
    std::string name = "/NbF";
    for (int k = 1; fonts.hasKey(name); ++k)
        name = "/NbF" + std::to_string(k);
    fonts.replaceKey(name, font_);
    return name;
}

std::string PageStamper::numberContent(QPDFPageObjectHelper& page, const std::string& fontName,
                                       long long value) {
    PageGeometry g = PageGeometry::of(page);
    if (!numberIsVisible(g, options_, value))
        ++offPage_;
    double m[6];
    g.displayToUser(m);
    // Pages mostly share their size and turn; the matrix text is then made once.
    if (matrixText_.empty() || !std::equal(m, m + 6, matrix_)) {
        std::copy(m, m + 6, matrix_);
        matrixText_ = number(m[0]) + " " + number(m[1]) + " " + number(m[2]) + " " + number(m[3]) + " " +
                      number(m[4]) + " " + number(m[5]);
    }
    std::string s;
    s.reserve(200);
    s += tagged_ ? "/Artifact <</Type /Pagination /Subtype /Footer>> BDC q " : "q ";
    s += matrixText_;
    s += " cm BT ";
    s += fontName;
    s += textState_;
    s += std::to_string(value);
    s += tagged_ ? ") Tj ET Q EMC\n" : ") Tj ET Q\n";
    return s;
}

void PageStamper::stampPage(QPDFPageObjectHelper& page, long long value, const ContentScan& scan,
                            std::string& content) {
    QPDFObjectHandle page_dict = page.getObjectHandle();
    QPDFObjectHandle contents = page_dict.getKey("/Contents");

    std::string fontName = addFont(page);
    std::string close = "\n";
    if (scan.openText)
        close += "ET\n";
    for (int k = 0; k < scan.openSaves; ++k)
        close += "Q ";
    close += "Q\n";
    close += numberContent(page, fontName, value);

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
