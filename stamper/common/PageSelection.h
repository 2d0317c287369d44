#pragma once
// Which pages of a file get a number: every page (the default), "odd", "even", or a comma list of
// N, N-M and N- (pages count from 1; the ranges may overlap, their union counts). The others are
// left exactly as they are: no content added, their dictionaries not written again.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

class PageSelection {
public:
    PageSelection() = default; // every page

    // Nothing when `text` does not parse (an empty item, a page 0, a range that runs backwards...).
    static std::optional<PageSelection> parse(std::string_view text);

    bool all() const { return kind_ == Kind::All; }
    // Whether the page at `pageIndex` (0 for the first) is numbered.
    bool contains(size_t pageIndex) const;
    // How many of a file's first `pages` pages are numbered.
    size_t countIn(size_t pages) const;
    // The selection as parsed, for messages and to tell one run's options from another's; empty for
    // every page.
    const std::string& text() const { return text_; }

private:
    enum class Kind { All, Odd, Even, Ranges };
    struct Range {
        size_t from = 1, to = 0; // 1-based, inclusive; to 0: to the file's end
    };
    Kind kind_ = Kind::All;
    std::vector<Range> ranges_; // sorted by `from`, merged where they meet or overlap
    std::string text_;
};
