#pragma once
// The per-user settings store: text values under "Quillane" / "Numbrel". Every write is synced at
// once, so a value survives a crash. A missing key yields the caller's default; an empty stored
// text stays empty.

#include <QString>
#include <stdexcept>

class SettingsError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Every value the program keeps. Each one's stored text and default live in one table
// (Settings.cpp), so a key can't be mistyped at one reader or writer.
enum class Setting {
    FirstNumber,   // "First Number", default 1
    LeftMargin,    // "Left Margin", default 10
    BottomMargin,  // "Bottom Margin", default 10
    FontSize,      // "Font Size", default 10
    FontColor,     // "Font Color", default 0 (black)
    OutputFolder,  // "Text5", default the desktop folder
    Extension,     // "Extension", default pdf (the folder add's file type)
    LastFolder,    // "LastFolder", default empty (where the folder add last looked)
    LastFolderDot, // "LastFolderDot", default LastFolder (where the output folder was last chosen)
};

// The key's text in the store.
QString SettingName(Setting key);
// The key's default. Worked out when asked: the desktop folder throws when it is unknown, and
// LastFolderDot's default reads the store.
QString SettingDefault(Setting key);

// The stored value, else the key's default; the default is worked out first, even when a value is
// stored, so a default that can't be worked out is reported either way. A store that is there but
// can't be read (see CheckSettingsStore) gives the default.
QString ReadSetting(Setting key);
// The same with the caller's default.
QString ReadSetting(Setting key, const QString& defaultValue);
// Throws SettingsError when the store is there but can't be read (no permission, or not a plain file:
// a FIFO, a device, a folder), which start-up reports. The store's file is looked at, never opened
// unless it is a plain file.
void CheckSettingsStore();
// Throws SettingsError when the store refuses the write. A store that can't be read is never written
// (the write would replace everything stored with this one key); that is told once (by
// CheckSettingsStore or the first such write), and later writes are quietly not saved.
void WriteSetting(Setting key, const QString& value);
// Where the store lives (for messages and tests).
QString SettingsFilePath();
