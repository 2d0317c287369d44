#include "core/BusyState.h"
#include "core/ErrorReport.h"
#include "core/Services.h"
#include "filelist/Commands.h"
#include "filelist/FileList.h"

#include <QTreeWidget>

void ClearList(Services& s) {
    StepGuard g(s.prompts, QStringLiteral("Numbrel2021/08/31.Form1.PushButton5_Click"));
    if (g.actionIf(100, [&] { return s.busy.rowsLocked(); }))
        return;
    g.step(102, [&] { s.files.view()->clear(); });
}
