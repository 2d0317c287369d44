#pragma once
// The file list's commands, each called by its button or event on the main window.
#include <QStringList>

struct Services;

// "Add PDF File(s)": pick files in the file-open dialog and append them.
void AddFilesByDialog(Services& s);
// "Clear List": remove every row unless the window is busy or a run reads the rows.
void ClearList(Services& s);
// "Load Sample/Example Files": append the bundled samples and offer to show their folder.
void LoadSampleFiles(Services& s);
// "Add All PDF File(s) In Folder": append every file with an extension in a folder tree.
void AddFolderFiles(Services& s);
// Drop of local files and folders from the file manager onto the list.
void DropPaths(Services& s, const QStringList& paths);
