#pragma once
#include <QString>

// The folder for the numbering run's working files: TEMP when it names an existing folder that is
// the user's alone (owned by the user, not writable by group or others); a private numbrel-<uid>
// folder inside TEMP when others can write there (TEMP=/tmp) or it belongs to someone else; and
// <temp>/numbrel-<uid> when TEMP is unset or names no folder. A private folder is created with mode
// 0700. Throws std::runtime_error when it is a symbolic link, not a folder, belongs to someone else
// or can be written by others.
QString TemporaryFolder();
