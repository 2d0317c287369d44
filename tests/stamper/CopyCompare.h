#pragma once
// Two numbered copies of one input compared as a viewer would read them, with qpdf and the C++
// library only (the fuzz target uses it too): the same page count and, page by page, the same boxes
// and rotation after inheritance, the same resources and page entries with every reference
// followed, and the same content, the number's own stream included. Object numbers, the order of
// keys and how a number was written do not count.

#include <qpdf/QPDF.hh>

#include <string>

// Empty when the copies agree; otherwise the first difference found. Pages beyond `maxPages` are
// sampled (the first and the last ones).
std::string CompareNumberedCopies(QPDF& a, QPDF& b, size_t maxPages = 64);
