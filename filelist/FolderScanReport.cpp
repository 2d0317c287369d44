#include "filelist/FolderScan.h"

#include "core/ErrorReport.h"

void GetSubDirectories2016(Prompts& prompts, QStringList& folders, bool recurse, ScannedFiles* seen) {
    GetSubDirectories2016([&prompts](const QString& tag, const QString& description,
                                     int step) { ReportError(prompts, tag, description, step); },
                          folders, recurse, seen);
}
