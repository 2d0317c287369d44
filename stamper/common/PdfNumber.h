#pragma once
// The shortest decimal text of a number in PDF syntax (no exponent), to a given number of decimals.

#include <cmath>
#include <cstdio>
#include <string>

inline std::string PdfNumber(double v, int decimals) {
    if (std::fabs(v) < 0.5 * std::pow(10.0, -decimals))
        return "0";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    std::string s(buf);
    while (s.back() == '0')
        s.pop_back();
    if (s.back() == '.')
        s.pop_back();
    return s;
}
