#pragma once
// The numbered pages written as an incremental update: the input's bytes stay as they are and the
// changed page dictionaries, the new content streams and font, and a cross-reference section that
// points back at the input's last one are appended after them. This copies instead of re-serialising
// the file, keeps every earlier revision intact (a digital signature still holds for the revision it
// signed) and makes the copy grow by what was added and no more.
//
// A linearized input stops being linearized: its first-page tables no longer describe the whole file,
// and readers notice from the file length in its linearization dictionary.

#include "UpdateEncryption.h"
#include "XrefSection.h"

#include <qpdf/Pipeline.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <functional>
#include <string>
#include <vector>

// Makes the objects qpdf creates from now on take numbers from the trailer's /Size up, as an
// update's new objects are numbered (qpdf itself numbers them above every number the file defines
// or references, which keeps a reference to a missing object from coming to mean a new one).
void NumberNewObjectsFromSize(QPDF& pdf);

class IncrementalUpdate {
public:
    // `pdf` has been read from an input of `inputSize` bytes without repairs, and its pages numbered.
    // `revisionId` names the new revision (see RevisionId).
    // `catalogChanged`: numbering changed the catalog (its page labels); it is written again.
    IncrementalUpdate(QPDF& pdf, long long inputSize, const InputReader& readInput, std::string revisionId,
                      bool catalogChanged = false);

    // Empty when the update can be written; otherwise why not (the whole file is rewritten then).
    const std::string& unsupported() const { return unsupported_; }

    // Writes the update to `out`, which holds exactly the input's bytes so far.
    void write(Pipeline& out);

    // Throws std::runtime_error unless `copy`, the written file as qpdf reads it, needed no repair to
    // read, finds every written object where it was written, and holds the objects it parses as they
    // are in memory. Up to kFullCheck objects all are parsed; beyond, a spread of them (all made by
    // the same code), since parsing all would cost as much as reading the whole input again.
    void checkReadBack(QPDF& copy) const;
    static constexpr size_t kFullCheck = 2048;

    // Objects the update holds, its cross-reference stream not counted.
    size_t objectCount() const { return objects_.size(); }

private:
    using Entry = XrefEntry;

    void collectObjects();
    bool catalogChanged_ = false;
    // File: as written, strings encrypted, keys whose values are null (directly or through a missing
    // object) left out. Memory: the same unencrypted, to compare with the copy. Copy: never resolves
    // a reference, so that checking the copy reads nothing but the written objects.
    enum class Form { File, Memory, Copy };
    void serialize(QPDFObjectHandle h, QPDFObjGen owner, std::string& out, int depth,
                   Form form = Form::File) const;
    void serializeObject(QPDFObjectHandle& h, std::string& out) const;
    std::string trailerEntries(long long size) const;
    void writeTable(std::string& out, const std::vector<Entry>& entries, long long at) const;
    void writeStream(std::string& out, std::vector<Entry>& entries, long long at) const;

    QPDF& pdf_;
    UpdateEncryption encryption_;
    std::string unsupported_;
    long long inputSize_ = 0;
    LastSection last_;
    int maxOriginal_ = 0;                   // highest object number the input defines
    std::vector<QPDFObjectHandle> objects_; // written, by object number
    std::vector<Entry> written_;            // where `write` put them (and the cross-reference stream)
    std::string newId_;                     // second element of the copy's /ID
};
