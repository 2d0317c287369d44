#pragma once
// Draws the page number on every page of an open document, changing nothing else the page shows.

#include "ContentScan.h"
#include "NumberDrawing.h"
#include "StampOptions.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include <string>
#include <vector>

class PageStamper {
public:
    PageStamper(QPDF& pdf, const StampOptions& options);

    // Numbers every page the options select; returns the page count.
    size_t stampAll();
    size_t numberedPages() const { return drawing_.numberedPages(); }
    // Pages whose number lies wholly outside what a viewer shows of the page.
    size_t pagesWithNumberOffPage() const { return drawing_.pagesWithNumberOffPage(); }
    static bool isTagged(QPDF& pdf);
    // Where viewers read a page of the input differently (see ViewerDisagreement.h).
    const std::vector<std::string>& warnings() const { return warnings_; }
    // Objects of the input besides the pages that numbering changed: structure elements whose marked
    // content moved into a form.
    const std::vector<QPDFObjectHandle>& changedObjects() const { return changed_; }

private:
    // `content` is the page's decoded content when content of several streams can't be vouched for
    // (it is joined into one form); `tooLarge` when that was too large to keep.
    void stampPage(QPDFPageObjectHelper& page, long long number, size_t index, const ContentScan& scan,
                   std::string& content, bool tooLarge);
    std::string addFont(QPDFPageObjectHelper& page);
    QPDFObjectHandle addEmbeddedFont(const FontSubset& font);
    // `page` counts from 1, for the warnings.
    void stateAbsentValues(QPDFPageObjectHelper& page, size_t index);
    void stateDisagreements(QPDFPageObjectHelper& page, size_t index);
    void writePageLabels(size_t pages);
    // The page's content as a form XObject named in its resources; the name, or empty when the
    // content could not be kept.
    std::string addContentForm(QPDFPageObjectHelper& page, const std::vector<QPDFObjectHandle>& streams,
                               const std::string& content, bool tooLarge);

    void pointStructureAtForm(QPDFPageObjectHelper& page, QPDFObjectHandle form);

    QPDF& pdf_;
    StampOptions options_;
    QPDFObjectHandle font_;
    QPDFObjectHandle openSave_;
    NumberDrawing drawing_;
    std::vector<std::string> warnings_;
    std::vector<QPDFObjectHandle> changed_;
};
