#pragma once
// Judges one numbered page against its original with poppler: the number is where it was asked for
// on the page as displayed, and rendering changed no pixel outside the number's box.

#include "PdfProbe.h"

#include <QString>

struct NumberPlacement {
    QString text;
    double left = 10, bottom = 10, size = 10; // points, from the displayed bottom-left corner
    double userUnit = 1;
};

// An empty text when all is well, otherwise what is wrong.
QString CheckPageNumber(const QString& original, const QString& numbered, int page,
                        const DisplayedPage& shown, const NumberPlacement& place);
