#pragma once
// A quick lexical pass over a page's content that finds what could move the number drawn after it:
// graphics states left open with q, a text object left open with BT, Q operators that close
// nothing (a viewer ignores them, but once the content is wrapped in our own q they would pop it),
// and content that ends inside a token, which would swallow whatever is drawn after it.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct ContentScan {
    // What the content ends inside of, when it ends before a token is complete.
    enum class End { Clean, String, HexString, Array, Dictionary, InlineImage };

    int openSaves = 0;                 // q without a matching Q at the end
    bool openText = false;             // BT without ET at the end
    std::vector<size_t> strayRestores; // offsets of the 'Q' bytes that close nothing
    End end = End::Clean;
    // Set by the reader, not the scan: some of the content's data could not be decoded to its end
    // (a damaged or undecryptable stream, a filter nobody decodes). Viewers differ in what they make
    // of the rest; MuPDF stops reading the page's content there.
    bool damaged = false;

    // Content after which nothing appended to the page's content can be relied on to be drawn.
    bool endsBadly() const { return end != End::Clean || damaged; }

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

    void endWord(const char* after);
    void startImage();

    Mode mode_ = Mode::Normal;
    char last_ = ' '; // the byte before the current piece
    size_t base_ = 0; // offset of the current piece in the whole content
    size_t wordStart_ = 0, wordLength_ = 0;
    char word_[2] = {};
    int depth_ = 0;        // of parentheses, in a string
    bool escaped_ = false; // a string's backslash ended the last piece
    int arrays_ = 0, dictionaries_ = 0;

    // An inline image: its dictionary's text is kept (up to a limit) to learn where its data ends.
    bool inImageDictionary_ = false;
    const char* recordFrom_ = nullptr; // in the current piece
    std::string imageDictionary_;
    bool imageDictionaryTooLong_ = false;
    int arraysAtImage_ = 0, dictionariesAtImage_ = 0;
    unsigned long long imageLeft_ = 0; // data bytes still to skip
    bool lengthGiven_ = false;         // the length skipped is the dictionary's /L
    bool eiAfterWhiteOnly_ = false;    // the data's end is not known: EI must follow white space
    int eiState_ = 0;                  // 0: looking for E, 1: for I, 2: for the byte after EI
    bool tilde_ = false;               // ASCII85 data: the last byte was '~'
    struct Inflater;
    std::unique_ptr<Inflater> inflater_; // made for the first Flate inline image

    ContentScan scan_;
};
