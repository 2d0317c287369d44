#include "ContentScan.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <string>
#include <zlib.h>

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

// The first byte at or after p where something may begin in content outside strings and the like:
// q or Q, a capital from A to O (for BT, ET, BI and ID), a bracket, an angle bracket, or '(', '%' or
// '/'. Pairs of bytes one bit apart are found with one comparison; the few other bytes that come
// along (capitals such as C or G, 'Y', '_', '@') are regular bytes, which the caller passes over.
const char* findInteresting(const char* p, const char* const end) {
#if defined(__SSE2__)
    const __m128i bit5 = _mm_set1_epi8(0x20), q = _mm_set1_epi8('q');
    const __m128i high = _mm_set1_epi8(char(0xf0)), capitals = _mm_set1_epi8(0x40);
    const __m128i bits12 = _mm_set1_epi8(0x06), brackets = _mm_set1_epi8(0x5f);
    const __m128i bit1 = _mm_set1_epi8(0x02), angles = _mm_set1_epi8(0x3e);
    const __m128i open = _mm_set1_epi8('('), percent = _mm_set1_epi8('%'), slash = _mm_set1_epi8('/');
    while (end - p >= 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        __m128i hit = _mm_cmpeq_epi8(_mm_or_si128(v, bit5), q);
        hit = _mm_or_si128(hit, _mm_cmpeq_epi8(_mm_and_si128(v, high), capitals));
        hit = _mm_or_si128(hit, _mm_cmpeq_epi8(_mm_or_si128(v, bits12), brackets));
        hit = _mm_or_si128(hit, _mm_cmpeq_epi8(_mm_or_si128(v, bit1), angles));
        hit = _mm_or_si128(hit, _mm_cmpeq_epi8(v, open));
        hit = _mm_or_si128(hit, _mm_cmpeq_epi8(v, percent));
        hit = _mm_or_si128(hit, _mm_cmpeq_epi8(v, slash));
        if (const unsigned mask = unsigned(_mm_movemask_epi8(hit)); mask != 0)
            return p + __builtin_ctz(mask);
        p += 16;
    }
#endif
    for (; p < end; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if ((c | 0x20) == 'q' || (c & 0xf0) == 0x40 || (c | 0x06) == 0x5f || (c | 0x02) == 0x3e || c == '(' ||
            c == '%' || c == '/')
            return p;
    }
    return p;
}

// What an inline image's dictionary tells about where its data ends. Viewers read the data by
// decoding it: for unfiltered data that is exactly the pixels' size (rows of width x components x
// bits, rounded up to whole bytes), for ASCIIHex and ASCII85 up to their end marker; /L (or /Length)
// gives the length of filtered data outright. Only where none of that is known do they, and we,
// look for an EI that stands alone as a word.
struct ImageData {
    enum class Kind { Length, HexEnd, A85End, FlateEnd, Unknown } kind = Kind::Unknown;
    unsigned long long length = 0;
    bool given = false; // the length is the dictionary's /L, which a viewer decoding the data ignores
};

class DictionaryReader {
public:
    struct Value {
        enum class Type { Number, Name, Bool, Array, Other } type = Type::Other;
        double number = 0; // an integer
        std::string name;  // without '/'
        bool flag = false;
        std::vector<Value> items;
    };

    explicit DictionaryReader(std::string_view text)
        : s_(text) {}

    // Key and value pairs, keys without '/'; stops at what is not a pair.
    std::vector<std::pair<std::string, Value>> pairs() {
        std::vector<std::pair<std::string, Value>> result;
        while (result.size() < 64) {
            skipWhite();
            if (p_ >= s_.size() || s_[p_] != '/')
                break;
            std::string key = name();
            skipWhite();
            if (p_ >= s_.size())
                break;
            result.emplace_back(std::move(key), value(0));
        }
        return result;
    }

private:
    void skipWhite() {
        while (p_ < s_.size()) {
            if (classOf(s_[p_]) == White) {
                ++p_;
            } else if (s_[p_] == '%') {
                while (p_ < s_.size() && s_[p_] != '\n' && s_[p_] != '\r')
                    ++p_;
            } else {
                break;
            }
        }
    }

    static int hexValue(char c) {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    }

