#pragma once
// Which font a batch draws its text with: the standard Helvetica for text it can draw (nothing
// embedded), else the font --font names or, without it, fontconfig's choice of an installed font
// that has every character. Settled with the plan, before any file is touched.

#include "cli/BatchPlan.h"

#include <memory>

class PageFont;

// Null when Helvetica draws every file's text. Throws PlanRefused with the one-line reason: a font
// that is missing, unreadable, no font or damaged, or a character no font has.
std::shared_ptr<const PageFont> ChooseBatchFont(const BatchOptions& options,
                                                const std::vector<BatchFile>& files);

// Fills in `stamp`'s format, title and font for the file titled `title`: Windows-1252 bytes and no
// font where Helvetica can draw the file's text and no --font was given, UTF-8 and `font` otherwise.
void SetFileText(StampOptions& stamp, const BatchOptions& options, const QString& title,
                 const std::shared_ptr<const PageFont>& font);
