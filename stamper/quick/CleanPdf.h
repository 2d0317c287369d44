#pragma once
// A well-formed PDF file read straight from its bytes, without qpdf: its cross-reference tables and
// streams, its object streams and the objects they hold, each parsed only when asked for. Values
// keep the text they were written with, so a changed dictionary is written out again from that text.
//
// It reads what a careful writer writes and nothing else: anything it does not expect (a damaged
// cross-reference entry, an encrypted file, a hybrid file, a name with # escapes among a
// dictionary's keys, a stream whose /Length is off...) throws NotClean, and the caller reads the
// file with qpdf instead, which repairs what can be repaired.

#include "XrefSection.h"

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

struct NotClean : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct PdfValue {
    enum class Kind : unsigned char { Null, Bool, Integer, Real, String, Name, Array, Dictionary, Reference };
    Kind kind = Kind::Null;
    std::string_view text;       // as written; for an array or dictionary, from its first byte to its last
    long long integer = 0;       // an integer's value, a reference's object number
    int generation = 0;          // a reference's
    std::vector<PdfValue> items; // an array's items; a dictionary's keys and values in turn

    bool is(Kind k) const { return kind == k; }
    bool isNumber() const { return kind == Kind::Integer || kind == Kind::Real; }
    double number() const;
    // A dictionary's value for `key` ("/Type"), or null when it has none (or is no dictionary).
    const PdfValue* find(std::string_view key) const;
    bool isName(std::string_view name) const { return kind == Kind::Name && text == name; }
};

struct PdfObject {
    int number = 0, generation = 0;
    PdfValue value;          // a stream's dictionary for a stream
    bool isStream = false;
    std::string_view data;   // a stream's bytes as stored
};

class CleanPdf {
public:
    // Reads the cross-reference sections; `bytes` must outlive this object.
    explicit CleanPdf(std::string_view bytes);
    ~CleanPdf();
    CleanPdf(const CleanPdf&) = delete;
    CleanPdf& operator=(const CleanPdf&) = delete;

    // The newest trailer (a cross-reference stream's dictionary, where the file ends with one).
    const PdfValue& trailer() const { return trailer_; }
    // The input's last cross-reference section, where an update's /Prev points.
    const LastSection& lastSection() const { return last_; }
    // Whether the newest trailer's /Encrypt names a dictionary (the file is encrypted).
    bool encrypted();
    // Highest object number any section defines or frees.
    int highestNumber() const { return highest_; }
    // Highest object number referenced by what was read so far (trailers and objects).
    long long highestReference() const { return highestReference_; }
    // Highest object number up to kMaxObjectNumber that anything in the file may reference: every
    // "n g R" among its bytes and its object streams' data, stream data and old revisions included,
    // whether the object exists or not. A reference to a missing object (an annotation's appearance
    // that names nothing) must not come to mean one of an update's new objects; a false find only
    // moves their numbers up. Object streams it can't read throw NotClean.
    long long highestReferenceAnywhere();
    // The object, read on first use; a missing or free one throws NotClean.
    const PdfObject& object(int number, int generation);
    // The object read afresh and not kept, for what is used once (a page, its content streams):
    // keeping every object would make memory grow with the page count.
    std::unique_ptr<PdfObject> read(int number, int generation);
    // Keeps an object that was read afresh after all.
    const PdfObject& keep(std::unique_ptr<PdfObject> object);
    // `v` itself, or the object it references (not a stream).
    const PdfValue& resolve(const PdfValue& v);
    // What a key's value `v` reads as, or null where PDF reads it as absent: no value, null, or a
    // reference to null or to an object no section defines (or defines free, or with another
    // generation), as viewers and qpdf read it. A stream's value is its dictionary when
    // `streamDictionary`, NotClean otherwise.
    const PdfValue* lookup(const PdfValue* v, bool streamDictionary = false);
    // Whether a section defines the object in use with this generation.
    bool defines(int number, int generation) const;

private:
    struct Entry {
        enum class Type : unsigned char { Unknown, Free, InFile, Compressed } type = Type::Unknown;
        int generation = 0;       // InFile
        long long where = 0;      // InFile: offset; Compressed: the object stream's number
        int index = 0;            // Compressed: place in that stream
    };
    struct ObjectStream;

    void readSections(long long offset);
    long long readTable(long long offset, PdfValue& trailer);
    long long readXrefStream(long long offset, PdfValue& trailer);
    void define(long long number, Entry e);
    std::unique_ptr<PdfObject> readInFile(int number, const Entry& e);
    std::unique_ptr<PdfObject> readCompressed(int number, const Entry& e);
    ObjectStream& objectStream(int number);

    std::string_view bytes_;
    LastSection last_;
    PdfValue trailer_;
    std::vector<Entry> entries_;
    int highest_ = 0;
    long long highestReference_ = 0;
    std::vector<std::unique_ptr<PdfObject>> objects_;
    std::vector<std::unique_ptr<ObjectStream>> streams_;
};

// Whether a stream's data is Flate-compressed (true) or stored as it is (false); NotClean for any
// other filter, or a chain of them.
bool IsFlate(const PdfValue& streamDictionary);

// Inflates zlib data whole, up to `limit` bytes of output; NotClean for anything else.
std::string InflateWhole(std::string_view deflated, size_t limit);
