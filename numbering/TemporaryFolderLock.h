#pragma once
#include "sys/FileDescriptor.h"

#include <QString>

// Holds the temporary folder for one file of a run, so that two Numbrel windows sharing TEMP take
// turns with the working files. The run hands the descriptor to its script (and no other program),
// so a script left running by a window that was closed mid-run keeps the folder until it ends.
class TemporaryFolderLock {
public:
    // Waits, letting window events run, until the folder is free. A folder that cannot be locked at
    // all (opened or locked for another reason) is used without the lock.
    explicit TemporaryFolderLock(const QString& folder);
    // The locked descriptor (close-on-exec), or -1 when the folder is used without the lock.
    int descriptor() const { return fd_.get(); }
    TemporaryFolderLock(const TemporaryFolderLock&) = delete;
    TemporaryFolderLock& operator=(const TemporaryFolderLock&) = delete;

private:
    FileDescriptor fd_;
};
