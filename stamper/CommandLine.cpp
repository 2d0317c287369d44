#include "CommandLine.h"

#include "OptionTable.h"
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

    std::vector<std::string> given; // the table's names, for the checks of options that go together
    for (size_t k = 0; k < args.size(); ++k) {
        const std::string& arg = args[k];
        std::string key;
        std::string value;
        const StampOptionRow* row = nullptr;
        if (arg.rfind("-N", 0) == 0 && arg.size() >= 3) {
            key = arg.substr(0, 3);
            value = arg.substr(3);
            row = FindToolSwitch(key);
            if (!row)
                throw StampError("unknown argument " + quoted(arg) + " (see --help)", true);
            // The window passes option texts as typed; a leading blank splits "-N0 5" in two. The
            // value is still plain, so take it rather than lose the whole run.
            if (value.empty() && k + 1 < args.size() && looksLikeValue(args[k + 1]))
                value = args[++k];
        } else if (arg.rfind("--", 0) == 0 && arg.size() > 2) {
            // The options the tool has no switch for, by their batch names: --position=top.
            const size_t eq = arg.find('=');
            key = arg.substr(0, eq);
            row = FindStampOption(key);
            if (!row)
                throw StampError("unknown argument " + quoted(arg) + " (see --help)", true);
            if (row->info.placeholder.empty() && eq != std::string::npos)
                throw StampError(key + " takes no value", true);
            if (!row->info.placeholder.empty() && eq == std::string::npos)
                throw StampError(key + " needs its value attached, as in " + key + "=" +
                                     std::string(row->info.placeholder),
                                 true);
            if (eq != std::string::npos)
                value = arg.substr(eq + 1);
        } else if (arg.rfind("-m", 0) == 0 || arg.rfind("-d", 0) == 0) {
            key = arg.substr(0, 2);
            value = arg.substr(2);
        } else if (arg == "-n") {
            key = arg;
        } else {
            throw StampError("unknown argument " + quoted(arg) + " (see --help)", true);
        }
        if (!seen.insert(row ? std::string(row->info.name) : key).second)
            throw StampError(key + " is given more than once", true);

        if (row) {
            const bool tool = !row->info.toolSwitch.empty() && key == row->info.toolSwitch;
            row->read(o, row->info, value, tool ? std::string(row->info.toolWhat) : key,
                      tool ? OptionDialect::Tool : OptionDialect::Batch);
            given.emplace_back(row->info.name);
        } else if (key == "-m") {
            if (value.empty())
                throw StampError("-m needs the input file name attached, as in -min.pdf", true);
            o.input = value;
        } else if (key == "-d") {
            if (value.empty())
                throw StampError("-d needs the output file name attached, as in -dout.pdf", true);
            o.output = value;
        } else if (key == "-n") {
            numbering = true;
        }
    }
    CheckStampOptionsTogether(o, given);

    if (o.input.empty())
        throw StampError("no input file: -mIN is missing", true);
    if (o.output.empty())
        throw StampError("no output file: -dOUT is missing", true);
    if (!numbering)
        throw StampError("nothing to do: -n (number the pages) is missing", true);
    return result;
}

const char* UsageText() {
    static const std::string text = [] {
        std::string usage = "Usage: mbtPdfAsm.exe -mIN -n", defaults, more;
        for (const StampOptionRow& row : StampOptionRows()) {
            const OptionInfo& i = row.info;
            if (i.toolSwitch.empty()) {
                more += OptionHelpLines(i);
                continue;
            }
            usage += " [" + std::string(i.toolSwitch) + std::string(i.toolPlaceholder) + "]";
            defaults += " " + std::string(i.toolSwitch) + std::string(i.defaultText);
        }
        return usage +
               " -dOUT\n"
               "Writes OUT, a copy of the PDF file IN with every page numbered: page 1 shows FIRST,\n"
               "page 2 FIRST+1 and so on, in Helvetica of SIZE points and colour R,G,B (0 to 255 each),\n"
               "LEFT points right of and BOTTOM points above the bottom-left corner of the page as a\n"
               "viewer shows it. Defaults:" +
               defaults +
               ".\n"
               "IN is never changed; OUT is written completely or not at all.\n"
               "The other numbering options, each as --NAME=VALUE or a flag:\n" +
               more +
               "  --help               show this text\n"
               "  --version            show the version\n";
    }();
    return text.c_str();
}
