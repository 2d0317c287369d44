#pragma once
// A pass over a page's content that finds what could move the number drawn after it: graphics
// states left open with q, a text object left open with BT, marked content left open (an optional
// content group that is off would hide the number), Q operators that close nothing (a viewer ignores
// them, but once the content is wrapped in our own q they would pop it), and content that ends
// inside a token, which would swallow whatever is drawn after it.
//
// It also says whether it can vouch that every viewer reads the content to its end in the same
// state: every token read alike by every reader, every operator a known one given the operands it
// takes, nothing a viewer counts as a syntax error. Viewers part ways at each of those (poppler
// abandons a page's content at an operator short of operands, MuPDF stops after enough errors, a
// number glued to an operator is two tokens to one and one to the other), so a page the scan can't
// vouch for has its content drawn apart from the number, as a form of its own.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct ContentScan {
    // What the content ends inside of, when it ends before a token is complete.
    enum class End { Clean, String, HexString, Array, Dictionary, InlineImage };
    // Why the scan can't vouch for the content (the first reason found).
    enum class Doubt {
        None,
        Ambiguous,       // a token readers split differently: 0Q, .5Q, -Q, 1-2
        UnknownOperator, // outside BX/EX
        Operands,        // too few, too many or of the wrong type, or left over at the end
        Syntax,          // a stray ), >, ], >>, { or }, a key without a value, a bad hex digit
        LongToken,       // over 127 characters (poppler splits it)
        EndStream,       // the keyword endstream (MuPDF ends the content there)
        InlineImage,     // data whose end not every viewer finds in the same place
        Nesting,         // BT inside BT, ET, EMC or EX that closes nothing, nesting too deep
        StreamBoundary,  // a string or comment that runs from one content stream into the next
    };

    int openSaves = 0;                 // q without a matching Q at the end
    bool openText = false;             // BT without ET at the end
    int openMarked = 0;                // BMC or BDC without EMC at the end
    int openCompat = 0;                // BX without EX at the end
    std::vector<size_t> strayRestores; // offsets of the 'Q' bytes that close nothing
    End end = End::Clean;
    // Set by the reader, not the scan: some of the content's data could not be decoded to its end
    // (a damaged or undecryptable stream, a filter nobody decodes). Viewers differ in what they make
    // of the rest; MuPDF stops reading the page's content there.
    bool damaged = false;
    Doubt doubt = Doubt::None;
    size_t doubtAt = 0; // offset of the token that raised it

    // Content after which nothing appended to the page's content can be relied on to be drawn.
    bool endsBadly() const { return end != End::Clean || damaged; }
    // Content every viewer reads to its end in the same state, so that the number may follow it.
    bool vouched() const { return doubt == Doubt::None && !endsBadly(); }

    static ContentScan of(std::string_view content);
};

// The same pass over content that arrives in pieces of any size, so that content of any length
// is scanned while it is decoded, never held whole. A token may straddle two pieces.
class ContentScanner {
public:
    ContentScanner();
    ~ContentScanner();
    ContentScanner(ContentScanner&&) noexcept;
    ContentScanner& operator=(ContentScanner&&) noexcept;

    void feed(std::string_view piece);
    // One content stream of a page ends and the next begins: viewers read them as one, but a token
    // running across the seam (a string, a comment) may be read differently by two viewers.
    void endStream();
    // The scan of everything fed; the scanner is done after.
    ContentScan finish();
    size_t fed() const { return base_; }

private:
    enum class Mode {
        Normal,
        Word,
        Comment,
        String,
        Angle,      // after '<': a hex string or '<<'
        CloseAngle, // after '>': maybe '>>'
        Hex,
        Name,
        ImageStart,    // the one byte after ID
        ImageData,     // image data of a known length
        ImageGivenEnd, // after data of the length its dictionary gives: EI expected
        ImageHexEnd,
        Image85End,
        ImageInflate, // Flate data, inflated to find where it ends
        ImageEI,      // looking for the EI after the data
    };
    // What an operand or an item of an array or dictionary is.
    enum Tag : unsigned char {
        Int = 1,
        Real = 2,
        NameTag = 4,
        StringTag = 8,
        ArrayTag = 16,
        Dict = 32,
        Other = 64
    };
    struct Level {
        bool dictionary = false;
        bool image = false; // an inline image's dictionary
        int items = 0;
    };
    static constexpr int kMaxOperands = 40, kMaxLevels = 32;
    static constexpr size_t kMaxToken = 127;

    void word(const char* s, size_t n, const char* after);
    void keyword(const char* s, size_t n, const char* after);
    void op(int index, const char* after);
    void value(Tag t);
    void open(bool dictionary, bool image = false);
    void close(bool dictionary);
    void doubt(ContentScan::Doubt d, size_t at);
    void doubtHere(ContentScan::Doubt d) { doubt(d, wordStart_); }
    void endImageDictionary(const char* after);

    Mode mode_ = Mode::Normal;
    char last_ = ' '; // the byte before the current piece
    size_t base_ = 0; // offset of the current piece in the whole content
    size_t wordStart_ = 0, wordLength_ = 0;
    char carry_[kMaxToken + 1] = {}; // a word's first bytes when it straddles pieces
    int depth_ = 0;                  // of parentheses, in a string
    bool escaped_ = false;           // a string's backslash ended the last piece
    int arrays_ = 0, dictionaries_ = 0;
    Level levels_[kMaxLevels];
    int levelCount_ = 0; // may pass kMaxLevels; the levels beyond are not kept
    unsigned char operands_[kMaxOperands] = {};
    int operandCount_ = 0;

    // An inline image: its dictionary's text is kept (up to a limit) to learn where its data ends.
    bool inImageDictionary_ = false;
    const char* recordFrom_ = nullptr; // in the current piece
    std::string imageDictionary_;
    bool imageDictionaryTooLong_ = false;
    int arraysAtImage_ = 0, dictionariesAtImage_ = 0;
    unsigned long long imageLeft_ = 0; // data bytes still to skip
    bool lengthGiven_ = false;         // the length skipped is the dictionary's /L
    bool eiAfterWhiteOnly_ = false;    // the data's end is not known: EI must follow white space
    bool eiStrict_ = false;            // the data's end is known: only white space may come before EI
    int eiState_ = 0;                  // 0: looking for E, 1: for I, 2: for the byte after EI
    bool tilde_ = false;               // ASCII85 data: the last byte was '~'
    struct Inflater;
    std::unique_ptr<Inflater> inflater_; // made for the first Flate inline image

    ContentScan scan_;
};
