#pragma once
// The pages of a document as viewers list them, whatever shape its /Pages tree is in. qpdf's own
// listing recurses once per tree level (a tree thousands of levels deep overflows the stack) and
// gives up on a loop; this walk does neither. When the tree is damaged, too deep, or yields no page
// at all, the document gets a flat tree of the pages found, which qpdf and every viewer can read.

#include <qpdf/QPDF.hh>

#include <string>

struct PageTreeRepair {
    bool mended = false; // the document's tree was replaced
    std::string reason;  // what was wrong, for a warning; empty when nothing was
};

// Call before anything asks qpdf for the pages. Throws only what qpdf throws for an unreadable
// catalog.
PageTreeRepair MendPageTree(QPDF& pdf);