    std::string name() {
        ++p_; // '/'
        std::string n;
        while (p_ < s_.size() && classOf(s_[p_]) == Regular) {
            if (s_[p_] == '#' && p_ + 2 < s_.size() && hexValue(s_[p_ + 1]) >= 0 &&
                hexValue(s_[p_ + 2]) >= 0) {
                n += char(hexValue(s_[p_ + 1]) * 16 + hexValue(s_[p_ + 2]));
                p_ += 3;
            } else {
                n += s_[p_++];
            }
        }
        return n;
    }

    Value value(int depth) {
        Value v;
        const char c = s_[p_];
        if (c == '/') {
            v.type = Value::Type::Name;
            v.name = name();
        } else if (c == '[' && depth < 16) {
            ++p_;
            v.type = Value::Type::Array;
            for (;;) {
                skipWhite();
                if (p_ >= s_.size())
                    break;
                if (s_[p_] == ']') {
                    ++p_;
                    break;
                }
                const size_t before = p_;
                v.items.push_back(value(depth + 1));
                if (p_ == before)
                    ++p_; // a stray delimiter
            }
        } else if (c == '(') {
            int nesting = 0;
            for (; p_ < s_.size(); ++p_) {
                if (s_[p_] == '\\')
                    ++p_;
                else if (s_[p_] == '(')
                    ++nesting;
                else if (s_[p_] == ')' && --nesting == 0) {
                    ++p_;
                    break;
                }
            }
        } else if (c == '<' && p_ + 1 < s_.size() && s_[p_ + 1] == '<') {
            // A dictionary (decoding parameters): skipped to its matching end.
            int nesting = 0;
            while (p_ + 1 < s_.size()) {
                if (s_[p_] == '<' && s_[p_ + 1] == '<') {
                    ++nesting;
                    p_ += 2;
                } else if (s_[p_] == '>' && s_[p_ + 1] == '>') {
                    p_ += 2;
                    if (--nesting == 0)
                        break;
                } else if (s_[p_] == '(') {
                    value(depth + 1);
                } else {
                    ++p_;
                }
            }
        } else if (c == '<') {
            while (p_ < s_.size() && s_[p_] != '>')
                ++p_;
            ++p_;
        } else if (classOf(c) == Regular) {
            const size_t start = p_;
            while (p_ < s_.size() && classOf(s_[p_]) == Regular)
                ++p_;
            const std::string word(s_.substr(start, p_ - start));
            if (word == "true" || word == "false") {
                v.type = Value::Type::Bool;
                v.flag = word == "true";
            } else {
                // Sizes and lengths are integers (a viewer takes no real for them); no locale applies.
                const char* from = word.data() + (word.size() > 1 && word[0] == '+' ? 1 : 0);
                const char* to = word.data() + word.size();
                long long n = 0;
                const auto [at, error] = std::from_chars(from, to, n);
                if (error == std::errc() && at == to) {
                    v.type = Value::Type::Number;
                    v.number = double(n);
                }
            }
        } else {
            ++p_; // a delimiter out of place
        }
        return v;
    }

    std::string_view s_;
    size_t p_ = 0;
};

// Components per pixel of an inline image's colour space, 0 when it depends on the page's
// resources or is not one an inline image may have.
int components(const DictionaryReader::Value& cs) {
    const DictionaryReader::Value* family = &cs;
    if (cs.type == DictionaryReader::Value::Type::Array) {
        if (cs.items.empty() || cs.items[0].type != DictionaryReader::Value::Type::Name)
            return 0;
        family = &cs.items[0];
        const std::string& n = family->name;
        if (n == "DeviceN" && cs.items.size() > 1 && cs.items[1].type == DictionaryReader::Value::Type::Array)
            return int(cs.items[1].items.size());
        if (n == "Separation")
            return 1;
    } else if (cs.type != DictionaryReader::Value::Type::Name) {
        return 0;
    }
    const std::string& n = family->name;
    if (n == "G" || n == "DeviceGray" || n == "CalGray" || n == "I" || n == "Indexed")
        return 1;
    if (n == "RGB" || n == "DeviceRGB" || n == "CalRGB" || n == "Lab")
        return 3;
    if (n == "CMYK" || n == "DeviceCMYK")
        return 4;
    return 0;
}

