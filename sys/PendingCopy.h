#pragma once
// A copy being written into a folder. Where the file system allows, the file has no name at all until
// it is complete (O_TMPFILE), so a copy cut short by anything, kill -9 included, leaves nothing behind.
// Elsewhere it is written under a short temporary name of its own, removed unless the copy was put in
// place. The temporary names never grow with the destination's name: every name the file system
// accepts can be a destination. A short name is recorded before it is made (PendingName), so that one
// left by a program killed before its rename is removed by the next run.

#include "sys/FileDescriptor.h"
#include "sys/PendingNames.h"

#include <QByteArray>
#include <sys/types.h>

class PendingCopy {
public:
    // folder: where the destination will be, as the file system spells it.
    explicit PendingCopy(QByteArray folder);
    ~PendingCopy();
    PendingCopy(const PendingCopy&) = delete;
    PendingCopy& operator=(const PendingCopy&) = delete;

    bool isOpen() const { return fd_.isOpen(); }
    // Where the copy's bytes go.
    int fd() const { return fd_.get(); }
    // Gives the file its mode and puts it on the disk, before any name can show it.
    bool complete(mode_t mode);
    // Puts the complete copy in target's place: the old file or the new one is there at every moment.
    bool publishAs(const QByteArray& target);

private:
    // Names the unnamed file; fails with EEXIST when something has that name already.
    bool linkUnnamed(const QByteArray& name) const;
    bool linkUnnamedUnderShortName();

    QByteArray folder_;
    QByteArray name_; // the file's temporary name while it has one
    PendingName pending_;
    FileDescriptor fd_;
};
