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

// Throws SettingsError when the store is there but can't be read.
QString ReadSetting(const QString& key, const QString& defaultValue);
// Throws SettingsError when the store refuses the write, or can't be read (a write would then replace
// everything stored with this one key).
void WriteSetting(const QString& key, const QString& value);
// Where the store lives (for messages and tests).
QString SettingsFilePath();
