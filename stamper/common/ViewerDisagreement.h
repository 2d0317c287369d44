#pragma once
// Page values that poppler and MuPDF read differently in the input itself, where no copy can show
// the page as both showed it: the copy states what the PDF reference reads, and a warning names the
// page and what each viewer does. Both ways ask here, so both state and say the same.

#include <optional>
#include <string>

struct StatedRotation {
    int value = 0;       // what the copy states: 0, 90, 180 or 270
    std::string warning; // empty where both viewers show the page alike after all
};

// A /Rotate that is a real (`integer` false) or an integer that is no multiple of 90: poppler shows
// such a page unrotated, MuPDF turns it by the value's whole part rounded to a multiple of 90. The
// PDF reference takes a multiple of 90 only; a real of such a value is read as that integer, any
// other value as none (0). Nothing when the value is a multiple of 90. `page` counts from 1.
std::optional<StatedRotation> RotationViewersDisagreeOn(bool integer, double value, size_t page);

// A box or rotation (`key`, "/MediaBox") that the page or the nearest node above gives as null or as
// a reference to null or to a missing object: poppler and qpdf take the value from further up the
// tree, MuPDF a default. The copy states the inherited value.
std::string AbsentValueWarning(const std::string& key, size_t page);

// A page group in DeviceGray (/Group << /S /Transparency /CS /DeviceGray >>): MuPDF composites the
// page, the number included, in grey, as the PDF reference has it; poppler draws the number in its
// colour.
std::string GreyPageGroupWarning(size_t page);
