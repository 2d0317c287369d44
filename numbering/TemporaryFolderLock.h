#pragma once
#include <QString>

// Holds the temporary folder for one file of a run, so that two Numbrel windows sharing TEMP take
// turns with the working files. The lock is inherited by the run script, so a script left running
// by a window that was closed mid-run keeps the folder until the script ends.
class TemporaryFolderLock {
public:
    // Waits, letting window events run, until the folder is free. A folder that cannot be locked at
    // all (opened or locked for another reason) is used without the lock.
    explicit TemporaryFolderLock(const QString& folder);
    ~TemporaryFolderLock();
    TemporaryFolderLock(const TemporaryFolderLock&) = delete;
    TemporaryFolderLock& operator=(const TemporaryFolderLock&) = delete;

private:
    int fd_ = -1;
};
