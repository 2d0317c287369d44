#include "ContentScan.h"

#include <array>

namespace {

enum CharClass : unsigned char { Regular = 0, White = 1, Delimiter = 2 };

constexpr std::array<unsigned char, 256> kClasses = [] {
    std::array<unsigned char, 256> t{};
    for (unsigned char c : {0, 9, 10, 12, 13, 32})
        t[c] = White;
    for (unsigned char c : {'(', ')', '<', '>', '[', ']', '{', '}', '/', '%'})
        t[c] = Delimiter;
    return t;
}();

inline unsigned char classOf(char c) {
    return kClasses[static_cast<unsigned char>(c)];
}

} // namespace

ContentScan ContentScan::of(std::string_view s) {
    ContentScan scan;
    const char* p = s.data();
    const char* const end = p + s.size();
    while (p < end) {
        const char c = *p;
        const unsigned char cls = classOf(c);
        if (cls == White) {
            ++p;
        } else if (cls == Regular) {
            const char* word = p;
            while (p < end && classOf(*p) == Regular)
                ++p;
            const size_t len = size_t(p - word);
            if (len == 1 && word[0] == 'q') {
                ++scan.openSaves;
            } else if (len == 1 && word[0] == 'Q') {
                if (scan.openSaves > 0)
                    --scan.openSaves;
                else
                    scan.strayRestores.push_back(size_t(word - s.data()));
            } else if (len == 2 && word[1] == 'T' && (word[0] == 'B' || word[0] == 'E')) {
                scan.openText = word[0] == 'B';
            } else if (len == 2 && word[0] == 'I' && word[1] == 'D') {
                // Inline image data: binary up to an EI that stands alone as a word.
                ++p;
                while (p + 1 < end && !(p[0] == 'E' && p[1] == 'I' && classOf(p[-1]) == White &&
                                        (p + 2 == end || classOf(p[2]) != Regular)))
                    ++p;
                p = p + 1 < end ? p + 2 : end;
            }
        } else if (c == '%') {
            while (p < end && *p != '\r' && *p != '\n')
                ++p;
        } else if (c == '(') {
            int depth = 0;
            for (; p < end; ++p) {
                if (*p == '\\') {
                    if (++p == end)
                        break;
                } else if (*p == '(') {
                    ++depth;
                } else if (*p == ')' && --depth == 0) {
                    ++p;
                    break;
                }
            }
        } else if (c == '<' && p + 1 < end && p[1] != '<') {
            while (p < end && *p != '>')
                ++p;
            if (p < end)
                ++p;
        } else if (c == '/') {
            ++p;
            while (p < end && classOf(*p) == Regular)
                ++p;
        } else {
            ++p;
        }
    }
    return scan;
}
