#include "NumberCheck.h"

#include <algorithm>
#include <cmath>

QString CheckPageNumber(const QString& original, const QString& numbered, int page,
                        const DisplayedPage& shown, const NumberPlacement& place) {
    // Poppler measures in user space units; Helvetica's descender is 0.207 of the size.
    const double u = place.userUnit;
    const double x = place.left / u;
    const double yMax = shown.height - place.bottom / u + 0.207 * place.size / u;
    const double tolerance = 0.06 * place.size / u;
    const QList<PdfWord> words = PdfProbe::words(numbered, page);
    const PdfWord* found = nullptr;
    QString seen;
    for (const PdfWord& w : words) {
        if (w.text != place.text)
            continue;
        seen += QString(" (%1,%2)").arg(w.xMin).arg(w.yMax);
        if (std::abs(w.xMin - x) < tolerance && std::abs(w.yMax - yMax) < tolerance)
            found = &w;
    }
    if (found == nullptr)
        return QString("page %1: no %2 at (%3,%4) on a %5x%6 page rotated %7; seen%8")
            .arg(page)
            .arg(place.text)
            .arg(x)
            .arg(yMax)
            .arg(shown.width)
            .arg(shown.height)
            .arg(shown.rotate)
            .arg(seen);

    // Low resolution, but at least 100 pixels across a tiny page.
    const int dpi = std::clamp(int(7200 / std::min(shown.width, shown.height)), 36, 14400);
    const double s = dpi / 72.0;
    QString renderErrors;
    const Raster a = PdfProbe::render(original, page, dpi, &renderErrors);
    const Raster b = PdfProbe::render(numbered, page, dpi);
    if (!a.valid() || !b.valid())
        return QString("page %1 does not render: %2").arg(page).arg(renderErrors);
    if (a.width != b.width || a.height != b.height)
        return QString("page %1 renders %2x%3 instead of %4x%5")
            .arg(page)
            .arg(b.width)
            .arg(b.height)
            .arg(a.width)
            .arg(a.height);
    const int x0 = int(std::floor(found->xMin * s)) - 2, x1 = int(std::ceil(found->xMax * s)) + 2;
    const int y0 = int(std::floor(found->yMin * s)) - 2, y1 = int(std::ceil(found->yMax * s)) + 2;
    int inside = 0, outside = 0;
    QString firstOutside;
    for (int y = 0; y < a.height; ++y)
        for (int xx = 0; xx < a.width; ++xx) {
            if (std::equal(a.pixel(xx, y), a.pixel(xx, y) + 3, b.pixel(xx, y)))
                continue;
            if (xx >= x0 && xx <= x1 && y >= y0 && y <= y1)
                ++inside;
            else if (outside++ == 0)
                firstOutside = QString("%1,%2").arg(xx).arg(y);
        }
    if (outside > 0)
        return QString("page %1: %2 pixels changed outside the number, first at %3")
            .arg(page)
            .arg(outside)
            .arg(firstOutside);
    if (inside == 0)
        return QString("page %1: the number does not show").arg(page);
    return {};
}
