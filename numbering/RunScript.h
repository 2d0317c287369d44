#pragma once
// What the numbering run hands to the numbering tool: its argument string and the two-line run
// script that starts it and then removes the working copy.

#include <QString>
#include <cstdint>

// One byte of a colour value red + 256 * green + 65536 * blue: k = 1 red, 2 green, 3 blue. -1 for
// any other k and for a value outside 0 to 0xFFFFFF.
std::int16_t ColorComponent(std::int32_t colour, int k);

// The tool's arguments, starting with a blank. The option texts go in exactly as typed.
QString ToolArguments(const QString& firstNumber, const QString& fontSize, std::int32_t colour,
                      const QString& leftMargin, const QString& bottomMargin);

// The quoted tool path followed by the arguments, CR LF, then "del temp1.pdf" with no line end.
QString RunScriptText(const QString& toolPath, const QString& arguments);

// Writes text as UTF-8 with nothing added. An existing file that is neither hidden nor a folder is
// deleted first; the new file is created afresh, never through a symbolic link. Throws
// std::runtime_error when the file cannot be written.
void WriteFileText(const QString& text, const QString& path);
