#pragma once
// The main window's start as the program does it, shared by main() and the tests.

#include <QStringList>

class Form1;

// Runs the start-up sequence, centres the window on the screen and shows it. The paths (absolute) are
// added to the list once the event loop runs, the way a drop of the same items adds them.
void StartMainWindow(Form1& window, const QStringList& paths);
