#include "CommandLine.h"

#include "StampError.h"

#include <charconv>
#include <cmath>
#include <set>
#include <sstream>

namespace {

std::string quoted(const std::string& text) {
    return "\"" + text + "\"";
}

// Users type "+5" now and then; from_chars does not take the sign, so drop one here.
std::string_view withoutPlus(const std::string& text) {
    std::string_view v(text);
    if (!v.empty() && v.front() == '+' && v.size() > 1 && v[1] != '-' && v[1] != '+')
        v.remove_prefix(1);
    return v;
}

// Plain digits, as a user types them: 1000000, never 1e+06.
std::string formatLimit(double v) {
    std::ostringstream s;
    s.precision(15);
    s << std::fixed << v;
    std::string text = s.str();
    if (text.find('.') != std::string::npos) {
        while (text.back() == '0')
            text.pop_back();
        if (text.back() == '.')
            text.pop_back();
    }
    return text;
}

// PDF pages are at most 14400 units a side, times /UserUnit; margins and sizes beyond this are typos.
// A number or a colour triple standing alone, as opposed to the next switch.
bool looksLikeValue(const std::string& text) {
    if (text.empty())
        return false;
    size_t digits = 0;
    for (size_t k = 0; k < text.size(); ++k) {
        char c = text[k];
        if (c >= '0' && c <= '9')
            ++digits;
        else if (!(c == '.' || c == ',' || ((c == '-' || c == '+') && k == 0)))
            return false;
    }
    return digits > 0;
}

constexpr double kMaxDistance = 1e6;
constexpr double kMaxFontSize = 10000;
// Leaves room to add any page index without overflow.
constexpr long long kMaxFirstNumber = 999999999999LL;

} // namespace

long long ParseWholeNumber(const std::string& text, const std::string& what, long long min, long long max) {
    std::string_view v = withoutPlus(text);
    long long value = 0;
    auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), value);
    if (v.empty() || ec == std::errc::invalid_argument || end != v.data() + v.size())
        throw StampError(what + " " + quoted(text) + " is not a whole number", true);
    if (ec == std::errc::result_out_of_range || value < min || value > max)
        throw StampError(what + " " + quoted(text) + " is out of range (" + std::to_string(min) + " to " +
                             std::to_string(max) + ")",
                         true);
    return value;
}

double ParseDecimalNumber(const std::string& text, const std::string& what, double min, double max,
                          bool aboveMin) {
    std::string_view v = withoutPlus(text);
    double value = 0;
    auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), value, std::chars_format::fixed);
    if (v.empty() || ec == std::errc::invalid_argument || end != v.data() + v.size() || !std::isfinite(value))
        throw StampError(what + " " + quoted(text) + " is not a number", true);
    if (ec == std::errc::result_out_of_range || value < min || (aboveMin && value <= min) || value > max)
        throw StampError(what + " " + quoted(text) + " is out of range (" + (aboveMin ? "above " : "") +
                             formatLimit(min) + (aboveMin ? ", up to " : " to ") + formatLimit(max) + ")",
                         true);
    return value;
}

ToolCommandLine ParseCommandLine(const std::vector<std::string>& args) {
    ToolCommandLine result;
    StampOptions& o = result.options;
    std::set<std::string> seen;
    bool numbering = false;

    for (const std::string& arg : args) {
        if (arg == "--help" || arg == "-h") {
            result.action = ToolCommandLine::Action::Help;
            return result;
        }
        if (arg == "--version") {
            result.action = ToolCommandLine::Action::Version;
            return result;
        }
    }

    for (size_t k = 0; k < args.size(); ++k) {
        const std::string& arg = args[k];
        std::string key;
        std::string value;
        if (arg.rfind("-N", 0) == 0 && arg.size() >= 3) {
            key = arg.substr(0, 3);
            value = arg.substr(3);
            // The window passes option texts as typed; a leading blank splits "-N0 5" in two. The
            // value is still plain, so take it rather than lose the whole run.
            if (value.empty() && k + 1 < args.size() && looksLikeValue(args[k + 1]))
                value = args[++k];
        } else if (arg.rfind("-m", 0) == 0 || arg.rfind("-d", 0) == 0) {
            key = arg.substr(0, 2);
            value = arg.substr(2);
        } else if (arg == "-n") {
            key = arg;
        } else {
            throw StampError("unknown argument " + quoted(arg) + " (see --help)", true);
        }
        if (!seen.insert(key).second)
            throw StampError(key + " is given more than once", true);

        if (key == "-m") {
            if (value.empty())
                throw StampError("-m needs the input file name attached, as in -min.pdf", true);
            o.input = value;
        } else if (key == "-d") {
            if (value.empty())
                throw StampError("-d needs the output file name attached, as in -dout.pdf", true);
            o.output = value;
        } else if (key == "-n") {
            numbering = true;
        } else if (key == "-N0") {
            o.firstNumber = ParseWholeNumber(value, "first number", -kMaxFirstNumber, kMaxFirstNumber);
        } else if (key == "-Ns") {
            o.fontSize = ParseDecimalNumber(value, "font size", 0, kMaxFontSize, true);
        } else if (key == "-Nx") {
            o.left = ParseDecimalNumber(value, "left margin", -kMaxDistance, kMaxDistance);
        } else if (key == "-Ny") {
            o.bottom = ParseDecimalNumber(value, "bottom margin", -kMaxDistance, kMaxDistance);
        } else if (key == "-Nc") {
            std::string parts[3];
            size_t start = 0;
            for (int k = 0; k < 3; ++k) {
                size_t comma = value.find(',', start);
                if ((k < 2) != (comma != std::string::npos))
                    throw StampError("colour " + quoted(value) + " must be three numbers red,green,blue",
                                     true);
                parts[k] = value.substr(start, k < 2 ? comma - start : std::string::npos);
                start = comma + 1;
            }
            o.red = int(ParseWholeNumber(parts[0], "colour red component", 0, 255));
            o.green = int(ParseWholeNumber(parts[1], "colour green component", 0, 255));
            o.blue = int(ParseWholeNumber(parts[2], "colour blue component", 0, 255));
        } else {
            throw StampError("unknown argument " + quoted(arg) + " (see --help)", true);
        }
    }

    if (o.input.empty())
        throw StampError("no input file: -mIN is missing", true);
    if (o.output.empty())
        throw StampError("no output file: -dOUT is missing", true);
    if (!numbering)
        throw StampError("nothing to do: -n (number the pages) is missing", true);
    return result;
}

const char* UsageText() {
    return "Usage: mbtPdfAsm.exe -mIN -n [-N0FIRST] [-NsSIZE] [-NcR,G,B] [-NxLEFT] [-NyBOTTOM] -dOUT\n"
           "Writes OUT, a copy of the PDF file IN with every page numbered: page 1 shows FIRST,\n"
           "page 2 FIRST+1 and so on, in Helvetica of SIZE points and colour R,G,B (0 to 255 each),\n"
           "LEFT points right of and BOTTOM points above the bottom-left corner of the page as a\n"
           "viewer shows it. Defaults: -N01 -Ns10 -Nc0,0,0 -Nx10 -Ny10.\n"
           "IN is never changed; OUT is written completely or not at all.\n"
           "  --help     show this text\n"
           "  --version  show the version\n";
}
