#include "IncrementalUpdate.h"

#include <qpdf/Buffer.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QUtil.hh>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <stdexcept>

namespace {

// Deeper than qpdf's own reader lets any object nest; such a structure is not written by hand.
constexpr int kMaxDepth = 600;

std::string reference(QPDFObjGen og) {
    return std::to_string(og.getObj()) + " " + std::to_string(og.getGen()) + " R";
}

std::string bufferText(const std::shared_ptr<Buffer>& buffer) {
    return std::string(reinterpret_cast<const char*>(buffer->getBuffer()), buffer->getSize());
}

} // namespace

void NumberNewObjectsFromSize(QPDF& pdf) {
    QPDFObjectHandle size = pdf.getTrailer().getKey("/Size");
    // Beyond the numbers readers take the copy is rewritten, which numbers every object afresh.
    if (!size.isInteger() || size.getIntValue() < 2 || size.getIntValue() > kMaxObjectNumber + 1)
        return;
    // The number below it taken (as a null, which no copy writes, where the file lacks it); asking
    // for the object count instead would read every object now, before the content scans start.
    (void)pdf.getObject(int(size.getIntValue()) - 1, 0);
}

IncrementalUpdate::IncrementalUpdate(QPDF& pdf, long long inputSize, const InputReader& readInput,
                                     std::string revisionId, bool catalogChanged)
    : pdf_(pdf)
    , encryption_(pdf)
    , inputSize_(inputSize)
    , newId_(std::move(revisionId)) {
    catalogChanged_ = catalogChanged;
    if (!encryption_.unsupported().empty()) {
        unsupported_ = "encrypted with " + encryption_.unsupported();
        return;
    }
    last_ = FindLastSection(inputSize, readInput);
    if (!last_.unsupported.empty()) {
        unsupported_ = last_.unsupported;
        return;
    }
    QPDFObjectHandle trailer = pdf_.getTrailer();
    if (!trailer.getKey("/Root").isIndirect()) {
        unsupported_ = "the catalog is not an indirect object";
        return;
    }
    if (trailer.hasKey("/Info") && !trailer.getKey("/Info").isIndirect() &&
        !trailer.getKey("/Info").isNull()) {
        unsupported_ = "the document information is not an indirect object";
        return;
    }
    // poppler refuses a cross-reference stream whose /Size is beyond the object numbers readers take
    // (and MuPDF repairs such a table): a rewrite gives the copy a /Size they read.
    if (QPDFObjectHandle size = trailer.getKey("/Size"); size.isInteger() && size.getIntValue() > kMaxObjectNumber + 1) {
        unsupported_ = "a /Size beyond the object numbers readers take";
        return;
    }
    for (auto& [og, entry] : pdf_.getXRefTable())
        maxOriginal_ = std::max(maxOriginal_, og.getObj());
    collectObjects();
}

void IncrementalUpdate::collectObjects() {
    // What numbering changes: every page dictionary (its /Contents and its own /Resources, which
    // qpdf copies into the page before it changes them). Resources or font dictionaries that are
    // indirect are taken too, should a page ever be numbered through them.
    std::map<QPDFObjGen, QPDFObjectHandle> chosen;
    if (catalogChanged_)
        chosen.emplace(pdf_.getRoot().getObjGen(), pdf_.getRoot());
    for (auto& page : QPDFPageDocumentHelper(pdf_).getAllPages()) {
        QPDFObjectHandle dict = page.getObjectHandle();
        chosen.emplace(dict.getObjGen(), dict);
        QPDFObjectHandle resources = dict.getKey("/Resources");
        if (resources.isIndirect() && resources.isDictionary()) {
            chosen.emplace(resources.getObjGen(), resources);
            QPDFObjectHandle fonts = resources.getKey("/Font");
            if (fonts.isIndirect() && fonts.isDictionary())
                chosen.emplace(fonts.getObjGen(), fonts);
        }
    }
    // Then every object made since the input was read (numbers above the input's are new; qpdf
    // holds every object it knows once the first one was made).
    for (auto& h : pdf_.getAllObjects())
        if (h.getObjGen().getObj() > maxOriginal_ && !h.isNull())
            chosen.emplace(h.getObjGen(), h);
    if (chosen.empty())
        unsupported_ = "nothing to write";
    // qpdf numbers new objects after every number the file uses or references; readers refuse
    // numbers above kMaxObjectNumber, and a rewrite numbers every object afresh.
    // (The +1: a cross-reference stream of its own.)
    if (std::max<long long>((long long)pdf_.getObjectCount(), chosen.empty() ? 0 : chosen.rbegin()->first.getObj()) +
            1 > kMaxObjectNumber) {
        unsupported_ = "object numbers beyond the highest a reader takes";
        return;
    }
    for (auto& [og, h] : chosen) {
        if (h.isStream() && og.getObj() <= maxOriginal_) {
            // Never the case for what numbering changes; such a stream would need its data re-read.
            unsupported_ = "a changed stream of the input";
            return;
        }
        objects_.push_back(h);
    }
}

