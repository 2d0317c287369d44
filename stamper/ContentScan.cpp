#include "ContentScan.h"

#include <array>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// The first byte at or after p that is one of Cs, or end. Most of a page's content is text and numbers
// that can't change the result, so this runs over them 16 bytes at a time where the processor allows.
template <char... Cs> const char* findAny(const char* p, const char* const end) {
#if defined(__SSE2__)
    while (end - p >= 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        __m128i hit = _mm_setzero_si128();
        ((hit = _mm_or_si128(hit, _mm_cmpeq_epi8(v, _mm_set1_epi8(Cs)))), ...);
        if (const unsigned mask = unsigned(_mm_movemask_epi8(hit)); mask != 0)
            return p + __builtin_ctz(mask);
        p += 16;
    }
#endif
    while (p < end && ((*p != Cs) && ...))
        ++p;
    return p;
}

} // namespace

// Only a few bytes can begin something that matters: the first letter of q, Q, BT, ET and ID, and the
// delimiters whose insides must be skipped (strings, comments, hex strings, names). Everything in
// between is passed over without being split into tokens. A letter counts only where a word starts,
// which the byte before it tells: outside strings, comments and the like, a regular byte after a
// regular byte always continues the same word.
ContentScan ContentScan::of(std::string_view s) {
    ContentScan scan;
    const char* const begin = s.data();
    const char* p = begin;
    const char* const end = p + s.size();
    for (;;) {
        p = findAny<'q', 'Q', 'B', 'E', 'I', '(', '%', '<', '/'>(p, end);
        if (p == end)
            break;
        const char c = *p;
        if (classOf(c) == Regular) {
            if (p != begin && classOf(p[-1]) == Regular) {
                ++p; // inside a word
                continue;
            }
            const char* word = p;
            while (p < end && classOf(*p) == Regular)
                ++p;
            const size_t len = size_t(p - word);
            if (len == 1 && c == 'q') {
                ++scan.openSaves;
            } else if (len == 1 && c == 'Q') {
                if (scan.openSaves > 0)
                    --scan.openSaves;
                else
                    scan.strayRestores.push_back(size_t(word - begin));
            } else if (len == 2 && word[1] == 'T' && (c == 'B' || c == 'E')) {
                scan.openText = c == 'B';
            } else if (len == 2 && c == 'I' && word[1] == 'D') {
                // Inline image data: binary up to an EI that stands alone as a word.
                ++p;
                while (p + 1 < end && !(p[0] == 'E' && p[1] == 'I' && classOf(p[-1]) == White &&
                                        (p + 2 == end || classOf(p[2]) != Regular)))
                    ++p;
                p = p + 1 < end ? p + 2 : end;
            }
        } else if (c == '%') {
            p = findAny<'\r', '\n'>(p, end);
        } else if (c == '(') {
            int depth = 0;
            for (;;) {
                p = findAny<'(', ')', '\\'>(p, end);
                if (p == end)
                    break;
                if (*p == '\\') {
                    p = end - p > 2 ? p + 2 : end;
                } else if (*p++ == '(') {
                    ++depth;
                } else if (--depth == 0) {
                    break;
                }
            }
        } else if (c == '<') {
            if (p + 1 < end && p[1] != '<') {
                p = findAny<'>'>(p, end);
                if (p < end)
                    ++p;
            } else {
                ++p;
            }
        } else { // '/'
            ++p;
            while (p < end && classOf(*p) == Regular)
                ++p;
        }
    }
    return scan;
}
