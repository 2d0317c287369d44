#pragma once
#include <QString>

// Where a file's working files go, and what the user should hear about it.
struct TemporaryFolderChoice {
    QString path;
    // A folder that belongs to Numbrel alone (made by it, mode 0700), as opposed to the user's own
    // TEMP: only there may what a killed run left be removed by its kind of name.
    bool numbrelsOwn = false;
    // Made for this file alone (a random name): removed, once empty, when the file is done.
    bool madeForThisFile = false;
    // Set when the usual private folder was refused and another one was taken: what was found there
    // and where the work went, for the last box.
    QString notice;
};

// The folder for the numbering run's working files: TEMP (made absolute) when it names an existing
// folder that is the user's alone (owned by the user, not writable by group or others) and can hold
// unnamed files (so that the numbering tool never needs a temporary name there); otherwise a private
// numbrel-<uid> folder inside TEMP, or inside <temp> when TEMP is unset or names no folder, created with
// mode 0700. When that private folder can't be used (another account made that name first: a link, a
// file, a folder of theirs or one others can write in), a private folder that nobody can name in
// advance is used instead: numbrel-<uid> in XDG_RUNTIME_DIR, else in the user's cache folder, else a
// fresh folder with a random name; the choice's notice says so. Throws std::runtime_error only when
// none of them can be made.
TemporaryFolderChoice ChooseTemporaryFolder();

// The chosen folder's path.
QString TemporaryFolder();
