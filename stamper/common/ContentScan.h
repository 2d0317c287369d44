#pragma once
// A quick lexical pass over a page's content that finds what could move the number drawn after it:
// graphics states left open with q, a text object left open with BT, and Q operators that close
// nothing (a viewer ignores them, but once the content is wrapped in our own q they would pop it).

#include <cstddef>
#include <string_view>
#include <vector>

struct ContentScan {
    int openSaves = 0;                 // q without a matching Q at the end
    bool openText = false;             // BT without ET at the end
    std::vector<size_t> strayRestores; // offsets of the 'Q' bytes that close nothing

    static ContentScan of(std::string_view content);
};

// The same pass over content that arrives in pieces of any size, so that content of any length
// is scanned while it is decoded, never held whole. A token may straddle two pieces.
class ContentScanner {
public:
    void feed(std::string_view piece);
    // The scan of everything fed; the scanner is done after.
    ContentScan finish();
    size_t fed() const { return base_; }

private:
    enum class Mode { Normal, Word, Comment, String, Angle, Hex, Name, InlineImage };

    void endWord();

    Mode mode_ = Mode::Normal;
    char last_ = ' '; // the byte before the current piece
    size_t base_ = 0; // offset of the current piece in the whole content
    size_t wordStart_ = 0, wordLength_ = 0;
    char word_[2] = {};
    int depth_ = 0;        // of parentheses, in a string
    bool escaped_ = false; // a string's backslash ended the last piece
    int imageState_ = 0;   // 0: looking for E after white space, 1: for I, 2: for the byte after
    bool skipOne_ = false; // the byte after ID belongs to the operator
    ContentScan scan_;
};
