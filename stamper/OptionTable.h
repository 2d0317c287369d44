#pragma once
// The numbering options, one row each: the name the batch command line knows, the tool's switch where
// it has one, the value's placeholder, default, limits and choices, the help line, and the reader that
// checks a value and puts it into StampOptions. Both command lines, both help texts and the checks
// read these rows, so an option is added here and nowhere else (besides its field in StampOptions).

#include "StampOptions.h"

#include <span>
#include <string>
#include <string_view>

// What a help text and the option list say about an option; the batch command line's own options
// (-o, --jobs, ...) are described by the same fields.
struct OptionInfo {
    std::string_view name = {};            // "--first"
    std::string_view shortName = {};       // "-o"; empty for none
    std::string_view toolSwitch = {};      // "-N0"; empty where the tool has none
    std::string_view placeholder = {};     // "N"; empty for a flag
    std::string_view toolPlaceholder = {}; // the tool's usage text: "FIRST"
    std::string_view defaultText = {};     // in the same form as a value; empty for none
    std::string_view choices = {};         // "a,b,c"; empty for a free value
    std::string_view help = {};            // one line, without the default
    std::string_view toolWhat = {};        // the value's name in the tool's messages: "first number"
    double min = 0, max = 0;               // numbers only
    bool aboveMin = false;                 // min itself is out of range too
};

// Which command line reads a value: their messages differ, and the tool takes colours as R,G,B only.
enum class OptionDialect { Tool, Batch };

struct StampOptionRow {
    OptionInfo info;
    // Checks `value` and sets it in `o`; throws StampError (usage) naming the value as `what`.
    void (*read)(StampOptions& o, const OptionInfo& info, const std::string& value, const std::string& what,
                 OptionDialect dialect);
};

std::span<const StampOptionRow> StampOptionRows();
// By the batch's name ("--first") or, with the tool's dialect, by switch ("-N0"); null if none.
const StampOptionRow* FindStampOption(std::string_view name);
const StampOptionRow* FindToolSwitch(std::string_view toolSwitch);

// Checks the options that go together: --margin against --left/--bottom, and those two against a
// position they do not measure from. `given` holds the names the command line set. Throws StampError.
void CheckStampOptionsTogether(const StampOptions& o, std::span<const std::string> given);

// Index of `value` among the comma-separated `choices`, or -1.
int ChoiceIndex(std::string_view choices, std::string_view value);

// "  --first N            number of the first page (default 1)", wrapped to lines of at most 100
// characters with the help's continuation indented under its start.
std::string OptionHelpLines(const OptionInfo& info);
// name TAB placeholder TAB default TAB choices TAB help, no line end.
std::string OptionListLine(const OptionInfo& info);

// The PDF reader's limits that the table's numbers use. PDF pages are at most 14400 units a side,
// times /UserUnit; margins and sizes beyond these are typos.
inline constexpr double kMaxDistance = 1e6;
inline constexpr double kMaxFontSize = 10000;
// Leaves room to add any page index without overflow.
inline constexpr long long kMaxFirstNumber = 999999999999LL;
