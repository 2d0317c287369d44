#pragma once
#include <QString>

class Prompts;
class QWidget;

// The folder picker: the chosen folder without a final "/" (the root stays "/"), or empty text when
// the user cancels.
QString BrowseForFolder(Prompts& prompts, QWidget* owner, const QString& title, const QString& startFolder);
