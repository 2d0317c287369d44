#include "OptionTable.h"

#include "CommandLine.h"
#include "NumberText.h"
#include "StampError.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr int kMostDigits = 20;
constexpr int kLongestFormat = 500; // UTF-16 units, as the window's fields count

std::string quoted(const std::string& text) {
    return "\"" + text + "\"";
}

[[noreturn]] void usage(const std::string& message) {
    throw StampError(message, true);
}

bool isHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// #RRGGBB or R,G,B (the tool: R,G,B only, as the window writes it).
RgbColor readColor(const std::string& value, const std::string& what, OptionDialect dialect) {
    RgbColor c;
    if (dialect == OptionDialect::Batch && value.size() == 7 && value[0] == '#' &&
        std::all_of(value.begin() + 1, value.end(), isHex)) {
        c.red = std::stoi(value.substr(1, 2), nullptr, 16);
        c.green = std::stoi(value.substr(3, 2), nullptr, 16);
        c.blue = std::stoi(value.substr(5, 2), nullptr, 16);
        return c;
    }
    std::string parts[3];
    size_t start = 0;
    for (int k = 0; k < 3; ++k) {
        const size_t comma = value.find(',', start);
        if ((k < 2) != (comma != std::string::npos))
            usage(dialect == OptionDialect::Tool
                      ? what + " " + quoted(value) + " must be three numbers red,green,blue"
                      : what + " " + quoted(value) + " is neither #RRGGBB nor R,G,B");
        parts[k] = value.substr(start, k < 2 ? comma - start : std::string::npos);
        start = comma + 1;
    }
    const char* names[3] = {"red", "green", "blue"};
    int* targets[3] = {&c.red, &c.green, &c.blue};
    for (int k = 0; k < 3; ++k)
        *targets[k] = int(ParseWholeNumber(
            parts[k],
            dialect == OptionDialect::Tool ? what + " " + names[k] + " component" : what + " " + names[k], 0,
            255));
    return c;
}

// The number of UTF-16 units of UTF-8 text: four-byte characters take two.
size_t utf16Length(std::string_view text) {
    size_t n = 0;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c & 0xC0) != 0x80)
            n += c >= 0xF0 ? 2 : 1;
    }
    return n;
}

// The tool draws Helvetica only: Windows-1252 bytes. A batch takes any script, kept as UTF-8 (its
// plan finds the font; each file gets the text in its font's terms); control characters print nothing.
[[noreturn]] void unknownField(const std::string& value, const std::string& what) {
    usage(what + " " + quoted(value) + ": " + UnknownNumberField(value) +
          " is none of {n}, {last}, {total}, {file} (the numbers in a style as {n:roman}, {n:ROMAN}, "
          "{n:alpha} or {n:ALPHA})");
}

void readFormat(StampOptions& o, const std::string& value, const std::string& what, OptionDialect dialect) {
    if (value.empty())
        usage(what + " is empty: it would print nothing");
    if (utf16Length(value) > size_t(kLongestFormat))
        usage(what + " is longer than " + std::to_string(kLongestFormat) + " characters");
    if (dialect == OptionDialect::Batch) {
        for (size_t at = 0; at < value.size(); ++at) {
            const auto b = static_cast<unsigned char>(value[at]);
            const bool c1 = b == 0xC2 && at + 1 < value.size() && static_cast<unsigned char>(value[at + 1]) < 0xA0;
            const bool separator = b == 0xE2 && value.compare(at + 1, 1, "\x80") == 0 && at + 2 < value.size() &&
                                   (value[at + 2] == '\xA8' || value[at + 2] == '\xA9');
            if (b < 0x20 || b == 0x7F || c1 || separator) {
                char code[16];
                std::snprintf(code, sizeof code, "U+%04X",
                              c1 ? unsigned(static_cast<unsigned char>(value[at + 1]))
                              : separator ? unsigned(value[at + 2] == '\xA8' ? 0x2028 : 0x2029)
                                          : unsigned(b));
                usage(what + " holds the control character " + code + ", which prints nothing");
            }
        }
        if (!IsKnownNumberFormat(value))
            unknownField(value, what);
        o.format = value;
        return;
    }
    const std::optional<std::string> bytes = ToWinAnsi(value);
    if (!bytes) {
        // Name the first character the font lacks, as its code point.
        for (size_t at = 0; at < value.size();) {
            const auto lead = static_cast<unsigned char>(value[at]);
            const size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
            const std::string one = value.substr(at, length);
            if (!ToWinAnsi(one)) {
                char32_t c = length == 1 ? lead : lead & (0x7F >> length);
                for (size_t k = 1; k < one.size(); ++k)
                    c = (c << 6) | (static_cast<unsigned char>(one[k]) & 0x3F);
                if (one.size() != length)
                    break;
                char code[16];
                std::snprintf(code, sizeof code, "U+%04X", unsigned(c));
                usage(what + " holds " + code +
                      ", which the page font cannot print: Latin-1 and the Windows-1252 signs (such as € – “ "
                      "”) "
                      "only, no control characters");
            }
            at += length;
        }
        usage(what + " holds a character the page font cannot print");
    }
    if (!IsKnownNumberFormat(*bytes))
        unknownField(value, what);
    o.format = *bytes;
}

