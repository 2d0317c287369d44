#include "NumberDrawing.h"

#include "NumberText.h"
#include "StampError.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
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

} // namespace

NumberDrawing::NumberDrawing(const StampOptions& options, bool tagged)
    : options_(options)
    , tagged_(tagged) {
    textState_ = " " + number(options_.fontSize) + " Tf " + number(options_.red / 255.0) + " " +
                 number(options_.green / 255.0) + " " + number(options_.blue / 255.0) + " rg 1 0 0 1 " +
                 number(options_.left) + " " + number(options_.bottom) + " Tm ";
}

void NumberDrawing::setPageCount(size_t pages) {
    pageCount_ = pages;
    if (!options_.font)
        return;
    std::vector<std::string> texts;
    texts.reserve(pages);
    for (size_t k = 0; k < pages; ++k)
        texts.push_back(ExpandNumberText(options_.format, options_.digits,
                                         options_.firstNumber + (long long)k, pages, options_.fileTitle));
    try {
        subset_ = options_.font->subset(texts, options_.fontSize);
    } catch (const std::exception& e) {
        throw StampError(e.what());
    }
}

std::string NumberDrawing::closing(const ContentScan& scan) {
    std::string close = "\n";
    if (scan.openText)
        close += "ET\n";
    for (int k = 0; k < scan.openSaves; ++k)
        close += "Q ";
    close += "Q\n";
    return close;
}

// Whether any of the text's glyphs falls on the visible page: Helvetica's digits are 556/1000 of the
// size wide and reach 0.72 of it above the baseline.
bool NumberDrawing::visible(const PageGeometry& g, const std::string& text) const {
    const double width = (subset_ ? subset_->width(text) : HelveticaWidth(text)) * options_.fontSize;
    double shownWidth = (g.urx - g.llx) * g.userUnit, shownHeight = (g.ury - g.lly) * g.userUnit;
    if (g.rotate == 90 || g.rotate == 270)
        std::swap(shownWidth, shownHeight);
    return options_.left + width > 0 && options_.left < shownWidth &&
           options_.bottom + 0.72 * options_.fontSize > 0 && options_.bottom < shownHeight;
}

std::string NumberDrawing::draw(const PageGeometry& g, const std::string& fontName, long long value) {
    const std::string text =
        ExpandNumberText(options_.format, options_.digits, value, pageCount_, options_.fileTitle);
    if (!visible(g, text))
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
    if (subset_) {
        s += subset_->show(text);
        s += tagged_ ? " ET Q EMC\n" : " ET Q\n";
    } else {
        s += PdfLiteral(text);
        s += tagged_ ? " Tj ET Q EMC\n" : " Tj ET Q\n";
    }
    return s;
}

std::string NumberDrawing::freeFontName(const std::function<bool(const std::string&)>& taken) {
    std::string name = "/NbF";
    for (int k = 1; taken(name); ++k)
        name = "/NbF" + std::to_string(k);
    return name;
}
