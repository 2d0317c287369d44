#pragma once
// The folder scan: expands folders breadth first into their subfolders, and lists a folder's files.

#include <QStringList>

class Prompts;

// Extends folders (each ending in "/") in place with the subfolders below them, breadth first.
// With recurse false only the immediate subfolders of the listed folders are added.
void GetSubDirectories2016(Prompts& prompts, QStringList& folders, bool recurse);
// The names of folder's files that match pattern ("*.ext" or "*.*") and can be opened.
QStringList ListFilesInFolder(const QString& folder, const QString& pattern);
