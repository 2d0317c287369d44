#include "app/OptionsPanel.h"

#include "core/ErrorReport.h"
#include "core/FolderPicker.h"
#include "core/NumberingOptions.h"
#include "core/Prompts.h"
#include "core/Services.h"
#include "core/Settings.h"

namespace {
const QString kColorTag = QStringLiteral("Numbrel2021/08/31.Form1.PushButton4_Click");
const QString kFolderTag = QStringLiteral("Numbrel2021/08/31.Form1.PushButton7_Click");

// The colour dialog remembers the colour last chosen in it while the program runs; a dialog that
// fails to open leaves that colour as its answer.
QColor& dialogColour() {
    static QColor colour(Qt::black);
    return colour;
}
} // namespace

void ChangeColor(Services& s) {
    StepGuard g(s.prompts, kColorTag);
    bool cancelled = false;
    g.step(100, [&] {
        const std::optional<QColor> chosen = s.prompts.chooseColor(s.window);
        if (chosen)
            dialogColour() = *chosen;
        cancelled = !chosen;
    });
    // Cancel keeps the colour the user had: taking the dialog's colour anyway would change it unasked.
    if (cancelled)
        return;
    const std::int32_t value =
        ColorValue(dialogColour().red(), dialogColour().green(), dialogColour().blue());
    g.step(102, [&] { s.options.setFontColor(value); });
    g.step(104, [&] { WriteSetting(Setting::FontColor, QString::number(value)); });
}

void ChooseOutputFolder(Services& s) {
    StepGuard g(s.prompts, kFolderTag);
    QString folder, start;
    // Two steps: the picker opens even when its start folder can't be read.
    // The output folder keeps its own memory once it has one; until then it starts where the folder
    // add last looked.
    g.step(100, [&] { start = ReadSetting(Setting::LastFolderDot); });
    g.step(100, [&] {
        folder = BrowseForFolder(s.prompts, s.window, QStringLiteral("Please select folder:"), start);
    });
    if (g.actionIf(102, [&] { return folder.isEmpty(); }))
        return;
    g.step(104, [&] { WriteSetting(Setting::LastFolderDot, folder); });
    if (g.blockIf(104, [&] { return !folder.endsWith(QLatin1Char('/')); })) {
        g.step(106, [&] { s.options.setOutputFolder(folder + QLatin1Char('/')); });
        return;
    }
    g.step(108, [&] { s.options.setOutputFolder(folder); });
}
