#include "filelist/AppendScannedFiles.h"

#include "core/ErrorReport.h"
#include "filelist/FileList.h"
#include "filelist/FolderScan.h"
#include "sys/FileUtils.h"

#include <exception>

void AppendScannedFiles(FileList& files, const QStringList& folders, const ScannedFiles& seen,
                        const QString& pattern, StepGuard* guard) {
    auto step = [guard](int number, const std::function<void()>& action) {
        if (guard)
            guard->step(number, action);
        else
            action();
    };
    for (const QString& entry : folders) { // 120
        QString folder;
        step(122, [&] { folder = entry.chopped(1); });
        QStringList names;
        if (guard) {
            guard->step(124, [&] { names = ListFilesInFolder(seen, folder, pattern); });
        } else {
            try {
                names = ListFilesInFolder(seen, folder, pattern);
            } catch (const std::exception&) {
                continue;
            }
        }
        for (const QString& name : std::as_const(names)) {
            // 126-130: "~" marks an office program's lock or backup file.
            if (name.startsWith(QLatin1Char('~')))
                continue;
            const QString path = folder + QLatin1Char('/') + name;
            step(134, [&] {
                if (IsAcceptableListedFile(name, path))
                    files.AppendPath(CollapseBackslashes(path));
            });
        } // 136
    }
}
