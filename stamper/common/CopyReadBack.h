#pragma once
// The copy read back against the input, both as qpdf reads them: the same pages in the same order,
// and on each page the same boxes and rotation after inheritance (or the value stated on purpose
// where viewers read the input differently), the same entries (annotations and their appearance
// streams included) with every reference followed, and resources that hold the input's values, the
// number's font and form added. A reference of the input's to an object it lacks must still name
// nothing: a new object that took its number shows as a changed entry.

#include <qpdf/QPDF.hh>

#include <string>
#include <vector>

// For an appended copy, whose update writes each page again under its own number and no page tree
// node: `pages` are the input's pages in order. The same tree (its root, its /Count, each page's
// /Parent) is the same pages in the same order, without walking either tree, which would cost as much
// as reading the input again. Empty when the copy reads as the input; otherwise the first
// difference. Beyond `maxPages` pages the first and last ones are compared: every page is written by
// the same code, and each page read from an input's object stream makes qpdf parse that whole
// stream, so pages far apart would cost a stream each.
std::string CompareCopyWithInput(QPDF& input, QPDF& copy, const std::vector<QPDFObjGen>& pages,
                                 size_t maxPages = 24);