ImageData imageData(std::string_view dictionary) {
    using Type = DictionaryReader::Value::Type;
    double width = -1, height = -1, bits = -1, length = -1;
    bool mask = false;
    int comps = -1; // -1: no colour space given
    bool filtered = false;
    std::string firstFilter;
    for (auto& [key, v] : DictionaryReader(dictionary).pairs()) {
        if ((key == "W" || key == "Width") && v.type == Type::Number)
            width = v.number;
        else if ((key == "H" || key == "Height") && v.type == Type::Number)
            height = v.number;
        else if ((key == "BPC" || key == "BitsPerComponent") && v.type == Type::Number)
            bits = v.number;
        else if ((key == "IM" || key == "ImageMask") && v.type == Type::Bool)
            mask = v.flag;
        else if (key == "CS" || key == "ColorSpace")
            comps = components(v);
        else if ((key == "L" || key == "Length") && v.type == Type::Number)
            length = v.number;
        else if (key == "F" || key == "Filter") {
            if (v.type == Type::Name) {
                filtered = true;
                firstFilter = v.name;
            } else if (v.type == Type::Array && !v.items.empty()) {
                filtered = true;
                if (v.items[0].type == Type::Name)
                    firstFilter = v.items[0].name;
            }
        }
    }
    ImageData data;
    if (!filtered) {
        if (mask) {
            comps = 1;
            bits = 1;
        }
        const bool whole = width >= 1 && height >= 1 && width == double((long long)width) &&
                           height == double((long long)height) && width < 1e6 && height < 1e6;
        if (whole && comps > 0 && (bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16)) {
            const unsigned long long row =
                ((unsigned long long)width * (unsigned long long)comps * (unsigned long long)bits + 7) / 8;
            data.kind = ImageData::Kind::Length;
            data.length = row * (unsigned long long)height;
            return data;
        }
    }
    if (length >= 0 && length == double((long long)length) && length < 1e12) {
        data.kind = ImageData::Kind::Length;
        data.length = (unsigned long long)length;
        data.given = true;
    } else if (firstFilter == "AHx" || firstFilter == "ASCIIHexDecode") {
        data.kind = ImageData::Kind::HexEnd;
    } else if (firstFilter == "A85" || firstFilter == "ASCII85Decode") {
        data.kind = ImageData::Kind::A85End;
    } else if (firstFilter == "Fl" || firstFilter == "FlateDecode") {
        data.kind = ImageData::Kind::FlateEnd;
    }
    return data;
}

// Longer inline image dictionaries than this are not written by anyone; the data's end is then
// found by its EI.
constexpr size_t kMaxImageDictionary = 64 * 1024;

} // namespace

// Inflates Flate image data only to learn where it ends, as a viewer's decoder stops there.
struct ContentScanner::Inflater {
    static constexpr uLong kMaxInflated = 64ul << 20;
    z_stream z{};
    bool ready = false;
    unsigned char out[4096];

    Inflater() { ready = inflateInit(&z) == Z_OK; }
    ~Inflater() {
        if (ready)
            inflateEnd(&z);
    }
    bool restart() { return ready && inflateReset(&z) == Z_OK; }
    // Consumes from [p, end); 1 when the data ended (p moved past its last byte), 0 when it wants
    // more, -1 when the data is bad (p where the decoder gave up).
    int take(const char*& p, const char* end) {
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(p));
        z.avail_in = uInt(std::min<size_t>(size_t(end - p), 1u << 30));
        for (;;) {
            z.next_out = out;
            z.avail_out = sizeof out;
            const int rc = inflate(&z, Z_NO_FLUSH);
            p = reinterpret_cast<const char*>(z.next_in);
            if (rc == Z_STREAM_END)
                return 1;
            // Past any image a page shows inline, data is taken for bad rather than inflated on.
            if ((rc != Z_OK && !(rc == Z_BUF_ERROR && z.avail_in == 0)) || z.total_out > kMaxInflated)
                return -1;
            if (z.avail_in == 0 && z.avail_out != 0)
                return 0;
        }
    }
};

ContentScanner::ContentScanner() = default;
ContentScanner::~ContentScanner() = default;
ContentScanner::ContentScanner(ContentScanner&&) noexcept = default;
ContentScanner& ContentScanner::operator=(ContentScanner&&) noexcept = default;

