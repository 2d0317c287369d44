#pragma once
// Starting programs through the shell's open action, and waiting for them while the window stays
// responsive.

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>

class ChildProcess;
class QWidget;

// What GShell started, for a caller that wants to follow it.
struct ShellLaunch {
    int showMode = -1;                     // the show mode the open action was called with
    std::unique_ptr<ChildProcess> process; // empty when the open action started nothing observable
    int inheritedDescriptor = -1;          // set by the caller: handed to a started script or program only
    ShellLaunch();
    ~ShellLaunch();
    ShellLaunch(ShellLaunch&&) noexcept;
    ShellLaunch& operator=(ShellLaunch&&) noexcept;
};

// What RunAndWait saw.
struct WaitReport {
    bool launched = false;
    int launchErrorNumber = 0; // the ShellError of a failed launch
    QString launchErrorMessage;
    int showMode = -1;         // as GShell used it
    int statusQueries = 0;     // exit status queries
    int pauses = 0;            // 100 ms pauses
    bool processEnded = false; // the started process was followed to its end
    QByteArray errorOutput;    // the started process's standard error
};

// The error number and message for a shell result code from 0 to 32.
struct ShellErrorInfo {
    int number;
    QString message;
};
ShellErrorInfo ShellErrorFor(int code);

// Opens file with verb "open": a ".bat" file runs in the batch interpreter (numbrel-batch in the
// program folder), a ".exe" file runs directly with parameters split as a command line, anything
// else goes to the desktop's default application. Quotes around file are removed first; a relative
// file is taken from folder. Returns the shell result code (above 32 on success) or throws
// ShellError for codes 0 to 32. show mode 0 is forced for names containing ".EXE"; with empty
// parameters and folder the open action gets show mode 1.
int GShell(const QString& file, int showMode, const QString& parameters, const QString& folder,
           const QString& verb, QWidget* owner, ShellLaunch* launch = nullptr);

// Starts command through GShell in folder and waits for the started process (see WaitWhileActive).
// showMode may be null (absent); a value outside 0 to 6 becomes 6 and is written back. inherited,
// when not -1, is a close-on-exec descriptor handed to the started process and to nothing else.
// Returns the exit status, or after a failed launch the error number + 0x80040000.
int RunAndWait(const QString& command, int* showMode, const QString& folder, WaitReport* report = nullptr,
               int inherited = -1);

// What the wait does, one call each.
struct WaitSteps {
    std::function<int()> queryStatus;    // the started process's exit status, kStillActive while it runs
    std::function<void()> processEvents; // let pending window events run
    std::function<void()> pause;         // 100 ms
};

// The wait after a launch: query the status, let pending window events run, pause, and go round
// again when the status queried before the pause was "still active". So every wait lasts at least
// one pause, and a process that ends during a pause is seen at the next query and left after the
// pause that follows it (one that runs 250 ms: queries at 0, 100, 200 and 300 ms, the wait ends at
// about 400 ms). Counts the queries and pauses in report; returns the last status.
int WaitWhileActive(const WaitSteps& steps, WaitReport& report);
