#pragma once
// Draws the page number on every page of an open document, changing nothing else the page shows.

#include "ContentReader.h"
#include "ContentScan.h"
#include "StampOptions.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include <map>
#include <string>
#include <vector>

class PageStamper {
public:
    PageStamper(QPDF& pdf, const StampOptions& options);

    // Numbers every page; returns the page count.
    size_t stampAll();
    void stampPage(QPDFPageObjectHelper& page, long long number);

private:
    std::string numberContent(QPDFPageObjectHelper& page, const std::string& fontName, long long number);
    std::string addFont(QPDFPageObjectHelper& page);
    ContentScan scanContents(QPDFObjectHandle contents, std::string* data);

    QPDF& pdf_;
    StampOptions options_;
    QPDFObjectHandle font_;
    QPDFObjectHandle openSave_;
    ContentReader reader_;
    bool tagged_ = false;
    // Pages often share content streams; their scan is the same.
    std::map<std::vector<QPDFObjGen>, ContentScan> scans_;
    std::string content_;   // reused: its capacity outlives one page
    std::string textState_; // font size, colour and place of the number: the same on every page
    double matrix_[6] = {};
    std::string matrixText_;
};