void readMargin(StampOptions& o, const OptionInfo& info, const std::string& value, const std::string& what) {
    const size_t comma = value.find(',');
    if (comma == std::string::npos || value.find(',', comma + 1) != std::string::npos)
        usage(what + " " + quoted(value) + " is not H,V (as in 10,10)");
    o.left = ParseDecimalNumber(value.substr(0, comma), what + " H", info.min, info.max);
    o.bottom = ParseDecimalNumber(value.substr(comma + 1), what + " V", info.min, info.max);
}

int readChoice(const OptionInfo& info, const std::string& value, const std::string& what) {
    const int k = ChoiceIndex(info.choices, value);
    if (k < 0) {
        std::string list(info.choices);
        for (size_t at = list.find(','); at != std::string::npos; at = list.find(',', at + 2))
            list.replace(at, 1, ", ");
        usage(what + " " + quoted(value) + " is none of " + list);
    }
    return k;
}

using Dialect = OptionDialect;

const StampOptionRow kRows[] = {
    {{.name = "--first",
      .toolSwitch = "-N0",
      .placeholder = "N",
      .toolPlaceholder = "FIRST",
      .defaultText = "1",
      .help = "number of the first page",
      .toolWhat = "first number",
      .min = double(-kMaxFirstNumber),
      .max = double(kMaxFirstNumber)},
     [](StampOptions& o, const OptionInfo& i, const std::string& v, const std::string& what, Dialect) {
         o.firstNumber = ParseWholeNumber(v, what, (long long)i.min, (long long)i.max);
     }},
    {{.name = "--position",
      .placeholder = "P",
      .defaultText = "bottom-left",
      .choices = "top-left,top,top-right,left,center,right,bottom-left,bottom,bottom-right",
      .help = "where the number sits on the page as shown"},
     [](StampOptions& o, const OptionInfo& i, const std::string& v, const std::string& what, Dialect) {
         o.position = NumberPosition(readChoice(i, v, what));
     }},
    {{.name = "--margin",
      .placeholder = "H,V",
      .defaultText = "10,10",
      .help = "points from the nearest side edge (H) and from the top or bottom edge (V)",
      .min = -kMaxDistance,
      .max = kMaxDistance},
     [](StampOptions& o, const OptionInfo& i, const std::string& v, const std::string& what, Dialect) {
         readMargin(o, i, v, what);
     }},
    {{.name = "--left",
      .toolSwitch = "-Nx",
      .placeholder = "PT",
      .toolPlaceholder = "LEFT",
      .defaultText = "10",
      .help = "points from the left edge of the page as shown (the left positions)",
      .toolWhat = "left margin",
      .min = -kMaxDistance,
      .max = kMaxDistance},
     [](StampOptions& o, const OptionInfo& i, const std::string& v, const std::string& what, Dialect) {
         o.left = ParseDecimalNumber(v, what, i.min, i.max);
     }},
    {{.name = "--bottom",
      .toolSwitch = "-Ny",
      .placeholder = "PT",
      .toolPlaceholder = "BOTTOM",
      .defaultText = "10",
      .help = "points from its bottom edge to the baseline (the bottom positions)",
      .toolWhat = "bottom margin",
      .min = -kMaxDistance,
      .max = kMaxDistance},
     [](StampOptions& o, const OptionInfo& i, const std::string& v, const std::string& what, Dialect) {
         o.bottom = ParseDecimalNumber(v, what, i.min, i.max);
     }},
    {{.name = "--box",
      .placeholder = "BOX",
      .defaultText = "crop",
      .choices = "media,crop,trim,bleed,art",
      .help = "the page box the position is measured in; a page without trim, bleed or art box uses its crop "
              "box, one without a crop box its media box"},
     [](StampOptions& o, const OptionInfo& i, const std::string& v, const std::string& what, Dialect) {
         o.box = PlacementBox(readChoice(i, v, what));
     }},
    {{.name = "--mirror",
      .help = "on a file's 2nd, 4th, ... page left and right swap (outer edges of duplex pages)"},
     [](StampOptions& o, const OptionInfo&, const std::string&, const std::string&, Dialect) {
         o.mirror = true;
     }},
    {{.name = "--size",
      .toolSwitch = "-Ns",
      .placeholder = "PT",
      .toolPlaceholder = "SIZE",
      .defaultText = "10",
      .help = "font size in points",
      .toolWhat = "font size",
      .min = 0,
      .max = kMaxFontSize,
      .aboveMin = true},
     [](StampOptions& o, const OptionInfo& i, const std::string& v, const std::string& what, Dialect) {
         o.fontSize = ParseDecimalNumber(v, what, i.min, i.max, i.aboveMin);
     }},
    {{.name = "--color",
      .toolSwitch = "-Nc",
      .placeholder = "C",
      .toolPlaceholder = "R,G,B",
      .defaultText = "0,0,0",
      .help = "colour of the text: #RRGGBB or R,G,B (0 to 255 each)",
      .toolWhat = "colour"},
     [](StampOptions& o, const OptionInfo&, const std::string& v, const std::string& what, Dialect d) {
         const RgbColor c = readColor(v, what, d);
         o.red = c.red;
         o.green = c.green;
         o.blue = c.blue;
     }},
    {{.name = "--background",
      .placeholder = "C",
      .help = "an opaque box of colour C (#RRGGBB or R,G,B) behind the text"},
     [](StampOptions& o, const OptionInfo&, const std::string& v, const std::string& what, Dialect d) {
         o.background = readColor(v, what, d);
         o.hasBackground = true;
     }},
    {{.name = "--format",
      .placeholder = "TEXT",
      .defaultText = "{n}",
      .help = "what each page shows: {n} the number, {n:roman} {n:ROMAN} i ii / I II, {n:alpha} {n:ALPHA} "
              "a..z aa.. / A..Z AA.., {last} (in any of those styles) the number of the file's last numbered "
              "page, {total} how many pages are numbered, {file} its name without extension; any script (text "
              "Helvetica can't draw gets an embedded font subset)"},
     [](StampOptions& o, const OptionInfo&, const std::string& v, const std::string& what, Dialect d) {
         readFormat(o, v, what, d);
     }},
    {{.name = "--digits",
      .placeholder = "D",
      .defaultText = "0",
      .help = "pad {n} with zeros to D digits (0 to 20)",
      .min = 0,
      .max = kMostDigits},
     [](StampOptions& o, const OptionInfo& i, const std::string& v, const std::string& what, Dialect) {
         o.digits = int(ParseWholeNumber(v, what, (long long)i.min, (long long)i.max));
     }},
    {{.name = "--pages",
      .placeholder = "SEL",
      .defaultText = "",
      .help = "number only these pages of each file: N, N-M, N- in a comma list (2- leaves the cover), or "
              "odd, or even; the first of them shows the first number (default every page)"},
     [](StampOptions& o, const OptionInfo&, const std::string& v, const std::string& what, Dialect) {
         const std::optional<PageSelection> pages = PageSelection::parse(v);
         if (!pages)
             usage(what + " " + quoted(v) +
                   " is not a page selection: N, N-M or N- in a comma list (as in 2- or 1,3,5-9), or odd, or "
                   "even");
         o.pages = *pages;
     }},
    {{.name = "--page-labels",
      .help = "the copy's page labels (the viewer's page box) show each numbered page's text"},
     [](StampOptions& o, const OptionInfo&, const std::string&, const std::string&, Dialect) {
         o.pageLabels = true;
     }},
};

