#pragma once
// The pieces of an incremental update that do not depend on how the input was read: finding the
// input's last cross-reference section, and writing the update's own section after its objects.

#include "StampOptions.h"

#include <qpdf/QPDF.hh>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Reads `length` bytes of the input from `offset` (fewer at its end).
using InputReader = std::function<std::string(long long offset, size_t length)>;

struct LastSection {
    long long offset = -1; // of the input's last cross-reference section
    bool isStream = false; // a cross-reference stream rather than a table
    bool needsNewline = false; // the input does not end with an end of line
    std::string unsupported;   // why no update can follow the input; empty when one can
};

// True when the file starts with a header qpdf takes for one ("%PDF-" and its version).
bool StartsWithPdfHeader(std::string_view head);

// Found as readers find it: through the last "startxref" near the end of the input.
LastSection FindLastSection(long long inputSize, const InputReader& readInput);

// The highest object number readers take (MuPDF refuses any above, Acrobat's limit too): an update
// numbers its new objects at or below it.
constexpr long long kMaxObjectNumber = 8'388'607;

struct XrefEntry {
    int number = 0;
    int generation = 0;
    long long offset = 0;
};

// A table and its trailer, at `start` in the file; `entries` in ascending object number.
void AppendXrefTable(std::string& out, const std::vector<XrefEntry>& entries, long long start,
                     const std::string& trailerEntries);

// A cross-reference stream numbered `number` at `start`, listing `entries` and itself (added to
// `entries`). `trailerEntries` must give /Size as number + 1.
void AppendXrefStream(std::string& out, std::vector<XrefEntry>& entries, long long start, long long number,
                      const std::string& trailerEntries);

// "<hex>" for a string's bytes.
std::string HexString(const std::string& bytes);

// 16 bytes naming the numbered revision (the second element of /ID), derived from the input (its
// size, its first and last 64 KB) and what is printed, as the PDF reference suggests: the same file
// numbered the same way gets the same bytes, on any machine, in any part of a batch.
std::string RevisionId(std::string_view input, const StampOptions& options);
// The same for the first `size` bytes of the open file `fd`.
std::string RevisionIdOfFile(int fd, long long size, const StampOptions& options);

// The read-back of a copy with an update, as qpdf reads it: throws std::runtime_error unless the
// copy's catalog is still `root` and every object in `written` lies where it was written.
void CheckWrittenWhere(QPDF& copy, QPDFObjGen root, const std::vector<XrefEntry>& written);
// Throws std::runtime_error when qpdf had to repair anything to read what it read of `copy`.
void CheckReadWithoutRepair(QPDF& copy);
