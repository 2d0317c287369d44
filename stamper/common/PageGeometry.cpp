#include "PageGeometry.h"

#include <algorithm>
#include <cmath>

namespace {

struct Box {
    double llx, lly, urx, ury;
    bool valid = false;
};

std::optional<PageGeometry::Numbers> readNumbers(QPDFObjectHandle array) {
    if (!array.isArray() || array.getArrayNItems() != 4)
        return std::nullopt;
    PageGeometry::Numbers v;
    for (int k = 0; k < 4; ++k) {
        QPDFObjectHandle item = array.getArrayItem(k);
        if (!item.isNumber())
            return std::nullopt;
        v[k] = item.getNumericValue();
    }
    return v;
}

Box readBox(const std::optional<PageGeometry::Numbers>& numbers) {
    Box b{0, 0, 0, 0};
    if (!numbers)
        return b;
    const PageGeometry::Numbers& v = *numbers;
    for (double x : v)
        if (!std::isfinite(x))
            return b;
    b.llx = std::min(v[0], v[2]);
    b.urx = std::max(v[0], v[2]);
    b.lly = std::min(v[1], v[3]);
    b.ury = std::max(v[1], v[3]);
    b.valid = b.urx > b.llx && b.ury > b.lly;
    return b;
}

// The page's own value of an inheritable key, or the nearest ancestor's. QPDFPageObjectHelper::getAttribute
// finds the same, but builds a described null object for every level that lacks the key, which made
// this the costliest part of placing the number. The depth limit stands in for loop detection.
QPDFObjectHandle inherited(QPDFObjectHandle node, const std::string& key) {
    static const std::string parent = "/Parent";
    for (int depth = 0; depth < 1000 && node.isDictionary(); ++depth) {
        if (node.hasKey(key))
            return node.getKey(key);
        if (!node.hasKey(parent))
            break;
        node = node.getKey(parent);
    }
    return QPDFObjectHandle::newNull();
}

} // namespace

PageGeometry PageGeometry::of(QPDFPageObjectHelper& page) {
    static const std::string kMediaBox = "/MediaBox", kCropBox = "/CropBox", kRotate = "/Rotate";
    QPDFObjectHandle dict = page.getObjectHandle();
    QPDFObjectHandle rotate = inherited(dict, kRotate);
    QPDFObjectHandle unit = dict.getKey("/UserUnit");
    PageGeometry g =
        fromValues(readNumbers(inherited(dict, kMediaBox)), readNumbers(inherited(dict, kCropBox)),
                   rotate.isInteger() ? std::optional<long long>(rotate.getIntValue()) : std::nullopt,
                   unit.isNumber() ? std::optional<double>(unit.getNumericValue()) : std::nullopt);
    g.trimBox = readNumbers(dict.getKey("/TrimBox"));
    g.bleedBox = readNumbers(dict.getKey("/BleedBox"));
    g.artBox = readNumbers(dict.getKey("/ArtBox"));
    return g;
}

PageGeometry PageGeometry::fromValues(const std::optional<Numbers>& mediaBox, const std::optional<Numbers>& cropBox,
                                      std::optional<long long> rotate, std::optional<double> userUnit) {
    PageGeometry g;
    Box media = readBox(mediaBox);
    if (!media.valid)
        media = Box{0, 0, 612, 792, true}; // what viewers assume for a page without a usable MediaBox
    Box crop = readBox(cropBox);
    if (crop.valid) {
        crop.llx = std::max(crop.llx, media.llx);
        crop.lly = std::max(crop.lly, media.lly);
        crop.urx = std::min(crop.urx, media.urx);
        crop.ury = std::min(crop.ury, media.ury);
        crop.valid = crop.urx > crop.llx && crop.ury > crop.lly;
    }
    const Box& shown = crop.valid ? crop : media;
    g.mediaLlx = media.llx;
    g.mediaLly = media.lly;
    g.mediaUrx = media.urx;
    g.mediaUry = media.ury;
    g.llx = shown.llx;
    g.lly = shown.lly;
    g.urx = shown.urx;
    g.ury = shown.ury;
    if (rotate) {
        long long r = *rotate % 360;
        if (r < 0)
            r += 360;
        g.rotate = int(r - r % 90);
    }
    if (userUnit && std::isfinite(*userUnit) && *userUnit > 0)
        g.userUnit = *userUnit;
    return g;
}

void PageGeometry::displayToUser(double m[6]) const {
    const double s = 1.0 / userUnit;
    double a, b, c, d, e, f;
    switch (rotate) {
    case 90: // displayed right is user up; the displayed bottom-left corner is user bottom-right
        a = 0, b = 1, c = -1, d = 0, e = urx, f = lly;
        break;
    case 180:
        a = -1, b = 0, c = 0, d = -1, e = urx, f = ury;
        break;
    case 270:
        a = 0, b = -1, c = 1, d = 0, e = llx, f = ury;
        break;
    default:
        a = 1, b = 0, c = 0, d = 1, e = llx, f = lly;
        break;
    }
    m[0] = a * s;
    m[1] = b * s;
    m[2] = c * s;
    m[3] = d * s;
    m[4] = e;
    m[5] = f;
}

PageGeometry::Area PageGeometry::shownArea(PlacementBox which) const {
    Box box{llx, lly, urx, ury, true}; // the crop box, already clipped and fallen back
    if (which == PlacementBox::Media) {
        box = Box{mediaLlx, mediaLly, mediaUrx, mediaUry, true};
    } else if (which != PlacementBox::Crop) {
        const std::optional<Numbers>& own = which == PlacementBox::Trim    ? trimBox
                                            : which == PlacementBox::Bleed ? bleedBox
                                                                           : artBox;
        Box b = readBox(own);
        if (b.valid) {
            b.llx = std::max(b.llx, mediaLlx);
            b.lly = std::max(b.lly, mediaLly);
            b.urx = std::min(b.urx, mediaUrx);
            b.ury = std::min(b.ury, mediaUry);
            if (b.urx > b.llx && b.ury > b.lly)
                box = b;
        }
    }
    // User space to displayed points: the inverse of displayToUser, whose 2x2 part is a turn times 1/unit.
    double m[6];
    displayToUser(m);
    const double s2 = m[0] * m[0] + m[1] * m[1];
    const auto shown = [&](double ux, double uy, double& dx, double& dy) {
        dx = (m[0] * (ux - m[4]) + m[1] * (uy - m[5])) / s2;
        dy = (m[2] * (ux - m[4]) + m[3] * (uy - m[5])) / s2;
    };
    double ax, ay, bx, by;
    shown(box.llx, box.lly, ax, ay);
    shown(box.urx, box.ury, bx, by);
    return Area{std::min(ax, bx), std::min(ay, by), std::max(ax, bx), std::max(ay, by)};
}

double PageGeometry::shownWidth() const {
    return (rotate == 90 || rotate == 270 ? ury - lly : urx - llx) * userUnit;
}

double PageGeometry::shownHeight() const {
    return (rotate == 90 || rotate == 270 ? urx - llx : ury - lly) * userUnit;
}
