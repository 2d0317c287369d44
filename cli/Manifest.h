#pragma once
// The record of a batch: one CSV row (RFC 4180) per file, written whole or not at all. Columns only
// ever join at the end, so that a reader of the older ones keeps working.

#include <QByteArray>
#include <QString>
#include <vector>

struct ManifestRow {
    QString input, output;
    QString pages, first, last; // empty where unknown
    QString status;             // "numbered", "numbered with a warning", "skipped", "not done"
    QString message;
    QString begBates, endBates; // the whole text of the first and last numbered page
};

QByteArray ManifestText(const std::vector<ManifestRow>& rows);

// Writes `bytes` to `path` through a file that gets the name only when complete (replacing what
// was there in one step); whether it was written.
bool WriteWholeFile(const QString& path, const QByteArray& bytes);
