#pragma once
// What the numbering run hands to the numbering tool: its argument string and the two-line run
// script that starts it and then removes the working copy.

#include <QString>
#include <cstdint>

// One byte of a colour value red + 256 * green + 65536 * blue: k = 1 red, 2 green, 3 blue. -1 for
// any other k and for a value outside 0 to 0xFFFFFF.
std::int16_t ColorComponent(std::int32_t colour, int k);

// True for a character that some reader could take for the end of a line: CR, LF, VT, FF, NEL and
// the Unicode line and paragraph separators.
bool IsLineBreak(QChar c);

// text with every line break turned into a blank. An option text goes into the run script's first
// line, and the batch interpreter runs every line as a command: a break inside a pasted or stored
// text would make a command of whatever follows it. As a blank it only separates arguments, so a
// pasted "5" CR LF still numbers from 5, and "7" LF "del *" reaches the tool as unknown arguments,
// which it refuses, instead of being dropped without a word.
QString OnOneLine(QString text);

// The tool's arguments, starting with a blank. The option texts go in as typed, but on one line.
QString ToolArguments(const QString& firstNumber, const QString& fontSize, std::int32_t colour,
                      const QString& leftMargin, const QString& bottomMargin);

// The quoted tool path followed by the arguments, CR LF, then "del temp1.pdf" with no line end.
QString RunScriptText(const QString& toolPath, const QString& arguments);

// Writes text as UTF-8 with nothing added. An existing file that is neither hidden nor a folder is
// deleted first; the new file is created afresh, never through a symbolic link. Throws
// std::runtime_error when the file cannot be written.
void WriteFileText(const QString& text, const QString& path);
