#include "ContentScan.h"

namespace {

bool isWhite(unsigned char c) {
    return c == 0 || c == 9 || c == 10 || c == 12 || c == 13 || c == 32;
}

bool isDelimiter(unsigned char c) {
    return c == '(' || c == ')' || c == '<' || c == '>' || c == '[' || c == ']' || c == '{' || c == '}' ||
           c == '/' || c == '%';
}

bool isRegular(unsigned char c) {
    return !isWhite(c) && !isDelimiter(c);
}

} // namespace

ContentScan ContentScan::of(std::string_view s) {
    ContentScan scan;
    const size_t n = s.size();
    size_t i = 0;
    while (i < n) {
        unsigned char c = s[i];
        if (isWhite(c)) {
            ++i;
        } else if (c == '%') {
            while (i < n && s[i] != '\r' && s[i] != '\n')
                ++i;
        } else if (c == '(') {
            int depth = 0;
            for (; i < n; ++i) {
                if (s[i] == '\\') {
                    ++i;
                } else if (s[i] == '(') {
                    ++depth;
                } else if (s[i] == ')' && --depth == 0) {
                    ++i;
                    break;
                }
            }
        } else if (c == '<' && i + 1 < n && s[i + 1] != '<') {
            while (i < n && s[i] != '>')
                ++i;
            ++i;
        } else if (c == '/') {
            ++i;
            while (i < n && isRegular(s[i]))
                ++i;
        } else if (isDelimiter(c)) {
            ++i;
        } else {
            size_t start = i;
            while (i < n && isRegular(s[i]))
                ++i;
            std::string_view word = s.substr(start, i - start);
            if (word == "q") {
                ++scan.openSaves;
            } else if (word == "Q") {
                if (scan.openSaves > 0)
                    --scan.openSaves;
                else
                    scan.strayRestores.push_back(start);
            } else if (word == "BT") {
                scan.openText = true;
            } else if (word == "ET") {
                scan.openText = false;
            } else if (word == "ID") {
                // Inline image data: binary up to an EI that stands alone as a word.
                ++i;
                while (i + 1 < n) {
                    if (s[i] == 'E' && s[i + 1] == 'I' && isWhite(s[i - 1]) &&
                        (i + 2 == n || !isRegular(s[i + 2])))
                        break;
                    ++i;
                }
                i = i + 1 < n ? i + 2 : n;
            }
        }
    }
    return scan;
}
