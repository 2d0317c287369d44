#pragma once
// A test's home: HOME and XDG_CONFIG_HOME (and the other XDG folders) of the test program's own, so the
// settings store, the desktop folder and every other file of the user's are the test's, never the real
// ones. ctest sets them before the program starts (numbrel_private_home in tests/CMakeLists.txt); a test
// program started by hand makes a temporary home for itself instead. Either way the home is one for
// the whole program (the settings store's place is fixed at its first use), and making a TestHome
// stops the program at once if the store is anywhere else.
// It also points the program folder at the build's.

#include <QString>

class TestHome {
public:
    TestHome();
    QString path() const { return path_; }
    QString settingsFile() const;
    QString desktop() const { return path() + QStringLiteral("/Desktop/"); }
    // Removes the settings file, as on a first start.
    void clearSettings() const;

private:
    QString path_;
};

// The build's program folder (build/bin) and the test data folders.
QString BuiltProgramFolder();
QString CorpusFolder();
QString SourceFolder();
