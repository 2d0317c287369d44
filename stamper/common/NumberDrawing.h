#pragma once
// The content that draws a page's number, whoever read the page: the text that ends the page's own
// content (closing what it left open) and the text that draws the number where the options say.

#include "ContentScan.h"
#include "PageFont.h"
#include "NumberText.h"
#include "PageLabels.h"
#include "PageGeometry.h"
#include "StampOptions.h"

#include <functional>
#include <memory>
#include <optional>
#include <vector>
#include <string>

class NumberDrawing {
public:
    // `tagged`: the document is a tagged one, whose every mark belongs to the structure or is an
    // artifact; screen readers then skip the number as they skip any running footer.
    NumberDrawing(const StampOptions& options, bool tagged);

    // Closes what the page's content left open (as `scan` found it) and the q that opened it.
    static std::string closing(const ContentScan& scan);
    // The embedded font's subset, whose objects the page's font name stands for; null when the
    // standard font (kFontDictionary) draws the text.
    const FontSubset* embeddedFont() const { return subset_.get(); }
    // Closes the marked content the page's content left open, after that content drawn as a form.
    static std::string closingMarks(const ContentScan& scan);
    // The document's page count; set before the first draw. Throws StampError when the options'
    // page selection leaves none of them, or a styled field can't print the numbers they get. With
    // an embedded font, the font's subset is made here for every text the numbered pages print
    // (throws StampError when the font can't give it).
    void setPageCount(size_t pages);
    // How many pages are numbered and the number the last of them gets.
    size_t numberedPages() const { return numbered_; }
    long long lastNumber() const { return options_.firstNumber + (long long)numbered_ - 1; }
    // Whether the page at `pageIndex` gets a number.
    bool numbers(size_t pageIndex) const { return options_.pages.contains(pageIndex); }
    // Draws `value` with the font named `fontName` on the page of geometry `g` that is the file's
    // page `pageIndex` (0 the first; --mirror swaps sides on odd indexes).
    std::string draw(const PageGeometry& g, const std::string& fontName, long long value, size_t pageIndex);

    // Where the text's baseline starts, in points from the bottom-left corner of the page as shown,
    // and how wide it is.
    struct Placement {
        double x = 0, y = 0, width = 0;
    };
    Placement place(const PageGeometry& g, const std::string& text, size_t pageIndex) const;
    // With page labels asked for: the text drawn on each page by index, none on a page not drawn.
    const std::vector<std::optional<std::string>>& printed() const { return printed_; }
    // The pages of a file of `pages` pages for the page label writer; `original(k)` tells an
    // unnumbered page's label range as the input has it.
    std::vector<PageLabelPage>
    labelPages(size_t pages, const std::function<void(size_t, PageLabelPage&)>& original) const;
    // Pages whose number lies wholly outside what a viewer shows of the page.
    size_t pagesWithNumberOffPage() const { return offPage_; }

    // The font's name in a /Font dictionary that has the names for which `taken` is true.
    static std::string freeFontName(const std::function<bool(const std::string&)>& taken);
    static constexpr const char* kFontDictionary =
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>";

private:
    bool visible(const PageGeometry& g, const Placement& p) const;

    StampOptions options_;
    bool tagged_ = false;
    const FontMetrics* metrics_;
    std::string textState_;       // font size and colour of the number: the same on every page
    std::string backgroundColor_; // the fill colour of the box behind it
    double matrix_[6] = {};
    std::string matrixText_;
    size_t offPage_ = 0;
    std::vector<std::optional<std::string>> printed_;
    size_t numbered_ = 0;
    std::unique_ptr<FontSubset> subset_;
};
