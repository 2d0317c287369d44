#include "app/CommandLine.h"

#include "cli/BatchOptions.h"
#include "core/AppTitle.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>

namespace {
// Options that QApplication takes out of the arguments later, on its own: they are read here only so
// that they are neither refused nor taken for files (nor their values).
struct WindowSystemOption {
    const char* name;
    bool takesValue;
};
constexpr WindowSystemOption kWindowSystemOptions[] = {
    {"platform", true},        {"platformpluginpath", true},
    {"platformtheme", true},   {"plugin", true},
    {"qwindowgeometry", true}, {"qwindowtitle", true},
    {"qwindowicon", true},     {"geometry", true},
    {"title", true},           {"icon", true},
    {"display", true},         {"name", true},
    {"visual", true},          {"session", true},
    {"style", true},           {"stylesheet", true},
    {"reverse", false},        {"widgetcount", false},
    {"sync", false},           {"nograb", false},
    {"dograb", false},
};

QString absolutePath(const QString& argument, const QString& workingFolder) {
    // Cleaned as a file manager hands over a dropped item: no "." parts, no doubled or final "/".
    return QDir::cleanPath(QDir(workingFolder).absoluteFilePath(argument));
}
} // namespace

CommandLine ReadCommandLine(const QStringList& arguments, const QString& workingFolder) {
    QCommandLineParser parser;
    // Qt's own options are spelled with one dash ("-platform offscreen"); ours take one or two.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(
        QStringLiteral("Stamps page numbers onto many PDF files in one batch. The files and folders "
                       "named are added to the list just as if they were dropped on it."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the version and exit."));
    parser.addOption(help);
    parser.addOption(version);
    for (const WindowSystemOption& o : kWindowSystemOptions) {
        QCommandLineOption option(QString::fromLatin1(o.name));
        if (o.takesValue)
            option.setValueName(QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    parser.addPositionalArgument(
        QStringLiteral("FILE|FOLDER"),
        QStringLiteral("A file to add, or a folder whose files (its whole tree) are added."),
        QStringLiteral("[FILE|FOLDER]..."));

    CommandLine line;
    if (!parser.parse(arguments)) {
        line.outcome = CommandLine::Outcome::Refused;
        QString program = QFileInfo(arguments.value(0, QStringLiteral("numbrel"))).fileName();
        line.text = program + QStringLiteral(": ") + parser.errorText().simplified() +
                    QStringLiteral(" Try '") + program + QStringLiteral(" --help'.\n");
        return line;
    }
    if (parser.isSet(help)) {
        line.outcome = CommandLine::Outcome::Answered;
        line.text = parser.helpText() + QLatin1Char('\n') +
                    BatchUsageText(QFileInfo(arguments.value(0, QStringLiteral("numbrel"))).fileName());
        return line;
    }
    if (parser.isSet(version)) {
        line.outcome = CommandLine::Outcome::Answered;
        line.text = kProductName + QStringLiteral(" ") + QStringLiteral(NUMBREL_VERSION) + QLatin1Char('\n');
        return line;
    }
    for (const QString& argument : parser.positionalArguments()) {
        // An empty argument names nothing (it would otherwise stand for the working folder).
        if (!argument.isEmpty())
            line.paths.append(absolutePath(argument, workingFolder));
    }
    return line;
}
