#pragma once
// Where a page's visible corner is and which way is up, in the page's own user space.

#include <qpdf/QPDFPageObjectHelper.hh>

#include <array>
#include <optional>

struct PageGeometry {
    // The visible area: CropBox (inherited) clipped to the MediaBox, as viewers show it.
    double llx = 0, lly = 0, urx = 612, ury = 792;
    int rotate = 0;        // 0, 90, 180 or 270, clockwise
    double userUnit = 1.0; // size of one user space unit in points

    static PageGeometry of(QPDFPageObjectHelper& page);

    // From the page's own or inherited values, each absent where the page has no usable one: a box
    // as its four numbers, /Rotate, and /UserUnit.
    using Numbers = std::array<double, 4>;
    static PageGeometry fromValues(const std::optional<Numbers>& mediaBox, const std::optional<Numbers>& cropBox,
                                   std::optional<long long> rotate, std::optional<double> userUnit);

    // The matrix a b c d e f that takes points measured from the bottom-left corner of the page as
    // displayed (x to the right, y up) to user space.
    void displayToUser(double m[6]) const;
};
