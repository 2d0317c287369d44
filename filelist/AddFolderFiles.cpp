#include "filelist/Commands.h"

#include "filelist/AppendScannedFiles.h"

#include "core/AppTitle.h"
#include "core/BusyState.h"
#include "core/ErrorReport.h"
#include "core/FolderPicker.h"
#include "core/Prompts.h"
#include "core/Services.h"
#include "core/Settings.h"
#include "filelist/FileList.h"
#include "filelist/FolderScan.h"
#include "sys/FileUtils.h"

namespace {
const QString kTag = QStringLiteral("Numbrel2021/08/31.Form1.PushButton3_Click");
const QString kExtensionPrompt =
    QStringLiteral("Enter file extension to load:\r\r"
                   "(* for all files, txt for all txt files, doc for all doc files, etc.)");
} // namespace

void AddFolderFiles(Services& s) {
    StepGuard g(s.prompts, kTag);

    QString extension;
    g.step(100, [&] {
        extension = s.prompts.inputBox(kExtensionPrompt, ApplicationTitle(), ReadSetting(Setting::Extension));
        if (!extension.isEmpty())
            WriteSetting(Setting::Extension, extension);
    });
    if (g.actionIf(102, [&] { return extension.isEmpty(); }))
        return;

    QString chosen;
    g.step(106, [&] {
        chosen = BrowseForFolder(s.prompts, s.window, QStringLiteral("Please select folder:"),
                                 ReadSetting(Setting::LastFolder));
    });
    if (g.actionIf(108, [&] { return chosen.isEmpty(); }))
        return;

    QString lastFolder;
    g.step(333, [&] { lastFolder = chosen; });
    g.step(334, [&] { WriteSetting(Setting::LastFolder, lastFolder); });

    g.step(114, [&] { s.busy.setBusy(true); });

    QStringList folders;
    g.step(116, [&] { folders = QStringList{chosen + QLatin1Char('/')}; });
    const QString pattern = QStringLiteral("*.") + extension;
    ScannedFiles seen{pattern, {}};
    g.step(118, [&] { GetSubDirectories2016(s.prompts, folders, true, &seen); });

    AppendScannedFiles(s.files, folders, seen, pattern, &g); // 120-136

    g.step(138, [&] { s.busy.setBusy(false); });
}
