#pragma once
// What one run of the numbering tool is asked to do, as read from its command line.

#include <functional>
#include <memory>
#include <string>

class PageFont;

// Told of the short name that a copy takes in OUT's folder for a moment (on its way over an existing
// OUT, or from the start where the file system has no unnamed files), so that a program that keeps
// records can have a name left by a run killed before its rename removed later. One per copy.
class ShortNameWatch {
public:
    virtual ~ShortNameWatch() = default;
    // `path` is about to name the open file `fd`; fd -1: a new empty file is about to be made there.
    virtual void naming(const std::string& path, int fd) = 0;
    // The short name is gone: renamed into place, removed, or never made.
    virtual void gone() = 0;
};

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
    // The font the text is drawn with, embedded as a subset of what the file's pages print; null for
    // the standard Helvetica. With a font, `format` and `fileTitle` are UTF-8.
    std::shared_ptr<const PageFont> font;
    // Makes the watch of each copy's short name; empty: nobody is told (the tool itself).
    std::function<std::unique_ptr<ShortNameWatch>()> watchShortNames;
};
