#include "filelist/Commands.h"

#include "core/Services.h"
#include "filelist/AppendScannedFiles.h"
#include "filelist/FileList.h"
#include "filelist/FolderScan.h"
#include "sys/FileUtils.h"

#include <exception>

namespace {
// A folder counts when the path exists and its attributes carry the directory bit (links followed).
bool isDroppedFolder(const QString& path) {
    const int attributes = FileAttributes(path);
    return attributes >= 0 && (attributes & AttrDirectory) != 0;
}

// Appends every file of the folder's tree, whatever its extension.
void appendFolderTree(Services& s, const QString& path) {
    const QString pattern = QStringLiteral("*.*");
    QStringList folders{path + QLatin1Char('/')};
    ScannedFiles seen{pattern, {}};
    GetSubDirectories2016(s.prompts, folders, true, &seen);
    AppendScannedFiles(s.files, folders, seen, pattern, nullptr);
}
} // namespace

void DropPaths(Services& s, const QStringList& paths) {
    for (const QString& path : paths) {
        if (!isDroppedFolder(path)) {
            s.files.AppendPath(path);
            continue;
        }
        // A dropped folder that fails is skipped; the drop goes on with the next path.
        try {
            appendFolderTree(s, path);
        } catch (...) {
        }
    }
}
