// Helper for the kill drill: runs the real window with the build's own tool on the listed files,
// prints the last box's text and ends. Killed from outside at any point of its run.
//
//   numbrel_run_helper OUTPUT_FOLDER INPUT...
//
// With NUMBREL_KILL_AT_RENAME set, the kernel kills it at the run's first rename(): the moment a
// numbered copy that replaces an existing output is delivered.

#include "KilledAtRename.h"
#include "ScriptedPrompts.h"
#include "TestHome.h"
#include "app/Form1.h"
#include "filelist/FileList.h"

#include <QApplication>
#include <QLineEdit>
#include <cstdio>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3)
        return 2;
    TestHome home;
    ScriptedPrompts prompts;
    Form1 window(prompts);
    window.Form_Load();
    window.show();
    window.findChild<QLineEdit*>(QStringLiteral("Text5"))->setText(args.at(1));
    for (qsizetype k = 2; k < args.size(); ++k)
        window.services().files.AppendPath(args.at(k));
    if (qEnvironmentVariableIsSet("NUMBREL_KILL_AT_RENAME") && !KillAtRename())
        return 3;
    window.PushButton2_Click();
    for (const QString& message : prompts.messages())
        std::printf("%s\n", qPrintable(message));
    return 0;
}
