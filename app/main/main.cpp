#include "app/CommandLine.h"
#include "app/Form1.h"
#include "app/StartUp.h"
#include "cli/RunBatch.h"
#include "core/QtPrompts.h"

#include <QApplication>
#include <QDir>
#include <cstdio>

int main(int argc, char* argv[]) {
    QCoreApplication::setApplicationName(QStringLiteral("Numbrel"));
    QCoreApplication::setOrganizationName(QStringLiteral("Quillane"));

    // Help, the version and mistakes are answered before anything touches the window system, so they
    // work without a display too.
    CommandLine line;
    {
        const QCoreApplication core(argc, argv);
        // Numbering without the window: no display, no settings.
        if (IsBatchCommandLine(QCoreApplication::arguments()))
            return RunBatch(QCoreApplication::arguments(), QDir::currentPath());
        line = ReadCommandLine(QCoreApplication::arguments(), QDir::currentPath());
    }
    if (line.outcome == CommandLine::Outcome::Answered) {
        std::fputs(line.text.toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (line.outcome == CommandLine::Outcome::Refused) {
        std::fputs(line.text.toLocal8Bit().constData(), stderr);
        return kCommandLineMistake;
    }

    QApplication app(argc, argv);
    QtPrompts prompts;
    Form1 window(prompts);
    StartMainWindow(window, line.paths);
    return app.exec();
}
