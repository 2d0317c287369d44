#pragma once
#include <QString>

// The folder for the numbering run's working files: TEMP when it names an existing folder,
// otherwise the user's own <temp>/numbrel-<uid>, created with mode 0700. Throws std::runtime_error
// when that folder is a symbolic link, not a folder, or belongs to someone else.
QString TemporaryFolder();