// Only a few bytes can begin something that matters: the first letter of q, Q, BT, ET, BI and ID, the
// brackets of arrays and dictionaries, and the delimiters whose insides must be skipped (strings,
// comments, hex strings, names). Everything in between is passed over without being split into
// tokens. A letter counts only where a word starts, which the byte before it tells: outside strings,
// comments and the like, a regular byte after a regular byte always continues the same word.
void ContentScanner::feed(std::string_view s) {
    const char* const begin = s.data();
    const char* p = begin;
    const char* const end = p + s.size();
    auto before = [&](const char* at) { return at == begin ? last_ : at[-1]; };
    if (inImageDictionary_)
        recordFrom_ = begin;
    while (p < end) {
        switch (mode_) {
        case Mode::Normal: {
            p = findInteresting(p, end);
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
                break;
            }
            switch (c) {
            case '(':
                mode_ = Mode::String;
                depth_ = 0;
                escaped_ = false;
                break;
            case '/':
                mode_ = Mode::Name;
                ++p;
                break;
            case '%':
                mode_ = Mode::Comment;
                break;
            case '<':
                mode_ = Mode::Angle;
                ++p;
                break;
            case '>':
                mode_ = Mode::CloseAngle;
                ++p;
                break;
            case '[':
                ++arrays_;
                ++p;
                break;
            case ']':
                if (arrays_ > 0)
                    --arrays_;
                ++p;
                break;
            default:
                ++p; // not found by findInteresting; stepped over should that ever change
                break;
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
                endWord(p);
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
                ++dictionaries_;
                mode_ = Mode::Normal;
            } else {
                mode_ = Mode::Hex;
            }
            break;
        case Mode::CloseAngle:
            if (*p == '>') {
                ++p;
                if (dictionaries_ > 0)
                    --dictionaries_;
            }
            mode_ = Mode::Normal;
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
        case Mode::ImageStart: {
            // The byte after ID belongs to the operator; the data starts after it.
            ++p;
            const ImageData data = imageData(imageDictionary_);
            std::string().swap(imageDictionary_);
            eiState_ = 0;
            eiAfterWhiteOnly_ = false;
            tilde_ = false;
            switch (data.kind) {
            case ImageData::Kind::Length:
                imageLeft_ = data.length;
                lengthGiven_ = data.given;
                mode_ = Mode::ImageData;
                break;
            case ImageData::Kind::HexEnd:
                mode_ = Mode::ImageHexEnd;
                break;
            case ImageData::Kind::A85End:
                mode_ = Mode::Image85End;
                break;
            case ImageData::Kind::FlateEnd:
                if (!inflater_)
                    inflater_ = std::make_unique<Inflater>();
                if (inflater_->restart()) {
                    mode_ = Mode::ImageInflate;
                } else {
                    eiAfterWhiteOnly_ = true;
                    mode_ = Mode::ImageEI;
                }
                break;
            case ImageData::Kind::Unknown:
                eiAfterWhiteOnly_ = true;
                mode_ = Mode::ImageEI;
                break;
            }
            break;
        }
        case Mode::ImageData: {
            const size_t take =
                size_t(std::min<unsigned long long>(imageLeft_, (unsigned long long)(end - p)));
            p += take;
            imageLeft_ -= take;
            if (imageLeft_ == 0)
                mode_ = lengthGiven_ ? Mode::ImageGivenEnd : Mode::ImageEI;
            break;
        }
        case Mode::ImageGivenEnd:
            // A given length is trusted where EI follows it after nothing but white space; else
            // the EI is looked for as where the data's end is not known.
            if (eiState_ == 0 && classOf(*p) == White) {
                ++p;
            } else if (eiState_ == 0 && *p == 'E') {
                eiState_ = 1;
                ++p;
            } else if (eiState_ == 1 && *p == 'I') {
                eiState_ = 2;
                ++p;
            } else if (eiState_ == 2 && (static_cast<unsigned char>(*p) <= 32 || *p == '<' || *p == '/')) {
                mode_ = Mode::Normal;
            } else {
                eiState_ = 0;
                eiAfterWhiteOnly_ = true;
                mode_ = Mode::ImageEI;
            }
            break;
        case Mode::ImageHexEnd:
            p = findAny<'>'>(p, end);
            if (p < end) {
                ++p;
                mode_ = Mode::ImageEI;
            }
            break;
        case Mode::ImageInflate:
            if (const int ended = inflater_->take(p, end); ended != 0) {
                // Bad data ends the viewer's reading somewhere we can't tell: an EI after white space.
                eiAfterWhiteOnly_ = ended < 0;
                mode_ = Mode::ImageEI;
            }
            break;
        case Mode::Image85End:
            while (p < end && !(tilde_ && *p == '>'))
                tilde_ = *p++ == '~';
            if (p < end) {
                ++p;
                mode_ = Mode::ImageEI;
            }
            break;
        case Mode::ImageEI:
            // After data of a known end, the first EI that a white space, '<' or '/' (or the content's
            // end) follows, as MuPDF looks for it; of an unknown end, one that also stands after white
            // space, which a viewer finds by decoding the data we don't decode.
            if (eiState_ == 0) {
                p = findAny<'E'>(p, end);
                if (p < end) {
                    eiState_ = !eiAfterWhiteOnly_ || classOf(before(p)) == White ? 1 : 0;
                    ++p;
                }
            } else if (eiState_ == 1) {
                if (*p == 'I') {
                    eiState_ = 2;
                    ++p;
                } else {
                    eiState_ = 0;
                }
            } else if (static_cast<unsigned char>(*p) <= 32 || *p == '<' || *p == '/') {
                mode_ = Mode::Normal;
            } else {
                eiState_ = 0;
            }
            break;
        }
    }
    if (inImageDictionary_ && !imageDictionaryTooLong_) {
        if (imageDictionary_.size() + size_t(end - recordFrom_) > kMaxImageDictionary)
            imageDictionaryTooLong_ = true;
        else
            imageDictionary_.append(recordFrom_, end);
    }
    if (!s.empty())
        last_ = end[-1];
    base_ += s.size();
}

