#pragma once
// The folder scan: expands folders breadth first into their subfolders, and lists a folder's files.

#include <QHash>
#include <QStringList>

#include <functional>

class Prompts;

// Where the scan reports a failure it carries on after: the error box in the window.
using ScanFailureReport = std::function<void(const QString& tag, const QString& description, int step)>;

// What a scan saw of the files of each folder it listed, so that the caller who lists those files next
// needn't read every folder a second time. The caller sets the pattern before the scan.
struct ScannedFiles {
    QString pattern;
    // Folder list entry -> names of its files that matched the pattern and could be opened, in the
    // platform's order.
    QHash<QString, QStringList> byFolder;
    // Folders whose listing failed and that the scan left out with everything below them.
    QStringList unreadable;
};

// Extends folders (each ending in "/") in place with the subfolders below them, breadth first.
// With recurse false only the immediate subfolders of the listed folders are added. A folder whose
// subfolders can't be listed for lack of permission, or that has gone, is removed from the list.
// When seen is given, it collects the matching files of every folder listed.
void GetSubDirectories2016(const ScanFailureReport& report, QStringList& folders, bool recurse,
                           ScannedFiles* seen = nullptr);
// The same, reporting through the error box (FolderScanReport.cpp, with the window's prompts).
void GetSubDirectories2016(Prompts& prompts, QStringList& folders, bool recurse,
                           ScannedFiles* seen = nullptr);
// The names of folder's files that match pattern ("*.ext" or "*.*") and can be opened. A missing folder
// has none; a folder that can't be read throws std::runtime_error.
QStringList ListFilesInFolder(const QString& folder, const QString& pattern);
// The same, answered from what a scan saw of that folder when it can be.
QStringList ListFilesInFolder(const ScannedFiles& seen, const QString& folder, const QString& pattern);
// For a name that ListFilesInFolder has just returned, and its path: false for a file whose attribute
// value is exactly hidden + archive (34), which the folder add and drops leave out.
bool IsAcceptableListedFile(const QString& name, const QString& path);
// The files a dropped folder adds, from its scanned tree (each entry ending in "/"): every folder's
// files that match pattern, in scan order, leaving out names starting with "~" (an office program's
// lock or backup file) and hidden files; a folder that can't be read gives none.
QStringList ScannedFilePaths(const QStringList& folders, const ScannedFiles& seen, const QString& pattern);