bool given(std::span<const std::string> names, std::string_view name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

} // namespace

std::span<const StampOptionRow> StampOptionRows() {
    return kRows;
}

const StampOptionRow* FindStampOption(std::string_view name) {
    for (const StampOptionRow& row : kRows)
        if (row.info.name == name)
            return &row;
    return nullptr;
}

const StampOptionRow* FindToolSwitch(std::string_view toolSwitch) {
    for (const StampOptionRow& row : kRows)
        if (!row.info.toolSwitch.empty() && row.info.toolSwitch == toolSwitch)
            return &row;
    return nullptr;
}

int ChoiceIndex(std::string_view choices, std::string_view value) {
    int k = 0;
    for (size_t start = 0; start <= choices.size() && !choices.empty(); ++k) {
        const size_t comma = std::min(choices.find(',', start), choices.size());
        if (choices.substr(start, comma - start) == value)
            return k;
        start = comma + 1;
    }
    return -1;
}

void CheckStampOptionsTogether(const StampOptions& o, std::span<const std::string> names) {
    // The numbers only grow from the first: a first one that fits fits them all up to the ends.
    if (!NumberFitsFormat(o.format, o.firstNumber))
        usage("the first number " + std::to_string(o.firstNumber) +
              ": roman numerals and letters print numbers from 1 (roman to " + std::to_string(kHighestRoman) +
              ", letters to " + std::to_string(kHighestAlpha) + ")");
    for (const char* side : {"--left", "--bottom"})
        if (given(names, "--margin") && given(names, side))
            usage(std::string("--margin and ") + side + " both set the margins: give one of them");
    const NumberPosition p = o.position;
    const bool leftSide =
        p == NumberPosition::TopLeft || p == NumberPosition::Left || p == NumberPosition::BottomLeft;
    const bool bottomSide =
        p == NumberPosition::BottomLeft || p == NumberPosition::Bottom || p == NumberPosition::BottomRight;
    if (given(names, "--left") && !leftSide)
        usage("--left measures from the left edge, which this --position does not: give --margin H,V");
    if (given(names, "--bottom") && !bottomSide)
        usage("--bottom measures from the bottom edge, which this --position does not: give --margin H,V");
}

