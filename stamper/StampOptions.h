#pragma once
// What one run of the numbering tool is asked to do, as read from its command line.

#include "PageSelection.h"

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

// Where on the page the number sits: the order is that of the option's choices.
enum class NumberPosition { TopLeft, Top, TopRight, Left, Center, Right, BottomLeft, Bottom, BottomRight };
// The page box the position is measured in, in the order of the option's choices.
enum class PlacementBox { Media, Crop, Trim, Bleed, Art };

struct RgbColor {
    int red = 0, green = 0, blue = 0;
};

struct StampOptions {
    std::string input;  // -m
    std::string output; // -d
    long long firstNumber = 1;
    double fontSize = 10;
    int red = 0, green = 0, blue = 0;
    // The margins: `left` from the nearest side edge of the box as a viewer shows it (left or right,
    // unused for the middle positions), `bottom` from the bottom edge to the baseline or from the top
    // edge to the top of the capitals.
    double left = 10;
    double bottom = 10;
    NumberPosition position = NumberPosition::BottomLeft;
    PlacementBox box = PlacementBox::Crop;
    bool mirror = false;        // on a file's 2nd, 4th, ... page, left and right swap
    bool hasBackground = false; // an opaque box of `background` behind the text
    RgbColor background;
    bool pageLabels = false; // the copy's /PageLabels show each numbered page's text
    // What each page shows (see NumberText.h), in Windows-1252 bytes: empty for the number alone, as
    // the tool's own command line always prints it. {n} is padded with zeros to `digits` digits.
    std::string format;
    int digits = 0;
    std::string fileTitle; // what {file} prints
    // Which pages get a number; the first of them shows firstNumber, the next one more, and so on.
    PageSelection pages;
    // The font the text is drawn with, embedded as a subset of what the file's pages print; null for
    // the standard Helvetica. With a font, `format` and `fileTitle` are UTF-8.
    std::shared_ptr<const PageFont> font;
    // Makes the watch of each copy's short name; empty: nobody is told (the tool itself).
    std::function<std::unique_ptr<ShortNameWatch>()> watchShortNames;
};