void ContentScanner::endWord(const char* after) {
    mode_ = Mode::Normal;
    if (wordLength_ > 2)
        return;
    const char c = word_[0];
    if (inImageDictionary_) {
        // Nothing in an inline image's dictionary is an operator; ID ends it.
        if (wordLength_ == 2 && c == 'I' && word_[1] == 'D') {
            inImageDictionary_ = false;
            if (after != nullptr && !imageDictionaryTooLong_) {
                if (imageDictionary_.size() + size_t(after - recordFrom_) > kMaxImageDictionary)
                    imageDictionaryTooLong_ = true;
                else
                    imageDictionary_.append(recordFrom_, after);
            }
            if (imageDictionaryTooLong_ || imageDictionary_.size() < 2)
                imageDictionary_.clear();
            else
                imageDictionary_.resize(imageDictionary_.size() - 2);
            arrays_ = arraysAtImage_;
            dictionaries_ = dictionariesAtImage_;
            mode_ = Mode::ImageStart;
        }
        return;
    }
    // Operators inside an array or a dictionary are parts of it, not operators.
    const bool nested = (arrays_ | dictionaries_) != 0;
    if (wordLength_ == 1) {
        if (nested)
            return;
        if (c == 'q') {
            ++scan_.openSaves;
        } else if (c == 'Q') {
            if (scan_.openSaves > 0)
                --scan_.openSaves;
            else
                scan_.strayRestores.push_back(wordStart_);
        }
    } else if (word_[1] == 'T') {
        if ((c == 'B' || c == 'E') && !nested)
            scan_.openText = c == 'B';
    } else if (c == 'B' && word_[1] == 'I' && !nested) {
        startImage();
        recordFrom_ = after;
    }
}

void ContentScanner::startImage() {
    inImageDictionary_ = true;
    imageDictionary_.clear();
    imageDictionaryTooLong_ = false;
    arraysAtImage_ = arrays_;
    dictionariesAtImage_ = dictionaries_;
}

ContentScan ContentScanner::finish() {
    if (mode_ == Mode::Word)
        endWord(nullptr);
    using End = ContentScan::End;
    switch (mode_) {
    case Mode::String:
        scan_.end = End::String;
        break;
    case Mode::Angle:
    case Mode::Hex:
        scan_.end = End::HexString;
        break;
    case Mode::ImageStart:
    case Mode::ImageData:
    case Mode::ImageHexEnd:
    case Mode::Image85End:
    case Mode::ImageInflate:
        scan_.end = End::InlineImage;
        break;
    case Mode::ImageEI:
    case Mode::ImageGivenEnd:
        // EI as the content's last bytes ends the image.
        if (eiState_ != 2)
            scan_.end = End::InlineImage;
        break;
    default:
        if (inImageDictionary_)
            scan_.end = End::InlineImage;
        else if (arrays_ > 0)
            scan_.end = End::Array;
        else if (dictionaries_ > 0)
            scan_.end = End::Dictionary;
        break;
    }
    return std::move(scan_);
}

ContentScan ContentScan::of(std::string_view s) {
    ContentScanner scanner;
    scanner.feed(s);
    return scanner.finish();
}
