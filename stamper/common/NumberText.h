#pragma once
// The text printed on a page: by default the number alone; with a format, the format with {n} (the
// number, zero-padded to `digits`), {total} (the file's page count) and {file} (the file's name
// without its extension) filled in. The font draws single bytes in WinAnsiEncoding (Windows-1252),
// so printable text is Latin-1 and the few Windows-1252 additions (€ ‘ ’ “ ” – — … • ™ and so on).

#include <optional>
#include <string>
#include <string_view>

// The Windows-1252 bytes of UTF-8 `text`; nothing when it holds a character the font cannot draw
// (control characters included) or is not UTF-8.
std::optional<std::string> ToWinAnsi(std::string_view text);

// What `format` (Windows-1252 bytes; empty means "{n}") prints for number `value` of `total` pages
// of the file titled `fileTitle`. A negative number keeps its sign before the padded digits.
std::string ExpandNumberText(const std::string& format, int digits, long long value, size_t total,
                             const std::string& fileTitle);

// Whether `format` names only the fields above: false for a "{" that opens none of them.
bool IsKnownNumberFormat(std::string_view format);

// The character a Windows-1252 byte stands for (0 for the five codes it leaves unused).
char32_t WinAnsiCharacter(unsigned char byte);

// The text as a PDF text string (as page labels and outlines hold them): a literal where it is plain
// ASCII, else UTF-16BE with its byte order mark.
std::string PdfTextString(const std::string& bytes);

// The text as a PDF string literal, "(" to ")", with bytes outside printable ASCII escaped.
std::string PdfLiteral(const std::string& bytes);

// What placing a text needs of the font it is drawn in, at size 1 (text space units).
class FontMetrics {
public:
    virtual ~FontMetrics() = default;
    // The advance of the text as the page shows it (bytes in the font's encoding).
    virtual double advance(std::string_view bytes) const = 0;
    // The height of the capitals above the baseline, and how far below it the descenders reach.
    virtual double capHeight() const = 0;
    virtual double descent() const = 0;
};

// The page font: Helvetica in WinAnsiEncoding, with its real widths.
const FontMetrics& HelveticaMetrics();

// The text's advance in Helvetica at size 1.
double HelveticaWidth(const std::string& bytes);
