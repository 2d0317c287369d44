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

double HelveticaWidth(const std::string& bytes) {
    double width = 0;
    for (char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        // Helvetica's own widths for what a number text mostly holds; a broad figure for the rest.
        if (c >= '0' && c <= '9')
            width += 0.556;
        else if (c == ' ')
            width += 0.278;
        else if (c == '-')
            width += 0.333;
        else if (c == '.' || c == ',' || c == ':' || c == ';' || c == 'i' || c == 'l' || c == 'j')
            width += 0.278;
        else if (c >= 'A' && c <= 'Z')
            width += c == 'I' ? 0.278 : c == 'M' || c == 'W' ? 0.833 : 0.667;
        else if (c >= 'a' && c <= 'z')
            width += c == 'm' ? 0.833 : c == 'w' ? 0.722 : c == 'f' || c == 't' || c == 'r' ? 0.333 : 0.556;
        else
            width += 0.556;
    }
    return width;
}
