#include "ResultWarnings.h"

std::vector<std::string> ResultWarnings(const NumberPdfResult& result, const std::string& input,
                                        size_t repairsShown) {
    std::vector<std::string> lines;
    for (size_t k = 0; k < result.warnings.size() && k < repairsShown; ++k)
        lines.push_back(result.warnings[k]);
    if (result.warnings.size() > repairsShown)
        lines.push_back(std::to_string(result.warnings.size() - repairsShown) +
                        " more repairs while reading " + input);
    if (result.pagesWithNumberOffPage == result.pages)
        lines.push_back("the number lies outside the visible page on every page of " + input +
                        "; no number can be seen (check the left and bottom margins)");
    else if (result.pagesWithNumberOffPage > 0)
        lines.push_back("the number lies outside the visible page on " +
                        std::to_string(result.pagesWithNumberOffPage) + " of the " +
                        std::to_string(result.pages) + " pages of " + input +
                        " (check the left and bottom margins)");
    if (result.signatureKept)
        lines.push_back(input +
                        " is digitally signed; the signature still holds for the signed revision, and "
                        "the page numbers are a later change that it does not sign");
    if (result.signatureBroken)
        lines.push_back(input + " was digitally signed; the numbered copy's signature is no longer valid");
    return lines;
}
