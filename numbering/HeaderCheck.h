#pragma once
// The version gate: files whose header states a version above 1.6 are refused, because the
// numbering tool cannot number them.

#include <QString>

// The start of a file as text, one character per byte (two bytes per character, little-endian, for
// a file that starts with a UTF-16 byte-order mark). Only the first nine characters are read: the
// gate needs characters 6 to 8 and whether anything follows them. A missing path gives empty text,
// a file of length 0 (or a FIFO or device, which is never opened) gives "empty file". Throws
// std::runtime_error when the file exists but cannot be read.
QString ReadFileText(const QString& path);

struct VersionVerdict {
    bool refused = false;
    QString version; // characters 6 to 8 of the text; empty when the text is too short to have them
};

// Refused when the text is longer than 8 characters and its characters 6 to 8 read as a number
// greater than 1.6.
VersionVerdict IsPdfVersionRefused(const QString& text);

// Reads a number from the start of text: blanks and tabs anywhere are passed over; then an optional
// sign, digits with at most one decimal point, and an exponent (E or D, optional sign, digits).
// Reading stops at the first other character; text that does not begin with a number reads as 0.
double LeadingNumber(const QString& text);
