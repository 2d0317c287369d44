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
void ContentScanner::feed(std::string_view s) {
    const char* const begin = s.data();
    const char* p = begin;
    const char* const end = p + s.size();
    auto before = [&](const char* at) { return at == begin ? last_ : at[-1]; };
    while (p < end) {
        switch (mode_) {
        case Mode::Normal: {
            p = findAny<'q', 'Q', 'B', 'E', 'I', '(', '%', '<', '/'>(p, end);
            if (p == end)
                break;
            const char c = *p;
            if (classOf(c) == Regular) {
                if (classOf(before(p)) == Regular) {
                    ++p; // inside a word
                    continue;
                }
                mode_ = Mode::Word;
                wordStart_ = base_ + size_t(p - begin);
                wordLength_ = 0;
            } else if (c == '%') {
                mode_ = Mode::Comment;
            } else if (c == '(') {
                mode_ = Mode::String;
                depth_ = 0;
                escaped_ = false;
            } else if (c == '<') {
                mode_ = Mode::Angle;
                ++p;
            } else { // '/'
                mode_ = Mode::Name;
                ++p;
            }
            break;
        }
        case Mode::Word:
            while (p < end && classOf(*p) == Regular) {
                if (wordLength_ < 2)
                    word_[wordLength_] = *p;
                ++wordLength_;
                ++p;
            }
            if (p < end)
                endWord();
            break;
        case Mode::Comment:
            p = findAny<'\r', '\n'>(p, end);
            if (p < end)
                mode_ = Mode::Normal;
            break;
        case Mode::String:
            if (escaped_) {
                escaped_ = false;
                ++p;
                break;
            }
            p = findAny<'(', ')', '\\'>(p, end);
            if (p == end)
                break;
            if (*p == '\\') {
                escaped_ = true;
                ++p;
            } else if (*p++ == '(') {
                ++depth_;
            } else if (--depth_ == 0) {
                mode_ = Mode::Normal;
            }
            break;
        case Mode::Angle:
            // << opens a dictionary, whose insides are scanned as content; < opens a hex string.
            if (*p == '<') {
                ++p;
                mode_ = Mode::Normal;
            } else {
                mode_ = Mode::Hex;
            }
            break;
        case Mode::Hex:
            p = findAny<'>'>(p, end);
            if (p < end) {
                ++p;
                mode_ = Mode::Normal;
            }
            break;
        case Mode::Name:
            while (p < end && classOf(*p) == Regular)
                ++p;
            if (p < end)
                mode_ = Mode::Normal;
            break;
        case Mode::InlineImage:
            // Binary data up to an EI that stands alone as a word.
            if (skipOne_) {
                skipOne_ = false;
                ++p;
            } else if (imageState_ == 0) {
                p = findAny<'E'>(p, end);
                if (p < end) {
                    imageState_ = classOf(before(p)) == White ? 1 : 0;
                    ++p;
                }
            } else if (imageState_ == 1) {
                if (*p == 'I') {
                    imageState_ = 2;
                    ++p;
                } else {
                    imageState_ = 0;
                }
            } else if (classOf(*p) != Regular) {
                mode_ = Mode::Normal;
            } else {
                imageState_ = 0;
            }
            break;
        }
    }
    if (!s.empty())
        last_ = end[-1];
    base_ += s.size();
}

void ContentScanner::endWord() {
    mode_ = Mode::Normal;
    const char c = word_[0];
    if (wordLength_ == 1 && c == 'q') {
        ++scan_.openSaves;
    } else if (wordLength_ == 1 && c == 'Q') {
        if (scan_.openSaves > 0)
            --scan_.openSaves;
        else
            scan_.strayRestores.push_back(wordStart_);
    } else if (wordLength_ == 2 && word_[1] == 'T' && (c == 'B' || c == 'E')) {
        scan_.openText = c == 'B';
    } else if (wordLength_ == 2 && c == 'I' && word_[1] == 'D') {
        mode_ = Mode::InlineImage;
        imageState_ = 0;
        skipOne_ = true;
    }
}

ContentScan ContentScanner::finish() {
    if (mode_ == Mode::Word)
        endWord();
    return std::move(scan_);
}

ContentScan ContentScan::of(std::string_view s) {
    ContentScanner scanner;
    scanner.feed(s);
    return scanner.finish();
}
