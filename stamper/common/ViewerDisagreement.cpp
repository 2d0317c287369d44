#include "ViewerDisagreement.h"

#include <cmath>
#include <cstdio>

namespace {

std::string writtenNumber(bool integer, double value) {
    char text[64];
    if (integer)
        std::snprintf(text, sizeof text, "%.0f", value);
    else if (value == std::floor(value) && std::abs(value) < 1e15)
        std::snprintf(text, sizeof text, "%.1f", value);
    else
        std::snprintf(text, sizeof text, "%g", value);
    return text;
}

int normalized(long long degrees) {
    degrees %= 360;
    return int(degrees < 0 ? degrees + 360 : degrees);
}

} // namespace

std::optional<StatedRotation> RotationViewersDisagreeOn(bool integer, double value, size_t page) {
    if (!std::isfinite(value))
        value = 0;
    const bool whole = value == std::floor(value) && std::abs(value) < 1e15;
    if (integer && whole && (long long)value % 90 == 0)
        return std::nullopt;
    // MuPDF: the whole part, rounded to the nearest multiple of 90.
    const int mupdf =
        normalized(90 * ((normalized((long long)std::trunc(std::abs(value) < 1e15 ? value : 0)) + 45) / 90));
    StatedRotation stated;
    stated.value = whole && (long long)value % 90 == 0 ? normalized((long long)value) : 0;
    // Both show it unrotated (-45, 10): stated all the same, for readers that take it otherwise.
    if (mupdf == 0 && stated.value == 0)
        return stated;
    const std::string written = writtenNumber(integer, value);
    stated.warning =
        "page " + std::to_string(page) + ": /Rotate " + written +
        (integer ? " is no multiple of 90" : " is no integer") +
        ": poppler shows the page unrotated, MuPDF " +
        (mupdf == 0 ? std::string("unrotated too") : "turned by " + std::to_string(mupdf) + " degrees") +
        "; the copy states /Rotate " + std::to_string(stated.value) +
        ", as the PDF reference reads it, and the number is placed for that";
    return stated;
}

std::string AbsentValueWarning(const std::string& key, size_t page) {
    return "page " + std::to_string(page) + ": its " + key +
           " is given as null (or names nothing): poppler takes the one from the page tree above, MuPDF a "
           "default; the copy states the one from the page tree, as the PDF reference reads it";
}

std::string GreyPageGroupWarning(size_t page) {
    return "page " + std::to_string(page) +
           " is a transparency group in DeviceGray: MuPDF shows the page, the number included, in grey (as "
           "the PDF reference has it), poppler shows the number in its colour";
}
