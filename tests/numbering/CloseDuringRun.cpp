// Helper for test_numbering_window: runs the real window and closes it while the run is numbering
// its second file, leaving the ending to the window's own quit action.
//
//   numbrel_close_during_run PROGRAM_FOLDER OUTPUT_FOLDER INPUT...

#include "ScriptedPrompts.h"
#include "TestHome.h"
#include "app/Form1.h"
#include "core/ProgressBar.h"
#include "filelist/FileList.h"
#include "sys/FileUtils.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QTimer>
#include <cstdio>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 5)
        return 2;
    TestHome home;
    ScriptedPrompts prompts;
    Form1 window(prompts);
    window.Form_Load();
    window.show();
    OverrideProgramFolder(args.at(1));
    window.findChild<QLineEdit*>(QStringLiteral("Text5"))->setText(args.at(2));
    for (qsizetype k = 3; k < args.size(); ++k)
        window.services().files.AppendPath(args.at(k));

    // Close once the tool is at work on the second file: its run script exists only while it runs.
    const QString second = QStringLiteral("Processing: ") + GetFileNamePart(args.at(4));
    const QString script = QFile::decodeName(qgetenv("TEMP")) + QStringLiteral("/temp.bat");
    auto* bar = window.findChild<ProgressBar*>(QStringLiteral("ProgressBar1"));
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (bar->text() == second && QFile::exists(script)) {
            watch.stop();
            std::puts("closing");
            std::fflush(stdout);
            window.close();
        }
    });
    watch.start(10);
    window.PushButton2_Click();
    std::puts("run ended");
    return 3;
}
