#pragma once
#include <QString>
#include <QStringList>

class FileList;
class StepGuard;
struct ScannedFiles;

// Appends the files of every folder of a scanned tree (each entry ending in "/") that match pattern,
// as the folder add and a dropped folder both do: names starting with "~" (an office program's lock
// or backup file) and hidden files are left out. With a guard, the steps are the folder add's own
// (122 to 134): a failure is reported and the next step runs. Without one (a drop), a folder that
// can't be read gives nothing and the rest of the tree still counts.
void AppendScannedFiles(FileList& files, const QStringList& folders, const ScannedFiles& seen,
                        const QString& pattern, StepGuard* guard);
