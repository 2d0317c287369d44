#include "ContentScan.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
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

// What an operator does to the state the scan follows.
enum class Effect : unsigned char {
    None,
    Save,
    Restore,
    BeginText,
    EndText,
    BeginMarked,
    EndMarked,
    BeginCompat,
    EndCompat,
    BeginImage
};

// The operators of page content and the operands each takes: n a number, i an integer, N a name,
// s a string, a an array, p a name or a dictionary. A negative count takes one up to that many
// numbers (a colour's components); for scn and SCN the last may be a pattern's name instead.
struct Operator {
    const char* name;
    signed char count;
    const char* types;
    Effect effect;
};

constexpr Operator kOperators[] = {
    {"b", 0, "", Effect::None},
    {"B", 0, "", Effect::None},
    {"b*", 0, "", Effect::None},
    {"B*", 0, "", Effect::None},
    {"BDC", 2, "Np", Effect::BeginMarked},
    {"BI", 0, "", Effect::BeginImage},
    {"BMC", 1, "N", Effect::BeginMarked},
    {"BT", 0, "", Effect::BeginText},
    {"BX", 0, "", Effect::BeginCompat},
    {"c", 6, "nnnnnn", Effect::None},
    {"cm", 6, "nnnnnn", Effect::None},
    {"CS", 1, "N", Effect::None},
    {"cs", 1, "N", Effect::None},
    {"d", 2, "an", Effect::None},
    {"d0", 2, "nn", Effect::None},
    {"d1", 6, "nnnnnn", Effect::None},
    {"Do", 1, "N", Effect::None},
    {"DP", 2, "Np", Effect::None},
    {"EMC", 0, "", Effect::EndMarked},
    {"ET", 0, "", Effect::EndText},
    {"EX", 0, "", Effect::EndCompat},
    {"f", 0, "", Effect::None},
    {"F", 0, "", Effect::None},
    {"f*", 0, "", Effect::None},
    {"G", 1, "n", Effect::None},
    {"g", 1, "n", Effect::None},
    {"gs", 1, "N", Effect::None},
    {"h", 0, "", Effect::None},
    {"i", 1, "n", Effect::None},
    {"j", 1, "i", Effect::None},
    {"J", 1, "i", Effect::None},
    {"K", 4, "nnnn", Effect::None},
    {"k", 4, "nnnn", Effect::None},
    {"l", 2, "nn", Effect::None},
    {"m", 2, "nn", Effect::None},
    {"M", 1, "n", Effect::None},
    {"MP", 1, "N", Effect::None},
    {"n", 0, "", Effect::None},
    {"q", 0, "", Effect::Save},
    {"Q", 0, "", Effect::Restore},
    {"re", 4, "nnnn", Effect::None},
    {"RG", 3, "nnn", Effect::None},
    {"rg", 3, "nnn", Effect::None},
    {"ri", 1, "N", Effect::None},
    {"s", 0, "", Effect::None},
    {"S", 0, "", Effect::None},
    {"SC", -4, "n", Effect::None},
    {"sc", -4, "n", Effect::None},
    {"SCN", -33, "N", Effect::None},
    {"scn", -33, "N", Effect::None},
    {"sh", 1, "N", Effect::None},
    {"T*", 0, "", Effect::None},
    {"Tc", 1, "n", Effect::None},
    {"Td", 2, "nn", Effect::None},
    {"TD", 2, "nn", Effect::None},
    {"Tf", 2, "Nn", Effect::None},
    {"Tj", 1, "s", Effect::None},
    {"TJ", 1, "a", Effect::None},
    {"TL", 1, "n", Effect::None},
    {"Tm", 6, "nnnnnn", Effect::None},
    {"Tr", 1, "i", Effect::None},
    {"Ts", 1, "n", Effect::None},
    {"Tw", 1, "n", Effect::None},
    {"Tz", 1, "n", Effect::None},
    {"v", 4, "nnnn", Effect::None},
    {"w", 1, "n", Effect::None},
    {"W", 0, "", Effect::None},
    {"W*", 0, "", Effect::None},
    {"y", 4, "nnnn", Effect::None},
    {"'", 1, "s", Effect::None},
    {"\"", 3, "nns", Effect::None},
};
constexpr int kOperatorCount = int(sizeof kOperators / sizeof kOperators[0]);

