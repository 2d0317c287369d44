#pragma once
// One whole run of the tool: read IN, number its pages, write OUT as an unnamed file in OUT's folder
// that gets its name only when complete, so OUT is either complete or untouched. IN is only read.

#include "StampOptions.h"

#include <string>
#include <string_view>
#include <vector>

struct NumberPdfResult {
    size_t pages = 0;
    // What had to be repaired while reading, and where viewers read the input differently (each
    // naming the page and what each viewer does).
    std::vector<std::string> warnings;
    // The file was damaged (qpdf repaired it, our recovery rebuilt its cross-references, or its page
    // tree was mended): its copy must be written whole, not as an update of the damaged file.
    bool neededRepair = false;
    bool appended = false;             // OUT is IN's bytes followed by an incremental update
    bool signatureBroken = false;      // IN was digitally signed and OUT was rewritten: the signature is lost
    bool signatureKept = false;        // IN was digitally signed; its signature still holds for that revision
    // IN is certified (a DocMDP signature) with these permissions, 1 to 3, or 0: no certification.
    // Every level forbids changing what pages show, so the numbers break the certification.
    int certification = 0;
    size_t pagesWithNumberOffPage = 0; // pages on which no part of the number can be seen
    bool quickWay = false;             // numbered the quick way (straight from the file's bytes)
    // An appended copy that did not read back as written, the copy then made another way: what
    // differed. A fault of the writer, which the fuzz target looks for.
    std::string readBackFailure;
    // Why the quick way did not take the file (empty when it did, or was not tried).
    std::string quickRefusal;
};

// Quickest: a file that reads cleanly is numbered straight from its bytes (CleanFileUpdate), any
// other through qpdf's model of the document. QpdfOnly: every file through qpdf, for comparing.
enum class NumberingWay { Quickest, QpdfOnly };

// Throws StampError with a one-line message; no file is left behind then. leaveDocumentToExit is for
// a caller that exits right after: the read document is then not freed.
NumberPdfResult NumberPdfFile(const StampOptions& options, bool leaveDocumentToExit = false,
                              NumberingWay way = NumberingWay::Quickest);

// The engine's entry for a file held in memory (the fuzz target and any caller that has the bytes):
// numbered as NumberPdfFile numbers a file, the copy returned instead of written. options.input
// only names the input in messages; options.output is not used.
struct NumberedBytes {
    std::string copy;
    NumberPdfResult result;
};
NumberedBytes NumberPdfBytes(std::string_view input, const StampOptions& options,
                             NumberingWay way = NumberingWay::Quickest);

// The number of pages NumberPdfFile would number in the file at `path`, found the quick way where the
// file allows (a fraction of numbering's time). Throws StampError with a one-line message when the
// file can't be read or has no pages.
size_t CountPdfPages(const std::string& path);

// Removes the temporary files of the copies being written (several when files are numbered side by
// side); safe to call from a signal handler.
void RemovePendingOutput();
