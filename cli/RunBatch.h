#pragma once
// numbrel --batch: numbers files without the window, several side by side, and exits.

#include <QString>
#include <QStringList>

// `arguments`: the program's name first. Returns the exit status (see BatchOptions.h). Needs no
// QApplication and no display, and never reads or writes the window's settings.
int RunBatch(const QStringList& arguments, const QString& workingFolder);

// Whether the command line asks for numbering without the window: "--batch" before any "--".
bool IsBatchCommandLine(const QStringList& arguments);
