#pragma once
// A second way into a file that qpdf's own reading and recovery gave up on: no trailer anywhere,
// only cross-reference streams, a damaged cross-reference stream, a trailer without /Root. The
// file's objects are found by scanning its bytes (with those inside object streams), the trailer
// keys are taken from the latest trailer or cross-reference stream that still reads, or else the
// catalog is looked for among the objects; qpdf then reads the bytes with a cross-reference
// section built from all that appended, as if the file had been written whole.

#include <qpdf/QPDF.hh>

#include <memory>
#include <string>

struct RecoveredInput {
    std::unique_ptr<std::string> bytes; // what `pdf` reads from; outlives it
    std::unique_ptr<QPDF> pdf;
};

// Throws QPDFExc (qpdf_e_password for a password) or std::exception when this fails too.
RecoveredInput RecoverInput(const std::string& path);

// The same for bytes in memory (taken over).
RecoveredInput RecoverInput(std::string bytes, const std::string& description);

// What qpdf's writer would carry over from a damaged trailer into an unreadable copy: it writes
// /Size only where the trailer it read had one. True when something was mended.
bool MendTrailer(QPDF& pdf);

// Why other readers would refuse the copy's encryption, or empty. qpdf reads some malformed
// encryption dictionaries (a key length that is no whole number of bytes from 40 to 128 bits,
// or none) and writes them as it took them, which poppler and MuPDF then refuse.
std::string EncryptionOthersRefuse(QPDF& pdf);

// A key length that qpdf rounds down to whole bytes (129 bits) is one other readers refuse in the
// input. qpdf's rewrite writes the rounded length, so such a file must not be numbered by appending
// to its own bytes.
bool EncryptionLengthRounded(QPDF& pdf);
