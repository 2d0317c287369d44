#pragma once
// Copies a file's bytes from one open descriptor to another, keeping the source's holes as holes: a
// sparse input of gigabytes of zeros takes no more room in its copy than in itself. Ranges holding data
// are copied by the kernel where it can (copy_file_range, which may share the blocks outright), by
// reading and writing otherwise.

// from: open for reading, read from its start; to: a new, empty file open for writing. Returns 0, or
// the errno of the first read or write that failed (ENOSPC when the copy's disk is full).
int CopyFileData(int from, int to);