// Operators are found by a table indexed by a hash of their (at most three) bytes.
constexpr unsigned keyOf(const char* s, size_t n) {
    unsigned k = 0;
    for (size_t i = 0; i < n; ++i)
        k |= unsigned(static_cast<unsigned char>(s[i])) << (8 * i);
    return k;
}
constexpr size_t lengthOf(const char* s) {
    size_t n = 0;
    while (s[n] != 0)
        ++n;
    return n;
}
constexpr unsigned kSlots = 512;
constexpr unsigned slotOf(unsigned key) {
    return (key * 2654435761u) >> 23;
}
struct OperatorTable {
    short index[kSlots];
    unsigned key[kSlots];
    unsigned char masks[kOperatorCount][6]; // the tags each operand may have
};
// The tags of the scanner's operands: an integer, a real, a name, a string, an array, a dictionary.
constexpr unsigned char kInt = 1, kReal = 2, kName = 4, kString = 8, kArray = 16, kDict = 32;
constexpr unsigned char maskOf(char type) {
    switch (type) {
    case 'n':
        return kInt | kReal;
    case 'i':
        return kInt;
    case 'N':
        return kName;
    case 's':
        return kString;
    case 'a':
        return kArray;
    default: // 'p'
        return kName | kDict;
    }
}
constexpr OperatorTable kOperatorTable = [] {
    OperatorTable t{};
    for (unsigned k = 0; k < kSlots; ++k)
        t.index[k] = -1;
    for (int i = 0; i < kOperatorCount; ++i) {
        const unsigned key = keyOf(kOperators[i].name, lengthOf(kOperators[i].name));
        unsigned slot = slotOf(key);
        while (t.index[slot] >= 0)
            slot = (slot + 1) % kSlots;
        t.index[slot] = short(i);
        t.key[slot] = key;
        for (size_t k = 0; k < 6 && k < lengthOf(kOperators[i].types); ++k)
            t.masks[i][k] = maskOf(kOperators[i].types[k]);
    }
    return t;
}();

[[gnu::always_inline]] inline int operatorIndex(const char* s, size_t n) {
    if (n > 3)
        return -1;
    const unsigned key = keyOf(s, n);
    for (unsigned slot = slotOf(key);; slot = (slot + 1) % kSlots) {
        const int i = kOperatorTable.index[slot];
        if (i < 0)
            return -1;
        if (kOperatorTable.key[slot] == key)
            return i;
    }
}

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f');
}

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

void ContentScanner::doubt(ContentScan::Doubt d, size_t at) {
    if (scan_.doubt == ContentScan::Doubt::None) {
        scan_.doubt = d;
        scan_.doubtAt = at;
    }
}

[[gnu::always_inline]] inline void ContentScanner::value(Tag t) {
    if (levelCount_ == 0) {
        if (operandCount_ < kMaxOperands)
            operands_[operandCount_] = t;
        if (operandCount_ <= kMaxOperands)
            ++operandCount_;
        return;
    }
    if (levelCount_ > kMaxLevels)
        return;
    Level& level = levels_[levelCount_ - 1];
    if (level.dictionary && level.items % 2 == 0 && t != NameTag)
        doubtHere(ContentScan::Doubt::Syntax); // a key that is no name
    ++level.items;
}

[[gnu::always_inline]] inline void ContentScanner::op(int index, const char* after) {
    using Doubt = ContentScan::Doubt;
    const Operator& op = kOperators[index];
    // Poppler abandons the content at an operator short of operands and skips one given operands of
    // the wrong type; MuPDF takes the first of too many where poppler takes the last.
    if (op.count >= 0) {
        bool fits = operandCount_ == op.count;
        const unsigned char* masks = kOperatorTable.masks[index];
        for (int k = 0; fits && k < op.count; ++k)
            fits = (operands_[k] & masks[k]) != 0;
        if (!fits)
            doubtHere(Doubt::Operands);
    } else {
        bool fits = operandCount_ >= 1 && operandCount_ <= -op.count;
        for (int k = 0; fits && k < operandCount_; ++k)
            fits = (operands_[k] & (Int | Real)) != 0 ||
                   (op.types[0] == 'N' && k == operandCount_ - 1 && operands_[k] == NameTag);
        if (!fits)
            doubtHere(Doubt::Operands);
    }
    operandCount_ = 0;
    switch (op.effect) {
    case Effect::None:
        break;
    case Effect::Save:
        ++scan_.openSaves;
        break;
    case Effect::Restore:
        if (scan_.openSaves > 0)
            --scan_.openSaves;
        else
            scan_.strayRestores.push_back(wordStart_);
        break;
    case Effect::BeginText:
        if (scan_.openText)
            doubtHere(Doubt::Nesting);
        scan_.openText = true;
        break;
    case Effect::EndText:
        if (!scan_.openText)
            doubtHere(Doubt::Nesting);
        scan_.openText = false;
        break;
    case Effect::BeginMarked:
        ++scan_.openMarked;
        break;
    case Effect::EndMarked:
        if (scan_.openMarked > 0)
            --scan_.openMarked;
        else
            doubtHere(Doubt::Nesting);
        break;
    case Effect::BeginCompat:
        ++scan_.openCompat;
        break;
    case Effect::EndCompat:
        if (scan_.openCompat > 0)
            --scan_.openCompat;
        else
            doubtHere(Doubt::Nesting);
        break;
    case Effect::BeginImage:
        inImageDictionary_ = true;
        imageDictionary_.clear();
        imageDictionaryTooLong_ = false;
        arraysAtImage_ = arrays_;
        dictionariesAtImage_ = dictionaries_;
        recordFrom_ = after;
        open(true, true);
        break;
    }
}

