#include "core/AppTitle.h"
#include "core/ErrorReport.h"
#include "core/Prompts.h"
#include "core/Services.h"
#include "filelist/Commands.h"
#include "filelist/FileList.h"
#include "sys/FileUtils.h"

namespace {
const QString kTag = QStringLiteral("Numbrel2021/08/31.Form1.PushButton1_Click");
const QString kTitle = QStringLiteral("Add File(s) - Hold Ctrl to select multiple files");
const QString kFilter = QStringLiteral("PDF Files (*.pdf)");

// What the dialog can hand back: the folder and every chosen name, one separator between them.
constexpr qsizetype kAnswerCapacity = 30000;

// The folder of a multiple selection as the dialog names it: no final "/" except for the root.
QString selectionFolder(const QString& path) {
    QString folder = GetFolderPart(path);
    if (folder.size() > 1 && folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    return folder;
}

// The length of the dialog's answer for this selection: the full path of a single file, or the
// folder followed by each name, each after one separator.
qsizetype answerLength(const QStringList& paths) {
    if (paths.size() == 1)
        return paths.first().size();
    const QString folder = selectionFolder(paths.first());
    qsizetype length = folder.size();
    for (const QString& path : paths) {
        // A name from another folder than the first would have to be given in full.
        const bool sameFolder = selectionFolder(path) == folder;
        length += 1 + (sameFolder ? GetFileNamePart(path).size() : path.size());
    }
    return length;
}
} // namespace

void AddFilesByDialog(Services& s) {
    StepGuard g(s.prompts, kTag);
    QStringList chosen;
    g.step(100, [&] { chosen = s.prompts.openFiles(s.window, kTitle, kFilter); });
    if (g.actionIf(102, [&] { return chosen.isEmpty(); }))
        return;
    if (g.actionIf(104, [&] { return answerLength(chosen) > kAnswerCapacity; })) {
        s.prompts.messageBox(
            QStringLiteral("You've selected too many files to add.\r\rPlease try adding via the "
                           "\"Add All\" button."),
            ApplicationTitle(), Prompts::OkOnly);
        return;
    }
    if (chosen.size() == 1) {
        g.step(106, [&] { s.files.AppendPath(chosen.first()); });
        return;
    }
    for (const QString& path : chosen)
        g.step(108, [&] { s.files.AppendPath(CollapseBackslashes(path)); });
}
