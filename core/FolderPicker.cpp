#include "core/FolderPicker.h"

#include "core/Prompts.h"

QString BrowseForFolder(Prompts& prompts, QWidget* owner, const QString& title, const QString& startFolder) {
    QString folder = prompts.chooseFolder(owner, title, startFolder);
    while (folder.size() > 1 && folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    return folder;
}