// Every token is read: numbers, names, strings, arrays and dictionaries are the operands of the
// operator that follows them, and each operator is checked against what it takes. Strings and
// comments, most of a page's bytes, are passed over 16 bytes at a time where the processor allows.
void ContentScanner::feed(std::string_view s) {
    const char* const begin = s.data();
    const char* p = begin;
    const char* const end = p + s.size();
    auto before = [&](const char* at) { return at == begin ? last_ : at[-1]; };
    auto here = [&](const char* at) { return base_ + size_t(at - begin); };
    if (inImageDictionary_)
        recordFrom_ = begin;
    while (p < end) {
        switch (mode_) {
        case Mode::Normal: {
            // Numbers and operators, most of the tokens, are taken here without leaving the loop.
            for (;;) {
                while (p < end && classOf(*p) == White)
                    ++p;
                if (p == end)
                    break;
                const char* const from = p;
                const char c = *p;
                if (unsigned(c - '0') < 10u || c == '-' || c == '.') {
                    if (c == '-')
                        ++p;
                    const char* digits = p;
                    while (p < end && unsigned(*p - '0') < 10u)
                        ++p;
                    bool real = false;
                    if (p < end && *p == '.') {
                        real = true;
                        ++p;
                        while (p < end && unsigned(*p - '0') < 10u)
                            ++p;
                    }
                    if (p < end && classOf(*p) != Regular && p - digits > (real ? 1 : 0)) {
                        wordStart_ = here(from);
                        value(real ? Real : Int);
                        continue;
                    }
                    p = from; // not a plain number, or it may go on in the next piece
                } else if (classOf(c) == Regular && levelCount_ == 0 && !inImageDictionary_) {
                    ++p;
                    while (p < end && classOf(*p) == Regular)
                        ++p;
                    if (p < end) {
                        if (const int index = operatorIndex(from, size_t(p - from)); index >= 0) {
                            wordStart_ = here(from);
                            op(index, p);
                            if (mode_ != Mode::Normal)
                                break;
                            continue;
                        }
                    }
                    p = from;
                }
                break;
            }
            if (p == end || mode_ != Mode::Normal)
                break;
            const char c = *p;
            wordStart_ = here(p);
            if (classOf(c) == Regular) {
                const char* from = p;
                while (p < end && classOf(*p) == Regular)
                    ++p;
                wordLength_ = size_t(p - from);
                if (p < end) {
                    word(from, wordLength_, p);
                } else {
                    std::memcpy(carry_, from, std::min(wordLength_, sizeof carry_));
                    mode_ = Mode::Word;
                }
                break;
            }
            ++p;
            switch (c) {
            case '(':
                mode_ = Mode::String;
                depth_ = 1;
                escaped_ = false;
                break;
            case '/':
                mode_ = Mode::Name;
                wordLength_ = 1;
                break;
            case '%':
                mode_ = Mode::Comment;
                break;
            case '<':
                mode_ = Mode::Angle;
                break;
            case '>':
                mode_ = Mode::CloseAngle;
                break;
            case '[':
                ++arrays_;
                open(false);
                break;
            case ']':
                if (arrays_ > 0)
                    --arrays_;
                close(false);
                break;
            default: // ')', '{' or '}': nothing content may hold outside a string
                doubtHere(ContentScan::Doubt::Syntax);
                break;
            }
            break;
        }
        case Mode::Word: {
            const char* from = p;
            while (p < end && classOf(*p) == Regular)
                ++p;
            const size_t n = size_t(p - from);
            if (wordLength_ < sizeof carry_)
                std::memcpy(carry_ + wordLength_, from, std::min(n, sizeof carry_ - wordLength_));
            wordLength_ += n;
            if (p < end) {
                mode_ = Mode::Normal;
                word(carry_, wordLength_, p);
            }
            break;
        }
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
                value(StringTag);
            }
            break;
        case Mode::Angle:
            // << opens a dictionary; < opens a hex string.
            if (*p == '<') {
                ++p;
                ++dictionaries_;
                mode_ = Mode::Normal;
                open(true);
            } else {
                mode_ = Mode::Hex;
            }
            break;
        case Mode::CloseAngle:
            mode_ = Mode::Normal;
            if (*p == '>') {
                ++p;
                if (dictionaries_ > 0)
                    --dictionaries_;
                close(true);
            } else {
                doubtHere(ContentScan::Doubt::Syntax); // a lone '>'
            }
            break;
        case Mode::Hex: {
            const char* close = findAny<'>'>(p, end);
            if (scan_.doubt == ContentScan::Doubt::None)
                for (const char* q = p; q < close; ++q)
                    if (!isHexDigit(*q) && classOf(*q) != White) {
                        doubt(ContentScan::Doubt::Syntax, here(q));
                        break;
                    }
            p = close;
            if (p < end) {
                ++p;
                mode_ = Mode::Normal;
                value(StringTag);
            }
            break;
        }
        case Mode::Name: {
            const char* from = p;
            while (p < end && classOf(*p) == Regular)
                ++p;
            wordLength_ += size_t(p - from);
            if (p < end) {
                mode_ = Mode::Normal;
                if (wordLength_ > kMaxToken)
                    doubtHere(ContentScan::Doubt::LongToken);
                value(NameTag);
            }
            break;
        }
        case Mode::ImageStart: {
            // The byte after ID belongs to the operator; the data starts after it.
            ++p;
            const ImageData data = imageData(imageDictionary_);
            std::string().swap(imageDictionary_);
            eiState_ = 0;
            eiAfterWhiteOnly_ = false;
            eiStrict_ = true;
            tilde_ = false;
            switch (data.kind) {
            case ImageData::Kind::Length:
                imageLeft_ = data.length;
                lengthGiven_ = data.given;
                mode_ = Mode::ImageData;
                // A viewer decodes filtered data to find its end, wherever /L says it ends.
                if (data.given)
                    doubt(ContentScan::Doubt::InlineImage, wordStart_);
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
                    doubt(ContentScan::Doubt::InlineImage, wordStart_);
                }
                break;
            case ImageData::Kind::Unknown:
                eiAfterWhiteOnly_ = true;
                mode_ = Mode::ImageEI;
                doubt(ContentScan::Doubt::InlineImage, wordStart_);
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
                if (ended < 0)
                    doubt(ContentScan::Doubt::InlineImage, here(p));
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
            // After data whose end every viewer finds alike, EI must follow after white space only,
            // and white space follow it: poppler takes the first EI after the data, whatever follows
            // it, MuPDF one that white space, '<' or '/' follows.
            if (eiStrict_) {
                if (eiState_ == 0 && classOf(*p) == White) {
                    ++p;
                    break;
                }
                const bool expected = eiState_ == 0   ? *p == 'E'
                                      : eiState_ == 1 ? *p == 'I'
                                                      : classOf(*p) == White;
                if (!expected) {
                    doubt(ContentScan::Doubt::InlineImage, here(p));
                    eiStrict_ = false;
                }
            }
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

void ContentScanner::endStream() {
    // Every viewer ends a word or a name with its stream, but poppler reads a string, a comment or an
    // image's data on into the next stream, where MuPDF puts a line break between the two.
    const bool wordOrName = mode_ == Mode::Word || mode_ == Mode::Name;
    const bool imageEnded = mode_ == Mode::ImageEI && eiState_ == 2;
    if (!wordOrName && !imageEnded && mode_ != Mode::Normal)
        doubt(ContentScan::Doubt::StreamBoundary, base_);
    feed("\n");
}

void ContentScanner::open(bool dictionary, bool image) {
    if (levelCount_ < kMaxLevels)
        levels_[levelCount_] = Level{dictionary, image, 0};
    else
        doubtHere(ContentScan::Doubt::Nesting);
    ++levelCount_;
}

void ContentScanner::close(bool dictionary) {
    if (levelCount_ == 0) {
        doubtHere(ContentScan::Doubt::Syntax); // closes nothing
        return;
    }
    if (levelCount_ <= kMaxLevels) {
        const Level& level = levels_[levelCount_ - 1];
        if (level.image) {
            doubtHere(ContentScan::Doubt::Syntax);
            return;
        }
        // ']' for a dictionary, '>>' for an array, or a key without its value
        if (level.dictionary != dictionary || (dictionary && level.items % 2 != 0))
            doubtHere(ContentScan::Doubt::Syntax);
    }
    --levelCount_;
    value(dictionary ? Dict : ArrayTag);
}

void ContentScanner::word(const char* s, size_t n, const char* after) {
    mode_ = Mode::Normal;
    if (n > kMaxToken) {
        doubtHere(ContentScan::Doubt::LongToken);
        if (levelCount_ == 0)
            operandCount_ = 0;
        return;
    }
    const char c = s[0];
    if ((c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.') {
        // A number, and nothing else: poppler reads "0Q" as 0 and Q, MuPDF as one unknown word.
        size_t i = c == '-' || c == '+' ? 1 : 0;
        bool digits = false, dot = false;
        for (; i < n; ++i) {
            if (s[i] >= '0' && s[i] <= '9')
                digits = true;
            else if (s[i] == '.' && !dot)
                dot = true;
            else
                break;
        }
        if (i < n || !digits)
            doubtHere(ContentScan::Doubt::Ambiguous);
        value(dot ? Real : Int);
        return;
    }
    keyword(s, n, after);
}

void ContentScanner::keyword(const char* s, size_t n, const char* after) {
    using Doubt = ContentScan::Doubt;
    const int index = operatorIndex(s, n);
    if (index >= 0 && levelCount_ == 0) {
        op(index, after);
        return;
    }
    const bool constant = (n == 4 && (std::memcmp(s, "true", 4) == 0 || std::memcmp(s, "null", 4) == 0)) ||
                          (n == 5 && std::memcmp(s, "false", 5) == 0);
    if (inImageDictionary_) {
        // Nothing in an inline image's dictionary is an operator; ID ends it.
        if (n == 2 && s[0] == 'I' && s[1] == 'D') {
            endImageDictionary(after);
            return;
        }
        if (!constant)
            doubtHere(Doubt::Syntax);
        value(Other);
        return;
    }
    if (constant) {
        value(Other);
        return;
    }
    // Operators inside an array or a dictionary are parts of it, not operators.
    if (levelCount_ > 0) {
        doubtHere(Doubt::Syntax);
        return;
    }
    if (n == 9 && std::memcmp(s, "endstream", 9) == 0)
        doubtHere(Doubt::EndStream);
    else if (scan_.openCompat == 0)
        doubtHere(Doubt::UnknownOperator);
    operandCount_ = 0;
}

void ContentScanner::endImageDictionary(const char* after) {
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
    // Back to the image's own level: anything still open inside its dictionary is a syntax error.
    while (levelCount_ > 0 && !(levelCount_ <= kMaxLevels && levels_[levelCount_ - 1].image)) {
        doubtHere(ContentScan::Doubt::Syntax);
        --levelCount_;
    }
    if (levelCount_ > 0) {
        if (levels_[levelCount_ - 1].items % 2 != 0)
            doubtHere(ContentScan::Doubt::Syntax); // a key without a value, as in "/I ID"
        --levelCount_;
    }
    arrays_ = arraysAtImage_;
    dictionaries_ = dictionariesAtImage_;
    mode_ = Mode::ImageStart;
}

ContentScan ContentScanner::finish() {
    if (mode_ == Mode::Word)
        word(carry_, wordLength_, nullptr);
    else if (mode_ == Mode::Name) {
        mode_ = Mode::Normal;
        if (wordLength_ > kMaxToken)
            doubtHere(ContentScan::Doubt::LongToken);
        value(NameTag);
    }
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
    if (mode_ == Mode::CloseAngle)
        doubt(ContentScan::Doubt::Syntax, base_);
    // Operands no operator takes: the number's own operators would be given them.
    if (operandCount_ > 0)
        doubt(ContentScan::Doubt::Operands, base_);
    return std::move(scan_);
}

ContentScan ContentScan::of(std::string_view s) {
    ContentScanner scanner;
    scanner.feed(s);
    return scanner.finish();
}