void IncrementalUpdate::serialize(QPDFObjectHandle h, QPDFObjGen owner, std::string& out, int depth,
                                  Form form) const {
    if (depth > kMaxDepth)
        throw std::runtime_error("objects nested too deeply to write");
    if (depth > 0 && h.isIndirect()) {
        out += reference(h.getObjGen());
    } else if (h.isArray()) {
        out += '[';
        bool first = true;
        for (auto& item : h.getArrayAsVector()) {
            if (!first)
                out += ' ';
            first = false;
            serialize(item, owner, out, depth + 1, form);
        }
        out += ']';
    } else if (h.isDictionary()) {
        out += "<<";
        for (auto& [key, value] : h.getDictAsMap()) {
            // A null value is an absent key, as qpdf's own writer has it.
            if (form == Form::Copy ? !value.isIndirect() && value.isNull() : value.isNull())
                continue;
            out += ' ';
            out += QPDFObjectHandle::newName(key).unparse();
            out += ' ';
            serialize(value, owner, out, depth + 1, form);
        }
        out += " >>";
    } else if (h.isString() && encryption_.active() && form == Form::File) {
        // Strings are stored encrypted with the key of the object holding them.
        out += HexString(encryption_.encryptString(h.getStringValue(), owner));
    } else if (h.isStream() || h.isReserved() || !h.isInitialized()) {
        throw std::runtime_error("an object that cannot be written in place");
    } else {
        out += h.unparse();
    }
}

void IncrementalUpdate::serializeObject(QPDFObjectHandle& h, std::string& out) const {
    const QPDFObjGen og = h.getObjGen();
    out += std::to_string(og.getObj()) + " " + std::to_string(og.getGen()) + " obj\n";
    if (!h.isStream()) {
        serialize(h, og, out, 0);
        out += "\nendobj\n";
        return;
    }
    std::string data = bufferText(h.getRawStreamData());
    if (encryption_.active())
        data = encryption_.encryptStream(data, og);
    QPDFObjectHandle dict = h.getDict().shallowCopy();
    dict.removeKey("/Length");
    serialize(dict, og, out, 1);
    out.resize(out.size() - 2); // reopen the dictionary for its length
    out += "/Length " + std::to_string(data.size()) + " >>\nstream\n";
    out += data;
    out += "\nendstream\nendobj\n";
}

std::string IncrementalUpdate::trailerEntries(long long size) const {
    QPDFObjectHandle trailer = pdf_.getTrailer();
    std::string s = " /Size " + std::to_string(size) + " /Prev " + std::to_string(last_.offset);
    s += " /Root " + reference(trailer.getKey("/Root").getObjGen());
    QPDFObjectHandle info = trailer.getKey("/Info");
    if (info.isIndirect())
        s += " /Info " + reference(info.getObjGen());
    QPDFObjectHandle encrypt = trailer.getKey("/Encrypt");
    if (encrypt.isIndirect())
        s += " /Encrypt " + reference(encrypt.getObjGen());
    else if (encrypt.isDictionary())
        s += " /Encrypt " + encrypt.unparse();
    // The first element names the document and stays (an encrypted file's key depends on it); the
    // second names this revision.
    QPDFObjectHandle id = trailer.getKey("/ID");
    if (id.isArray() && id.getArrayNItems() >= 1 && id.getArrayItem(0).isString())
        s += " /ID [" + HexString(id.getArrayItem(0).getStringValue()) + HexString(newId_) + "]";
    else if (!encryption_.active())
        s += " /ID [" + HexString(newId_) + HexString(newId_) + "]";
    return s;
}