std::string OptionHelpLines(const OptionInfo& info) {
    constexpr size_t kHelpColumn = 23, kWidth = 100;
    std::string head = "  ";
    if (!info.shortName.empty())
        head += std::string(info.shortName) + ", ";
    head += info.name;
    if (!info.placeholder.empty())
        head += " " + std::string(info.placeholder);
    std::string text(info.help);
    std::string aside;
    if (!info.choices.empty()) {
        std::string list(info.choices);
        std::replace(list.begin(), list.end(), ',', ' ');
        aside = "one of " + list;
    }
    if (!info.defaultText.empty())
        aside += (aside.empty() ? "default " : "; default ") + std::string(info.defaultText);
    if (!aside.empty())
        text += " (" + aside + ")";

    std::string out = head;
    if (out.size() + 1 > kHelpColumn)
        out += "\n" + std::string(kHelpColumn, ' ');
    else
        out += std::string(kHelpColumn - out.size(), ' ');
    size_t column = kHelpColumn;
    bool first = true;
    for (size_t at = 0; at < text.size();) {
        const size_t end = std::min(text.find(' ', at), text.size());
        const std::string word = text.substr(at, end - at);
        if (!first && column + 1 + word.size() > kWidth) {
            out += "\n" + std::string(kHelpColumn, ' ');
            column = kHelpColumn;
            first = true;
        }
        if (!first) {
            out += ' ';
            ++column;
        }
        out += word;
        column += word.size();
        first = false;
        at = end + 1;
    }
    return out + "\n";
}

std::string OptionListLine(const OptionInfo& info) {
    std::string line(info.name);
    for (std::string_view field : {info.placeholder, info.defaultText, info.choices, info.help}) {
        line += '\t';
        line += field;
    }
    return line;
}
