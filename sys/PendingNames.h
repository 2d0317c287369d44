#pragma once
// Records of the short names that copies take for a moment before they are renamed into place, in a
// folder of the user's (the output folder, which may be the input folder). A program killed between
// the two steps leaves such a file behind; the next run removes exactly that file, the one with the
// recorded name that is still the recorded file (same device, inode and birth time), and nothing else. A
// folder of the user's is never cleaned by a name pattern.
//
// The records are small files in Numbrel's own state folder ($XDG_STATE_HOME/Quillane/Numbrel/pending,
// ~/.local/state by default), one per copy in progress, each locked by the program that wrote it for
// as long as it lives: a record that can be locked belongs to a program that has ended.

#include <QByteArray>
#include <QString>
#include <sys/types.h>

class PendingName {
public:
    PendingName() = default;
    ~PendingName();
    PendingName(const PendingName&) = delete;
    PendingName& operator=(const PendingName&) = delete;

    // Records that path is about to name the open file fd (its device, inode and birth time), before
    // the name is made. fd -1 stands for a file not made yet: then only an empty file of ours at that
    // name is taken for it. Whether the record was written.
    bool record(const QByteArray& path, int fd);
    // The name is gone (renamed into place or removed): the record goes too.
    void clear();

private:
    int fd_ = -1;
    QByteArray recordPath_;
};

// Removes what earlier runs that ended before their rename left under recorded names, and the records.
// Records of programs still running are left alone. Returns how many files were removed.
int RemoveRecordedLeftovers();
// Where the records are kept.
QString PendingNamesFolder();
