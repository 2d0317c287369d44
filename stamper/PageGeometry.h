#pragma once
// Where a page's visible corner is and which way is up, in the page's own user space.

#include <qpdf/QPDFPageObjectHelper.hh>

struct PageGeometry {
    // The visible area: CropBox (inherited) clipped to the MediaBox, as viewers show it.
    double llx = 0, lly = 0, urx = 612, ury = 792;
    int rotate = 0;        // 0, 90, 180 or 270, clockwise
    double userUnit = 1.0; // size of one user space unit in points

    static PageGeometry of(QPDFPageObjectHelper& page);

    // The matrix a b c d e f that takes points measured from the bottom-left corner of the page as
    // displayed (x to the right, y up) to user space.
    void displayToUser(double m[6]) const;
};
