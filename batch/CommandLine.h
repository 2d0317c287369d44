#pragma once
// Splitting a command line the way the C runtime of the scripts' home platform does, so that a
// run script means the same thing here as it did there.

#include <string>
#include <vector>

// The program part of a line: up to the closing quote when the line starts with one (the quotes
// are dropped, backslashes are plain characters), otherwise up to the first blank or tab.
// rest receives what follows it.
std::string SplitProgramName(const std::string& line, std::string& rest);

// The arguments after the program: blanks and tabs separate them; double quotes group and are
// dropped; "" inside quotes is a literal quote; 2n backslashes before a quote give n backslashes
// and the quote keeps its meaning, 2n+1 give n backslashes and a literal quote; other backslashes
// are plain characters.
std::vector<std::string> SplitArguments(const std::string& text);

// Case-insensitive (ASCII) wildcard match: "*" any run, "?" one character, "*.*" every name.
bool NameMatches(const std::string& pattern, const std::string& name);
