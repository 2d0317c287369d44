#pragma once
// What one run of the numbering tool is asked to do, as read from its command line.

#include <string>

struct StampOptions {
    std::string input;  // -m
    std::string output; // -d
    long long firstNumber = 1;
    double fontSize = 10;
    int red = 0, green = 0, blue = 0;
    double left = 10;   // points right of the visible page's left edge
    double bottom = 10; // points above its bottom edge (the baseline)
    // What each page shows (see NumberText.h), in Windows-1252 bytes: empty for the number alone, as
    // the tool's own command line always prints it. {n} is padded with zeros to `digits` digits.
    std::string format;
    int digits = 0;
    std::string fileTitle; // what {file} prints
};
