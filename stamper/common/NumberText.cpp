#include "NumberText.h"

#include <cstdio>

namespace {
// Windows-1252 codes 0x80 to 0x9F and the characters they stand for (0 where the code is unused).
constexpr char32_t kWindows1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

std::optional<char> winAnsiCode(char32_t c) {
    if ((c >= 0x20 && c < 0x7F) || (c >= 0xA0 && c <= 0xFF))
        return char(c);
    for (int k = 0; k < 32; ++k)
        if (kWindows1252High[k] != 0 && kWindows1252High[k] == c)
            return char(0x80 + k);
    return std::nullopt;
}

// One UTF-8 character from `text` at `at`, moving `at` past it; nothing for a malformed sequence.
std::optional<char32_t> nextCharacter(std::string_view text, size_t& at) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char first = byte(at);
    int length = first < 0x80           ? 1
                 : (first >> 5) == 0x6  ? 2
                 : (first >> 4) == 0xE  ? 3
                 : (first >> 3) == 0x1E ? 4
                                        : 0;
    if (length == 0 || at + size_t(length) > text.size())
        return std::nullopt;
    char32_t c = length == 1 ? first : first & (0x7F >> length);
    for (int k = 1; k < length; ++k) {
        if ((byte(at + size_t(k)) & 0xC0) != 0x80)
            return std::nullopt;
        c = (c << 6) | (byte(at + size_t(k)) & 0x3F);
    }
    // Overlong forms and surrogates are not characters.
    static constexpr char32_t kLeast[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kLeast[length] || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF)
        return std::nullopt;
    at += size_t(length);
    return c;
}

constexpr std::string_view kFields[] = {"{n}", "{total}", "{file}"};

bool startsWith(std::string_view text, std::string_view start) {
    return text.substr(0, start.size()) == start;
}
} // namespace

std::optional<std::string> ToWinAnsi(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        const std::optional<char32_t> c = nextCharacter(text, at);
        if (!c)
            return std::nullopt;
        const std::optional<char> code = winAnsiCode(*c);
        if (!code)
            return std::nullopt;
        out += *code;
    }
    return out;
}

std::string ExpandNumberText(const std::string& format, int digits, long long value, size_t total,
                             const std::string& fileTitle) {
    std::string number = std::to_string(value < 0 ? -(unsigned long long)value : (unsigned long long)value);
    if (digits > 0 && number.size() < size_t(digits))
        number.insert(0, size_t(digits) - number.size(), '0');
    if (value < 0)
        number.insert(0, 1, '-');
    if (format.empty())
        return number;
    std::string out;
    out.reserve(format.size() + number.size());
    for (size_t at = 0; at < format.size();) {
        const std::string_view rest = std::string_view(format).substr(at);
        if (startsWith(rest, "{n}")) {
            out += number;
            at += 3;
        } else if (startsWith(rest, "{total}")) {
            out += std::to_string(total);
            at += 7;
        } else if (startsWith(rest, "{file}")) {
            out += fileTitle;
            at += 6;
        } else {
            out += format[at++];
        }
    }
    return out;
}

bool IsKnownNumberFormat(std::string_view format) {
    for (size_t at = format.find('{'); at != std::string_view::npos; at = format.find('{', at + 1)) {
        bool known = false;
        for (std::string_view field : kFields)
            known = known || startsWith(format.substr(at), field);
        if (!known)
            return false;
    }
    return true;
}

std::string PdfLiteral(const std::string& bytes) {
    std::string out = "(";
    for (char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '(' || c == ')' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20 || c >= 0x7F) {
            char octal[5];
            std::snprintf(octal, sizeof octal, "\\%03o", c);
            out += octal;
        } else {
            out += ch;
        }
    }
    return out + ")";
}

