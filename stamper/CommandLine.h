#pragma once
// The tool's command line: -mIN -n -N0<first> -Ns<size> -Nc<r>,<g>,<b> -Nx<left> -Ny<bottom> -dOUT,
// tokens in any order, each value attached to its switch. (ToolCommandLine: numbrel links the
// window's CommandLine too, and two classes of one name there break the one-definition rule.)

#include "StampOptions.h"

#include <string>
#include <vector>

struct ToolCommandLine {
    enum class Action { Stamp, Help, Version };
    Action action = Action::Stamp;
    StampOptions options;
};

// Throws StampError (usage) with a one-line message naming the bad token.
ToolCommandLine ParseCommandLine(const std::vector<std::string>& args);

// Strict number readers: the whole text must be the number, no blanks, no exponent, finite.
// `what` names the value in the message.
long long ParseWholeNumber(const std::string& text, const std::string& what, long long min, long long max);
// With aboveMin, min itself is out of range too ("above 0, up to 10000").
double ParseDecimalNumber(const std::string& text, const std::string& what, double min, double max,
                          bool aboveMin = false);

const char* UsageText();
