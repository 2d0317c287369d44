#include "core/AppTitle.h"
#include "core/ErrorReport.h"
#include "core/Prompts.h"
#include "core/Services.h"
#include "filelist/Commands.h"
#include "filelist/FileList.h"
#include "filelist/FolderScan.h"
#include "sys/FileUtils.h"

namespace {
const QString kTag = QStringLiteral("Numbrel2021/08/31.Form1.PushButton6_Click");
const QString kQuestion =
    QStringLiteral("Would you like this software to open the folder where these sample files "
                   "are stored (so that you can view them before working with them)?");
} // namespace

void LoadSampleFiles(Services& s) {
    StepGuard g(s.prompts, kTag);
    const QString samplesFolder = ProgramFolder() + QStringLiteral("/Samples/");
    QStringList names;
    g.step(100, [&] { names = ListFilesInFolder(samplesFolder, QStringLiteral("*.*")); });
    for (const QString& name : names) {
        // Paths are listed exactly as built; a sample that vanished meanwhile is skipped.
        const QString path = samplesFolder + name;
        if (g.actionIf(102, [&] { return PathExists(path) && !s.files.ListContainsText(path); }))
            g.step(104, [&] { s.files.AppendPath(path); });
    }
    int answer = Prompts::No;
    g.step(106, [&] { answer = s.prompts.messageBox(kQuestion, ApplicationTitle(), Prompts::YesNo); });
    if (answer == Prompts::Yes)
        g.step(108, [&] { s.prompts.openInFileManager(samplesFolder); });
}
