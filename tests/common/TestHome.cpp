#include "TestHome.h"

#include "core/Settings.h"
#include "sys/FileUtils.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtGlobal>

namespace {
void setHome(const QString& home) {
    qputenv("HOME", QFile::encodeName(home));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home + QStringLiteral("/.config")));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(home + QStringLiteral("/.cache")));
    qputenv("XDG_STATE_HOME", QFile::encodeName(home + QStringLiteral("/.local/state")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home + QStringLiteral("/.local/share")));
    qunsetenv("XDG_RUNTIME_DIR");
}

QString programHome() {
    const QString given = QFile::decodeName(qgetenv("NUMBREL_TEST_HOME"));
    if (!given.isEmpty() && QFile::decodeName(qgetenv("HOME")) == given)
        return given;
    // Started by hand: a home of its own, for as long as the program runs.
    static QTemporaryDir own;
    setHome(own.path());
    return own.path();
}
} // namespace

TestHome::TestHome()
    : path_(programHome()) {
    QDir(path_).mkpath(QStringLiteral(".config"));
    QDir(path_).mkpath(QStringLiteral("Desktop"));
    OverrideProgramFolder(BuiltProgramFolder());
    // The one guard that matters: a test writing settings must never write the user's own.
    if (!SettingsFilePath().startsWith(path_ + QLatin1Char('/')))
        qFatal("The settings store %s is not in the test's home %s", qPrintable(SettingsFilePath()),
               qPrintable(path_));
}

QString TestHome::settingsFile() const {
    return path_ + QStringLiteral("/.config/Quillane/Numbrel.conf");
}

void TestHome::clearSettings() const {
    QFile::remove(settingsFile());
}

QString BuiltProgramFolder() {
    return QStringLiteral(NUMBREL_PROGRAM_DIR);
}
QString CorpusFolder() {
    return QStringLiteral(NUMBREL_CORPUS_DIR);
}
QString SourceFolder() {
    return QStringLiteral(NUMBREL_SOURCE_DIR);
}
