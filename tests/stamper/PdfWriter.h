#pragma once
// Writes PDF files byte by byte for tests: revisions of objects, each ending with a cross-reference
// table or stream of the caller's shape (/W widths, /Index runs, free entries, objects inside
// object streams), so that a test can reach the corners of the file syntax that producers rarely
// write. Nothing here uses the numbering engine.

#include <QByteArray>
#include <QList>

#include <map>
#include <utility>

struct PdfRevision {
    // Object number -> text between "n g obj" and "endobj" (a stream with its data); generation 0
    // unless `generations` says otherwise.
    std::map<int, QByteArray> objects;
    std::map<int, int> generations;
    // Objects written inside an object stream instead: object number -> the stream's number.
    std::map<int, int> inObjectStream;
    // Object number -> generation the free entry names (the next one to use).
    std::map<int, int> freed;
    QByteArray trailer;           // entries besides /Size, /Prev (and /Type /XRef /W /Index)
    long long size = -1;          // /Size; -1: one above the highest number listed
    bool xrefStream = false;      // a cross-reference stream instead of a table
    int xrefStreamNumber = 0;     // its own number; 0: one above the highest listed
    QList<int> widths{1, 4, 2};   // /W
    bool writeIndex = true;       // /Index given (else the stream lists 0 to /Size - 1)
};

// A stream object's text for `data` (uncompressed), `entries` added to its dictionary.
QByteArray PdfStream(const QByteArray& data, const QByteArray& entries = {});

// The file: `revisions` in order, each an update of those before it.
QByteArray PdfFile(const QList<PdfRevision>& revisions, const QByteArray& header = "%PDF-1.5\n%\xe2\xe3\xcf\xd3\n");

// Objects numbered from 1 in the order given, one cross-reference table and a trailer with `keys`.
QByteArray ClassicFile(const QList<QByteArray>& objects, const QByteArray& keys);
