#pragma once
// Which files a batch numbers, where each copy goes and which numbers it gets, all settled before the
// first file is written: the result then does not depend on the order files finish in, and a part
// of a batch numbers its files exactly as the whole run would.

#include "cli/BatchOptions.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

struct BatchFile {
    QString input;       // absolute
    QString output;      // absolute, under the output folder
    QString title;       // the input's name without its extension, for {file}
    long long first = 0; // the number of its first page
    // Its page count when counted beforehand (with --continue); a file that could not be counted
    // keeps the reason and is skipped.
    std::optional<size_t> pages;
    QString countFailure;
    size_t numbered = 0; // of those pages, how many the page selection numbers
};

struct BatchPlan {
    std::vector<BatchFile> files; // this part's files, in batch order
    size_t batchFiles = 0;        // in the whole batch
    // Folders of the inputs' trees that could not be read: their files are not in the batch.
    QStringList unreadableFolders;
    // The font for text Helvetica can't draw (or for all text, with --font); null: none needed.
    std::shared_ptr<const PageFont> font;
};

// Thrown for a plan that can't be made: the one-line reason, exit status 2.
struct PlanRefused {
    QString reason;
};

// The files of the inputs in order (a folder's as the window's folder add lists them), their
// outputs checked: none twice, none an input unless overwriting, none inside a file. With
// --continue, every file's pages counted (or taken from the plan file) and the numbers fixed.
// Counting ends early once `stopped` says so (the plan's numbers are then not to be used).
BatchPlan MakeBatchPlan(const BatchOptions& options, const std::function<bool()>& stopped = {});

// Writes the page counts of the whole batch to options.plan (atomically).
void WritePlanFile(const BatchOptions& options, const BatchPlan& whole);