namespace {
// Helvetica's advance widths (its AFM, thousandths of the size) for WinAnsiEncoding codes 32 to 255;
// 0 for the codes Windows-1252 leaves unused.
// clang-format off
constexpr short kHelveticaWidths[224] = {
    // 32: space ! " # $ % & ' ( ) * + , - . /
    278, 278, 355, 556, 556, 889, 667, 191, 333, 333, 389, 584, 278, 333, 278, 278,
    // 48: 0-9 : ; < = > ?
    556, 556, 556, 556, 556, 556, 556, 556, 556, 556, 278, 278, 584, 584, 584, 556,
    // 64: @ A-O
    1015, 667, 667, 722, 722, 667, 611, 778, 722, 278, 500, 667, 556, 833, 722, 778,
    // 80: P-Z [ \ ] ^ _
    667, 778, 722, 667, 611, 722, 667, 944, 667, 667, 611, 278, 278, 278, 469, 556,
    // 96: ` a-o
    333, 556, 556, 500, 556, 556, 278, 556, 556, 222, 222, 500, 222, 833, 556, 556,
    // 112: p-z { | } ~ (127 unused)
    556, 556, 333, 500, 278, 556, 500, 722, 500, 500, 500, 334, 260, 334, 584, 0,
    // 128: Euro, -, quotesinglbase florin quotedblbase ellipsis dagger daggerdbl circumflex perthousand
    //      Scaron guilsinglleft OE, -, Zcaron, -
    556, 0, 222, 556, 333, 1000, 556, 556, 333, 1000, 667, 333, 1000, 0, 611, 0,
    // 144: -, quoteleft quoteright quotedblleft quotedblright bullet endash emdash tilde trademark
    //      scaron guilsinglright oe, -, zcaron Ydieresis
    0, 222, 222, 333, 333, 350, 556, 1000, 333, 1000, 500, 333, 944, 0, 500, 667,
    // 160: nbsp ¡ ¢ £ ¤ ¥ ¦ § ¨ © ª « ¬ soft-hyphen ® ¯
    278, 333, 556, 556, 556, 556, 260, 556, 333, 737, 370, 556, 584, 333, 737, 333,
    // 176: ° ± ² ³ ´ µ ¶ · ¸ ¹ º » ¼ ½ ¾ ¿
    400, 584, 333, 333, 333, 556, 537, 278, 333, 333, 365, 556, 834, 834, 834, 611,
    // 192: À-Å Æ Ç È-Ë Ì-Ï
    667, 667, 667, 667, 667, 667, 1000, 722, 667, 667, 667, 667, 278, 278, 278, 278,
    // 208: Ð Ñ Ò-Ö × Ø Ù-Ü Ý Þ ß
    722, 722, 778, 778, 778, 778, 778, 584, 778, 722, 722, 722, 722, 667, 667, 611,
    // 224: à-å æ ç è-ë ì-ï
    556, 556, 556, 556, 556, 556, 889, 500, 556, 556, 556, 556, 278, 278, 278, 278,
    // 240: ð ñ ò-ö ÷ ø ù-ü ý þ ÿ
    556, 556, 556, 556, 556, 556, 556, 584, 611, 556, 556, 556, 556, 500, 556, 500,
};
// clang-format on

class Helvetica : public FontMetrics {
public:
    double advance(std::string_view bytes) const override {
        int width = 0;
        for (const char ch : bytes) {
            const auto c = static_cast<unsigned char>(ch);
            if (c >= 32)
                width += kHelveticaWidths[c - 32];
        }
        return width / 1000.0;
    }
    double capHeight() const override { return 0.718; }
    double descent() const override { return 0.207; }
};
} // namespace

const FontMetrics& HelveticaMetrics() {
    static const Helvetica metrics;
    return metrics;
}

char32_t WinAnsiCharacter(unsigned char byte) {
    return byte >= 0x80 && byte < 0xA0 ? kWindows1252High[byte - 0x80] : char32_t(byte);
}

std::string PdfTextString(const std::string& bytes) {
    bool plain = true;
    for (const char ch : bytes)
        plain = plain && static_cast<unsigned char>(ch) >= 0x20 && static_cast<unsigned char>(ch) < 0x7F;
    if (plain)
        return PdfLiteral(bytes);
    // Every Windows-1252 character lies in the Basic Multilingual Plane: one UTF-16 unit each.
    std::string utf16 = "\xFE\xFF";
    for (const char ch : bytes) {
        const char32_t c = WinAnsiCharacter(static_cast<unsigned char>(ch));
        utf16 += char(c >> 8);
        utf16 += char(c & 0xFF);
    }
    return PdfLiteral(utf16);
}

double HelveticaWidth(const std::string& bytes) {
    return HelveticaMetrics().advance(bytes);
}
