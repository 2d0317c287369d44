#pragma once
// Writes PDF files for the viewer loop from a seed. Page 1's content is drawn by the content
// grammar: every operator of the content operator table with the operands it takes and with too
// few, too many or the wrong kind; q, BT, marked content (optional content ON and OFF) and BX/EX
// nested, left open or closed twice; inline images; tokens glued together, comments, strings with
// delimiters, tokens over 127 characters, `endstream` in the data, a dictionary whose key lacks
// its value. The file around it varies too: the page tree (nodes, duplicate kids, counts that
// disagree, inherited values), references to null or missing objects, /Size, cross-reference and
// object streams, updates. A seed makes a Recipe and a Recipe makes the bytes, so a finding can be
// replayed from its seed and reduced by taking pieces out of its recipe.

#include <QByteArray>
#include <QList>

#include <cstdint>

struct ContentPiece {
    QByteArray tag;  // what the piece is, to name a finding's cause ("Tf: 1 operand")
    QByteArray text; // its bytes, with the white space before it
    int stream = 0;  // which of page 1's content streams holds it (with "contents-array")
};

struct Recipe {
    uint64_t seed = 0;
    int pages = 1;
    QList<ContentPiece> content; // page 1's content, after a drawing that always shows
    QList<QByteArray> structure; // the file's features, names from StructureFeatures()
    bool has(const char* feature) const;
    // Replayable text: the features and each piece (tag and bytes, escaped).
    QByteArray describe() const;
    // The content stream of page 1 as written (the pieces joined, streams concatenated).
    QByteArray contentText() const;
};

// Every feature the builder knows, for documentation and for the reducer.
QList<QByteArray> StructureFeatures();

Recipe MakeRecipe(uint64_t seed);

// A recipe written by hand: one piece of content and the given features.
Recipe HandRecipe(const QByteArray& content, const QList<QByteArray>& features = {}, int pages = 1);

QByteArray BuildPdf(const Recipe& recipe);

// Page 1's first content drawing and the page size (points), for the judge and for documentation.
constexpr double kPageSize = 300;
