#pragma once
// Where a page's visible corner is and which way is up, in the page's own user space.

#include "StampOptions.h"

#include <qpdf/QPDFPageObjectHelper.hh>

#include <array>
#include <optional>

struct PageGeometry {
    // The visible area: CropBox (inherited) clipped to the MediaBox, as viewers show it.
    double llx = 0, lly = 0, urx = 612, ury = 792;
    int rotate = 0;        // 0, 90, 180 or 270, clockwise
    double userUnit = 1.0; // size of one user space unit in points
    // The media box (or what viewers assume without one), and the page's own /TrimBox, /BleedBox and
    // /ArtBox where it has a usable one (none of them is inherited).
    double mediaLlx = 0, mediaLly = 0, mediaUrx = 612, mediaUry = 792;
    using Numbers = std::array<double, 4>;
    std::optional<Numbers> trimBox, bleedBox, artBox;

    static PageGeometry of(QPDFPageObjectHelper& page);

    // From the page's own or inherited values, each absent where the page has no usable one: a box
    // as its four numbers, /Rotate, and /UserUnit.
    static PageGeometry fromValues(const std::optional<Numbers>& mediaBox, const std::optional<Numbers>& cropBox,
                                   std::optional<long long> rotate, std::optional<double> userUnit);

    // The matrix a b c d e f that takes points measured from the bottom-left corner of the page as
    // displayed (x to the right, y up) to user space.
    void displayToUser(double m[6]) const;

    // The rectangle of `box` in those displayed points: x0 y0 the bottom-left, x1 y1 the top-right
    // corner as shown. A box the page lacks falls back as the PDF reference says: trim, bleed and
    // art to the crop box, the crop box to the media box; each is clipped to the media box.
    struct Area {
        double x0, y0, x1, y1;
    };
    Area shownArea(PlacementBox box) const;
    // The size of the visible page as displayed, in points.
    double shownWidth() const;
    double shownHeight() const;
};
