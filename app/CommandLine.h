#pragma once
// What the program's command line asks for: the window, with files and folders to add to its list, or
// an answer on the terminal and no window at all.

#include <QString>
#include <QStringList>

struct CommandLine {
    enum class Outcome {
        OpenWindow, // start as usual, then add paths as a drop of them would
        Answered,   // --help or --version: print text on standard output, exit 0
        Refused,    // a mistake in the options: print text (one line) on standard error, exit 2
    };
    Outcome outcome = Outcome::OpenWindow;
    QString text;
    // The files and folders named, absolute, in the given order.
    QStringList paths;
};

// Reads the arguments (the program's name first). Relative paths count from workingFolder. A
// QCoreApplication must exist (the help names the program after it); no window system is needed.
CommandLine ReadCommandLine(const QStringList& arguments, const QString& workingFolder);

// The exit status of a refused command line.
inline constexpr int kCommandLineMistake = 2;
