#pragma once
// Gives a test its own home: a temporary HOME and XDG_CONFIG_HOME (so the settings store and the
// desktop folder are the test's own), and the real program folder of the build.

#include <QString>
#include <QTemporaryDir>

class TestHome {
public:
    TestHome();
    QString path() const { return dir_.path(); }
    QString settingsFile() const;
    QString desktop() const { return path() + QStringLiteral("/Desktop/"); }
    // Removes the settings file, as on a first start.
    void clearSettings() const;

private:
    QTemporaryDir dir_;
};

// The build's program folder (build/bin) and the test data folders.
QString BuiltProgramFolder();
QString CorpusFolder();
QString SourceFolder();
