#include "NumberDrawing.h"

#include "NumberText.h"
#include "PdfNumber.h"
#include "StampError.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

// A content stream operand: at most 5 decimals.
std::string number(double v) {
    return PdfNumber(v, 5);
}

} // namespace

NumberDrawing::NumberDrawing(const StampOptions& options, bool tagged)
    : options_(options)
    , tagged_(tagged)
    , metrics_(&HelveticaMetrics()) {
    textState_ = " " + number(options_.fontSize) + " Tf " + number(options_.red / 255.0) + " " +
                 number(options_.green / 255.0) + " " + number(options_.blue / 255.0) + " rg 1 0 0 1 ";
    if (options_.hasBackground)
        backgroundColor_ = number(options_.background.red / 255.0) + " " +
                           number(options_.background.green / 255.0) + " " +
                           number(options_.background.blue / 255.0) + " rg ";
}

NumberDrawing::Placement NumberDrawing::place(const PageGeometry& g, const std::string& text,
                                              size_t pageIndex) const {
    const double size = options_.fontSize;
    Placement p;
    p.width = metrics_->advance(text) * size;
    const PageGeometry::Area a = g.shownArea(options_.box);
    const int k = int(options_.position);
    int column = k % 3, row = k / 3; // column 0 left, 1 middle, 2 right; row 0 top, 1 middle, 2 bottom
    if (options_.mirror && pageIndex % 2 == 1)
        column = 2 - column;
    const double h = options_.left, v = options_.bottom, cap = metrics_->capHeight() * size;
    p.x = column == 0 ? a.x0 + h : column == 2 ? a.x1 - h - p.width : (a.x0 + a.x1 - p.width) / 2;
    p.y = row == 2 ? a.y0 + v : row == 0 ? a.y1 - v - cap : (a.y0 + a.y1 - cap) / 2;
    return p;
}

void NumberDrawing::setPageCount(size_t pages) {
    numbered_ = options_.pages.countIn(pages);
    if (pages == 0) // said by the caller
        return;
    if (numbered_ == 0)
        throw StampError("the page selection " + options_.pages.text() + " takes none of its " +
                         std::to_string(pages) + (pages == 1 ? " page" : " pages"));
    for (long long n : {options_.firstNumber, lastNumber()})
        if (!NumberFitsFormat(options_.format, n))
            throw StampError("its page number " + std::to_string(n) +
                             " is beyond what the format's letters or roman numerals print (1 to " +
                             std::to_string(kHighestAlpha) + " in letters, 1 to " +
                             std::to_string(kHighestRoman) + " in roman numerals)");
    if (!options_.font)
        return;
    std::vector<std::string> texts;
    texts.reserve(numbered_);
    for (size_t k = 0; k < numbered_; ++k)
        texts.push_back(ExpandNumberText(options_.format, options_.digits, options_.firstNumber + (long long)k,
                                         numbered_, options_.fileTitle, lastNumber()));
    try {
        subset_ = options_.font->subset(texts, options_.fontSize);
        metrics_ = subset_.get();
    } catch (const std::exception& e) {
        throw StampError(e.what());
    }
}

std::string NumberDrawing::closing(const ContentScan& scan) {
    std::string close = "\n";
    if (scan.openText)
        close += "ET\n";
    close += closingMarks(scan);
    for (int k = 0; k < scan.openCompat; ++k)
        close += "EX ";
    for (int k = 0; k < scan.openSaves; ++k)
        close += "Q ";
    close += "Q\n";
    return close;
}

// Marked content left open (a layer that is off) would hold the number; MuPDF keeps it open after a
// form whose content opened it, so these close it in the page's own content either way.
std::string NumberDrawing::closingMarks(const ContentScan& scan) {
    std::string close;
    for (int k = 0; k < scan.openMarked; ++k)
        close += "EMC\n";
    return close;
}

// Whether any of the text's glyphs falls on the visible page.
bool NumberDrawing::visible(const PageGeometry& g, const Placement& p) const {
    const double cap = metrics_->capHeight() * options_.fontSize;
    return p.x + p.width > 0 && p.x < g.shownWidth() && p.y + cap > 0 && p.y < g.shownHeight();
}

std::string NumberDrawing::draw(const PageGeometry& g, const std::string& fontName, long long value,
                                size_t pageIndex) {
    const std::string text =
        ExpandNumberText(options_.format, options_.digits, value, numbered_, options_.fileTitle, lastNumber());
    const Placement p = place(g, text, pageIndex);
    if (options_.pageLabels) {
        if (printed_.size() <= pageIndex)
            printed_.resize(pageIndex + 1);
        printed_[pageIndex] = text;
    }
    if (!visible(g, p))
        ++offPage_;
    double m[6];
    g.displayToUser(m);
    // Pages mostly share their size and turn; the matrix text is then made once.
    if (matrixText_.empty() || !std::equal(m, m + 6, matrix_)) {
        std::copy(m, m + 6, matrix_);
        matrixText_ = number(m[0]) + " " + number(m[1]) + " " + number(m[2]) + " " + number(m[3]) + " " +
                      number(m[4]) + " " + number(m[5]);
    }
    const std::string x = number(p.x), y = number(p.y);
    std::string s;
    s.reserve(200);
    s += tagged_ ? "/Artifact <</Type /Pagination /Subtype /Footer>> BDC q " : "q ";
    s += matrixText_;
    s += " cm ";
    if (options_.hasBackground) {
        // The text's bounds, from its descenders to its capitals, with a little room on every side.
        const double size = options_.fontSize, pad = std::max(1.0, 0.15 * size);
        const double bottom = p.y - metrics_->descent() * size - pad;
        const double height = (metrics_->capHeight() + metrics_->descent()) * size + 2 * pad;
        s += backgroundColor_;
        s += number(p.x - pad) + " " + number(bottom) + " " + number(p.width + 2 * pad) + " " +
             number(height) + " re f ";
    }
    s += "BT ";
    s += fontName;
    s += textState_;
    s += x;
    s += ' ';
    s += y;
    s += " Tm ";
    if (subset_) {
        s += subset_->show(text);
        s += tagged_ ? " ET Q EMC\n" : " ET Q\n";
    } else {
        s += PdfLiteral(text);
        s += tagged_ ? " Tj ET Q EMC\n" : " Tj ET Q\n";
    }
    return s;
}

std::vector<PageLabelPage>
NumberDrawing::labelPages(size_t pages, const std::function<void(size_t, PageLabelPage&)>& original) const {
    std::vector<PageLabelPage> out(pages);
    for (size_t k = 0; k < pages; ++k) {
        if (k < printed_.size() && printed_[k]) {
            out[k].numbered = true;
            out[k].text = *printed_[k];
        } else {
            original(k, out[k]);
        }
    }
    return out;
}

std::string NumberDrawing::freeFontName(const std::function<bool(const std::string&)>& taken) {
    std::string name = "/NbF";
    for (int k = 1; taken(name); ++k)
        name = "/NbF" + std::to_string(k);
    return name;
}
