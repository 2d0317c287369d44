#include "PageLabels.h"

#include "NumberText.h"

#include <cstring>

namespace {

constexpr char kStyles[] = {'D', 'r', 'R', 'a', 'A'};
// Roman numerals as viewers print them stop at 3999; beyond, the text is a prefix of its own.
constexpr long long kHighestRoman = 3999;
constexpr size_t kLongestDecimal = 15;

long long romanValue(const std::string& text) {
    long long total = 0;
    const auto value = [](char c) {
        switch (c | 0x20) {
        case 'i':
            return 1;
        case 'v':
            return 5;
        case 'x':
            return 10;
        case 'l':
            return 50;
        case 'c':
            return 100;
        case 'd':
            return 500;
        case 'm':
            return 1000;
        default:
            return 0;
        }
    };
    for (size_t k = 0; k < text.size(); ++k) {
        const int v = value(text[k]);
        total += k + 1 < text.size() && value(text[k + 1]) > v ? -v : v;
    }
    return total;
}

struct Candidate {
    std::string prefix;
    char style = 'D';
    long long value = 0;
};

// How `text` reads as a prefix and a number of `style`, the number as long as it can be; nothing if
// it does not end in one.
std::optional<Candidate> readAs(const std::string& text, char style) {
    size_t start = text.size();
    if (style == 'D') {
        while (start > 0 && text[start - 1] >= '0' && text[start - 1] <= '9')
            --start;
        while (start < text.size() && text[start] == '0') // labels print no leading zeros
            ++start;
        if (start == text.size() || text.size() - start > kLongestDecimal)
            return std::nullopt;
        return Candidate{text.substr(0, start), style, std::stoll(text.substr(start))};
    }
    if (style == 'r' || style == 'R') {
        const char* letters = style == 'r' ? "ivxlcdm" : "IVXLCDM";
        while (start > 0 && std::strchr(letters, text[start - 1]) && text[start - 1] != '\0')
            --start;
        // The longest tail that is a numeral as viewers print it.
        for (; start < text.size(); ++start) {
            const std::string tail = text.substr(start);
            if (tail.size() > 15)
                continue;
            const long long v = romanValue(tail);
            if (v >= 1 && v <= kHighestRoman && LabelNumeral(style, v) == tail)
                return Candidate{text.substr(0, start), style, v};
        }
        return std::nullopt;
    }
    const char first = style == 'a' ? 'a' : 'A';
    if (text.empty() || text.back() < first || text.back() > first + 25)
        return std::nullopt;
    while (start > 0 && text[start - 1] == text.back())
        --start;
    const long long length = (long long)(text.size() - start);
    return Candidate{text.substr(0, start), style, (length - 1) * 26 + (text.back() - first) + 1};
}

std::string number(long long v) {
    return std::to_string(v);
}

} // namespace

std::string LabelNumeral(char style, long long value) {
    if (style == 'D')
        return std::to_string(value);
    if (style == 'a' || style == 'A') {
        if (value < 1)
            return {};
        return std::string(size_t((value - 1) / 26 + 1), char((style == 'a' ? 'a' : 'A') + (value - 1) % 26));
    }
    static const std::pair<int, const char*> kParts[] = {
        {1000, "m"}, {900, "cm"}, {500, "d"}, {400, "cd"}, {100, "c"}, {90, "xc"}, {50, "l"},
        {40, "xl"},  {10, "x"},   {9, "ix"},  {5, "v"},    {4, "iv"},  {1, "i"}};
    std::string out;
    for (const auto& [v, text] : kParts)
        while (value >= v) {
            out += text;
            value -= v;
        }
    if (style == 'R')
        for (char& c : out)
            c = char(c - 'a' + 'A');
    return out;
}

std::string PageLabelTree(const std::vector<PageLabelPage>& pages) {
    std::string out = "<< /Nums [";
    for (size_t k = 0; k < pages.size();) {
        std::string entries;
        size_t end = k + 1;
        if (pages[k].numbered) {
            std::optional<Candidate> best;
            size_t bestEnd = k + 1;
            for (const char style : kStyles) {
                const std::optional<Candidate> c = readAs(pages[k].text, style);
                if (!c)
                    continue;
                size_t j = k + 1;
                while (j < pages.size() && pages[j].numbered &&
                       pages[j].text == c->prefix + LabelNumeral(style, c->value + (long long)(j - k)))
                    ++j;
                if (!best || j > bestEnd) {
                    best = c;
                    bestEnd = j;
                }
            }
            if (best && bestEnd > k + 1) {
                end = bestEnd;
                entries = std::string("/S /") + best->style;
                if (!best->prefix.empty())
                    entries += " /P " + PdfTextString(best->prefix);
                if (best->value != 1)
                    entries += " /St " + number(best->value);
            } else {
                entries = "/P " + PdfTextString(pages[k].text);
            }
        } else {
            // The page's own range, or its plain number; the unnumbered pages after it that go on
            // counting in the same range go with it.
            const std::string style = pages[k].original ? *pages[k].original : std::string("/S /D");
            const long long first = pages[k].original ? pages[k].originalStart : (long long)k + 1;
            while (end < pages.size() && !pages[end].numbered &&
                   (pages[end].original ? *pages[end].original : std::string("/S /D")) == style &&
                   (pages[end].original ? pages[end].originalStart : (long long)end + 1) ==
                       first + (long long)(end - k))
                ++end;
            entries = style;
            if (first != 1)
                entries += (entries.empty() ? "/St " : " /St ") + number(first);
        }
        out += number((long long)k) + " << " + entries + " >> ";
        k = end;
    }
    return out + "] >>";
}