void IncrementalUpdate::write(Pipeline& out) {
    if (!unsupported_.empty())
        throw std::logic_error("writing an update that cannot be written: " + unsupported_);
    std::string text;
    long long at = inputSize_;
    if (last_.needsNewline)
        text += '\n';
    std::vector<Entry> entries;
    entries.reserve(objects_.size() + 1);
    for (auto& h : objects_) {
        entries.push_back({h.getObjGen().getObj(), h.getObjGen().getGen(), at + (long long)text.size()});
        serializeObject(h, text);
        if (text.size() >= (1 << 20)) {
            out.write(reinterpret_cast<const unsigned char*>(text.data()), text.size());
            at += (long long)text.size();
            text.clear();
        }
    }
    // A cross-reference section of the kind the input ended with: a reader that understands the
    // input understands the copy.
    if (last_.isStream)
        writeStream(text, entries, at);
    else
        writeTable(text, entries, at);
    written_ = entries;
    out.write(reinterpret_cast<const unsigned char*>(text.data()), text.size());
    out.finish();
}

// /Size is one above the highest number in use: the input's own /Size may be far above (readers take
// that from the input but not the numbers).
void IncrementalUpdate::writeTable(std::string& out, const std::vector<Entry>& entries, long long at) const {
    long long size = maxOriginal_ + 1;
    if (!entries.empty())
        size = std::max<long long>(size, entries.back().number + 1);
    AppendXrefTable(out, entries, at + (long long)out.size(), trailerEntries(size));
}

void IncrementalUpdate::writeStream(std::string& out, std::vector<Entry>& entries, long long at) const {
    // Its own number comes after every object qpdf knows of, referenced or not.
    long long number = std::max<long long>((long long)pdf_.getObjectCount(), maxOriginal_);
    if (!entries.empty())
        number = std::max<long long>(number, entries.back().number);
    ++number;
    AppendXrefStream(out, entries, at + (long long)out.size(), number, trailerEntries(number + 1));
}

void IncrementalUpdate::checkReadBack(QPDF& copy) const {
    CheckWrittenWhere(copy, pdf_.getTrailer().getKey("/Root").getObjGen(), written_);
    // Written objects compared as qpdf reads them back (decrypted) with what is in memory.
    const size_t n = objects_.size();
    const size_t stride = n <= kFullCheck ? 1 : n / (kFullCheck / 2);
    std::string wrote, read;
    for (size_t k = 0; k < n; ++k) {
        if (k % stride != 0 && k >= kFullCheck / 4 && k + kFullCheck / 4 < n)
            continue;
        QPDFObjectHandle h = objects_.at(k);
        const QPDFObjGen og = h.getObjGen();
        QPDFObjectHandle got = copy.getObject(og);
        bool same = got.isStream() == h.isStream();
        if (same && h.isStream()) {
            same = bufferText(got.getRawStreamData()) == bufferText(h.getRawStreamData());
            h = h.getDict().shallowCopy();
            got = got.getDict().shallowCopy();
            h.removeKey("/Length");
            got.removeKey("/Length");
        }
        wrote.clear();
        read.clear();
        if (same) {
            serialize(h, og, wrote, 0, Form::Memory);
            serialize(got, og, read, 0, Form::Copy);
        }
        if (!same || wrote != read)
            throw std::runtime_error("object " + og.unparse(' ') + " reads back differently");
    }
    CheckReadWithoutRepair(copy);
}
