#include "PageSelection.h"

#include <algorithm>
#include <charconv>

namespace {
constexpr size_t kHighestPage = 1'000'000'000; // far beyond any file a reader opens

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ')
        s.remove_suffix(1);
    return s;
}

// A page number of digits only, 1 to kHighestPage.
std::optional<size_t> pageNumber(std::string_view s) {
    if (s.empty() || s.size() > 10 ||
        !std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    size_t n = 0;
    std::from_chars(s.data(), s.data() + s.size(), n);
    if (n < 1 || n > kHighestPage)
        return std::nullopt;
    return n;
}
} // namespace

std::optional<PageSelection> PageSelection::parse(std::string_view text) {
    PageSelection s;
    const std::string_view whole = trimmed(text);
    if (whole == "odd" || whole == "even") {
        s.kind_ = whole == "odd" ? Kind::Odd : Kind::Even;
        s.text_ = whole;
        return s;
    }
    s.kind_ = Kind::Ranges;
    std::vector<Range> ranges;
    for (size_t at = 0;;) {
        const size_t comma = std::min(whole.find(',', at), whole.size());
        const std::string_view item = trimmed(whole.substr(at, comma - at));
        const size_t dash = item.find('-');
        Range r;
        if (dash == std::string_view::npos) {
            const auto n = pageNumber(item);
            if (!n)
                return std::nullopt;
            r = {*n, *n};
        } else {
            const auto from = pageNumber(trimmed(item.substr(0, dash)));
            const std::string_view end = trimmed(item.substr(dash + 1));
            const auto to = end.empty() ? std::optional<size_t>(0) : pageNumber(end);
            if (!from || !to || (*to != 0 && *to < *from))
                return std::nullopt;
            r = {*from, *to};
        }
        ranges.push_back(r);
        if (comma == whole.size())
            break;
        at = comma + 1;
    }
    std::sort(ranges.begin(), ranges.end(), [](const Range& a, const Range& b) { return a.from < b.from; });
    for (const Range& r : ranges) {
        Range* last = s.ranges_.empty() ? nullptr : &s.ranges_.back();
        if (last && (last->to == 0 || r.from <= last->to + 1)) {
            if (last->to != 0 && (r.to == 0 || r.to > last->to))
                last->to = r.to;
        } else {
            s.ranges_.push_back(r);
        }
    }
    // Written out the same way whatever order and overlaps it was given in.
    for (const Range& r : s.ranges_) {
        if (!s.text_.empty())
            s.text_ += ',';
        s.text_ += std::to_string(r.from);
        if (r.to != r.from)
            s.text_ += '-' + (r.to == 0 ? std::string() : std::to_string(r.to));
    }
    return s;
}

bool PageSelection::contains(size_t pageIndex) const {
    switch (kind_) {
    case Kind::All:
        return true;
    case Kind::Odd:
        return pageIndex % 2 == 0;
    case Kind::Even:
        return pageIndex % 2 == 1;
    case Kind::Ranges:
        break;
    }
    const size_t page = pageIndex + 1;
    // The last range that starts at or before the page.
    auto it = std::upper_bound(ranges_.begin(), ranges_.end(), page,
                               [](size_t p, const Range& r) { return p < r.from; });
    if (it == ranges_.begin())
        return false;
    --it;
    return it->to == 0 || page <= it->to;
}

size_t PageSelection::countIn(size_t pages) const {
    switch (kind_) {
    case Kind::All:
        return pages;
    case Kind::Odd:
        return (pages + 1) / 2;
    case Kind::Even:
        return pages / 2;
    case Kind::Ranges:
        break;
    }
    size_t count = 0;
    for (const Range& r : ranges_) {
        if (r.from > pages)
            break;
        const size_t to = r.to == 0 ? pages : std::min(r.to, pages);
        count += to - r.from + 1;
    }
    return count;
}
