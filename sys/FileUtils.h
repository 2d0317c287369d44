#pragma once
// File and path utilities shared by the window's commands, the folder scan and the numbering run.
// Paths are plain texts with "/" as separator. Apart from GetDesktopFolder, none of these report a
// failure: they return false or empty text, or quietly do nothing.

#include <QString>

// Attribute bits as the window's commands compare them (see FileAttributes).
enum FileAttribute : int {
    AttrReadOnly = 1,
    AttrHidden = 2,
    AttrSystem = 4,
    AttrDirectory = 16,
    AttrArchive = 32,
    AttrReparsePoint = 1024,
};

// The attribute value of a path from lstat/stat: read-only when the user can't write it, hidden when
// the name starts with ".", directory, archive for every regular file, reparse point for a symbolic
// link. -1 when the path doesn't exist.
int FileAttributes(const QString& path);

// The user's desktop folder with a final "/"; throws std::runtime_error when the platform knows none.
QString GetDesktopFolder();

bool PathExists(const QString& path);
QString GetFolderPart(const QString& path);
QString GetFileNamePart(const QString& path);
bool IsFolder(const QString& path);
// True for a path that exists and is neither a folder nor hidden nor a system file (see
// FileAttributes): a file the user sees.
bool IsVisibleFile(const QString& path);
// True when the text holds "*" or "?".
bool HasWildcard(const QString& text);
// True for an existing regular file (links followed) that opens for reading; never blocks. "*" and "?"
// are ordinary characters in its name.
bool IsOpenableFile(const QString& path);
// Deletes the file of that exact name: a plain unlink, which removes a link and never touches its
// target. Lets pending window events run first.
void DeleteFileQuietly(const QString& path);
// Copies when both names are given, the source opens and the destination's folder exists (see
// CopyFileOverwrite); whether the copy was made. When it wasn't, error (if given) gets the reason as
// an errno value (ENOENT for a source or folder that isn't there).
bool CopyFileChecked(const QString& source, const QString& destination, int* error = nullptr);
// Copies through a file in the destination folder that gets a name only when complete (then renamed
// over an existing destination), so the destination is either the old file or the complete new one,
// and an interrupted copy leaves no partial file. A destination ending in "/" means "into that folder".
// The source's holes stay holes. error as for CopyFileChecked.
bool CopyFileOverwrite(const QString& source, const QString& destination, int* error = nullptr);
// One left-to-right pass that halves each "//"; a leading run of "/" becomes exactly one "/".
QString CollapseBackslashes(const QString& path);
// True for control characters, 127 to 159, "?" and characters the locale can't encode.
bool HasUnusualCharacters(const QString& name);
// Case-insensitive wildcard match with "*" and "?"; "*.*" matches every name.
bool WildcardMatches(const QString& pattern, const QString& name);
// The program folder: where the running executable lies, without a final "/".
QString ProgramFolder();
// Tests run from their own folder but use the real program folder's tools and files.
void OverrideProgramFolder(const QString& folder);
