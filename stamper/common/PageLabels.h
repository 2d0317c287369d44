#pragma once
// The copy's /PageLabels, so that a viewer's page box shows on each numbered page the text printed
// on it: a run of pages whose texts are one prefix and consecutive numbers in one style becomes one
// label range, any other page a range of its own with the whole text as its prefix. Unnumbered pages
// keep the label they had (or their plain page number).

#include <optional>
#include <string>
#include <vector>

struct PageLabelPage {
    bool numbered = false;
    std::string text; // numbered: the printed text, in Windows-1252 bytes
    // Unnumbered: the label range the page lies in as the input has it, as entries of a label
    // dictionary without /St ("/S /r /P (x)", or empty for a prefix alone), and the number the page
    // shows in it; nothing where the input has no labels (the page then shows its page number).
    std::optional<std::string> original;
    long long originalStart = 1;
};

// The /PageLabels number tree, "<< /Nums [0 << ... >> ...] >>".
std::string PageLabelTree(const std::vector<PageLabelPage>& pages);

// The canonical text of `value` in a label style ('D', 'r', 'R', 'a', 'A'), as viewers print it.
std::string LabelNumeral(char style, long long value);
