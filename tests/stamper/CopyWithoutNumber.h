#pragma once
// For inputs whose pages poppler can't show by themselves (a page tree that loops or is gone): the
// numbered copy with the stream that draws the number (the last of each page's contents) taken out,
// written by qpdf's library, serves as the original to compare pixels with.

#include <QString>

bool WriteCopyWithoutNumber(const QString& numbered, const QString& path);
