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
