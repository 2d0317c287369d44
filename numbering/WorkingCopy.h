#pragma once
// The run's own files in the temporary folder. Each is created afresh, never through a link and
// never over a file already there, and the run remembers which file it made, so that nothing that
// someone else put at a working name is ever numbered or delivered.

#include <QString>
#include <stdexcept>
#include <sys/types.h>

// Which file a path named when the run made it.
struct MadeFile {
    dev_t device = 0;
    ino_t inode = 0;
};

// Why a working copy could not be made. The message is ready to be shown after the file's path.
class WorkingCopyError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Copies source to a new file at target (mode 0600), created with O_EXCL and O_NOFOLLOW. Nothing is
// left at target after a failure. Throws WorkingCopyError saying whether the input could not be
// read, the temporary folder has no room, or the copy could not be written for another reason.
MadeFile MakeWorkingCopy(const QString& source, const QString& target);

// True while path still names the file that was made, and nothing else took its place.
bool IsStillMadeFile(const QString& path, const MadeFile& made);

// True when path is a plain file of ours (no link, one name only) that someone could have written
// only through the run's own folder.
bool IsPlainOwnFile(const QString& path);

// Removes what an interrupted run may have left in a private working folder of Numbrel's own (never
// the user's own TEMP, where such names may be the user's files): the numbering tool's hidden copies
// under a short temporary name (".nb" and six or eight characters; ".temp2.pdf.XXXXXX" from older
// builds), plain files of ours. Nothing but Numbrel puts files there. The working files themselves are
// removed by name at the start of every file.
void RemoveLeftovers(const QString& folder);
