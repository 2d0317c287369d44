#include "TestHome.h"

#include "sys/FileUtils.h"

#include <QDir>
#include <QFile>

TestHome::TestHome() {
    qputenv("HOME", QFile::encodeName(dir_.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir_.path() + QStringLiteral("/.config")));
    QDir(dir_.path()).mkpath(QStringLiteral(".config"));
    QDir(dir_.path()).mkpath(QStringLiteral("Desktop"));
    OverrideProgramFolder(BuiltProgramFolder());
}

QString TestHome::settingsFile() const {
    return dir_.path() + QStringLiteral("/.config/Quillane/Numbrel.conf");
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
