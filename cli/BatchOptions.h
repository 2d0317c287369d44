#pragma once
// The command line of numbering without the window:
//   numbrel --batch -o OUTDIR [options] (FILE|FOLDER)...
// Every value is checked here, before any file is looked at.

#include "StampOptions.h"

#include <QString>
#include <QStringList>

struct BatchOptions {
    QString outputFolder; // absolute
    QStringList inputs;   // absolute, in the order given
    StampOptions stamp;   // what every page shows; input, output and first number are set per file
    // --font: the font file or installed font's name; empty: Helvetica where it can draw the text,
    // else fontconfig's choice. stamp.format is UTF-8 here; each file gets it in its font's terms.
    QString font;
    bool continueNumbers = false;
    QString manifest; // absolute; empty for none
    bool overwrite = false;
    int jobs = 1;
    int part = 1, parts = 1; // --part K/N
    QString plan;            // absolute; empty for none
    bool quiet = false;
    QString formatText; // --format as given, for the texts the manifest and the load files hold
    // Bates load files, absolute, empty for none; the volume they name (the output folder's name
    // unless given).
    QString opticon, dat, volume;
};

struct BatchCommandLine {
    enum class Outcome { Run, Help, Refused };
    Outcome outcome = Outcome::Run;
    QString text; // the help, or the one-line reason for refusing
    BatchOptions options;
};

// `arguments`: the program's name first, "--batch" among the rest. Relative paths count from
// workingFolder.
BatchCommandLine ReadBatchCommandLine(const QStringList& arguments, const QString& workingFolder);

// The options' part of the program's --help.
QString BatchUsageText(const QString& program);

// Every option, one a line: name TAB value placeholder TAB default TAB choices TAB help (empty fields
// where there is none), for the manual page and the shell completion (--batch --list-options).
QString BatchOptionList();

// Exit statuses.
inline constexpr int kBatchAllNumbered = 0;
inline constexpr int kBatchSomeSkipped = 1;
inline constexpr int kBatchUsageError = 2;
inline constexpr int kBatchStopped = 130; // stopped by Ctrl-C (or SIGTERM, SIGHUP)
