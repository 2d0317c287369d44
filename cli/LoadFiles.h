#pragma once
// The load files a review platform reads a Bates production from, written whole or not at all
// (WriteWholeFile) once the batch is done:
//  - Opticon (.opt): one line per numbered page, "KEY,VOLUME,PATH,Y,,,PAGES" on a document's first
//    page and "KEY,VOLUME,PATH,,,," on the others; PATH the copy relative to the load file's folder.
//  - Concordance (.dat): UTF-8 with a byte order mark, CRLF, every field between thorns (þ) and
//    the fields apart by the byte 0x14; a header row, then one row per document.
// Only numbered pages carry a key, so a document's page count here is the count of its numbered
// pages, the lines that follow its first one: BEGBATES to ENDBATES spans exactly that many.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

struct LoadFileDocument {
    QString copy;     // absolute path of the numbered copy
    QStringList keys; // the printed text of each of its numbered pages, in page order
};

QByteArray OpticonText(const std::vector<LoadFileDocument>& documents, const QString& volume,
                       const QString& loadFile);

// `header`: with the header row and the byte order mark (the start of the production); the rows of
// a part of a batch after the first come without, so that the parts' files joined in order are the
// whole run's.
QByteArray ConcordanceText(const std::vector<LoadFileDocument>& documents, const QString& loadFile,
                           bool header);

// Why `text` can't be a field of the Opticon file (a comma or line break, which it can't quote), or
// of the DAT (a thorn, the byte 0x14, a line break); empty when it can.
QString OpticonFieldProblem(const QString& text);
QString ConcordanceFieldProblem(const QString& text);

// The copy's path as the load file at `loadFile` names it.
QString PathFromLoadFile(const QString& copy, const QString& loadFile);
