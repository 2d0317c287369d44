#pragma once
// The quick way to number a well-formed file: its pages are found and numbered straight from its
// bytes (CleanPdf), without building qpdf's model of the whole document, and the change is written
// as an incremental update of the same form as IncrementalUpdate's: every page dictionary again with
// its own /Resources (the font added) and a longer /Contents, the font, a shared "q" stream and one
// stream per page that draws the number, then a cross-reference section of the input's kind.
//
// It takes only files it reads without a doubt. Throwing NotClean is the normal way to say "not this
// one" (encryption, a page tree out of the ordinary, content with stray restores, a filter other
// than Flate...): such a file goes the qpdf way, which repairs, mends and decodes what it must.
// A linearized input stops being linearized, as there.

#include "CleanPdf.h"
#include "StampOptions.h"
#include "XrefSection.h"

#include <qpdf/QPDF.hh>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class CleanFileUpdate {
public:
    // Reads `input` (which must outlive this object) and makes the update; throws NotClean.
    CleanFileUpdate(std::string_view input, const StampOptions& options);

    // The bytes to write after the input's.
    const std::string& text() const { return text_; }
    size_t pages() const { return pages_; }
    size_t pagesWithNumberOffPage() const { return offPage_; }
    // The input carries a digital signature (its form's /SigFlags say so), which the update keeps.
    bool isSigned() const { return signed_; }
    // The input's certification's permissions (1 to 3), 0 when it is not certified.
    int certification() const { return certification_; }
    // Where viewers read a page of the input differently (see ViewerDisagreement.h).
    const std::vector<std::string>& warnings() const { return warnings_; }

    // Throws std::runtime_error unless `copy`, the input and the update as qpdf reads them, needed no
    // repair, finds every written object where it was written, and parses what it was written as.
    // Every object's offset is checked. Up to kFullCheck objects all are compared too; beyond, the
    // first and last of each kind and a spread between: the page dictionaries are the input's own
    // entries written again with two replaced, the new objects come from the same few lines, and
    // comparing every one through qpdf would take a third of the run.
    void checkReadBack(QPDF& copy) const;
    static constexpr size_t kFullCheck = 128;

private:
    struct Written {
        XrefEntry entry;
        size_t dictionary = 0, dictionaryLength = 0; // in text_
        size_t data = 0, dataLength = 0;             // a stream's, in text_
        bool isStream = false;
    };
    struct Page;
    struct Inherited;

    class ScanQueue;

    // Every page in order to `scans`, its dictionary written.
    void walkPages(CleanPdf& pdf, const PdfValue& catalog, ScanQueue& scans);
    static Inherited inherit(CleanPdf& pdf, const PdfValue& dict, Inherited from);
    std::unique_ptr<Page> page(CleanPdf& pdf, const PdfObject& object, const Inherited& values, size_t index);
    int numberStream(size_t page) const { return font_ + 2 + int(page); }
    void writeObject(int number, int generation, std::string_view dictionary,
                     std::optional<std::string_view> data = std::nullopt);
    void writeStream(int number, std::string_view data);
    std::string trailerEntries(const PdfValue& trailer, long long size) const;

    long long inputSize_ = 0;
    std::string text_;
    std::vector<Written> written_;
    int root_ = 0, rootGeneration_ = 0;
    int font_ = 0; // the first new object's number
    size_t pages_ = 0, offPage_ = 0;
    bool signed_ = false;
    int certification_ = 0;
    std::vector<std::string> warnings_;
    LastSection last_;
    std::string revisionId_;
};
