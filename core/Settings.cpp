#include "core/Settings.h"

#include "sys/FileDescriptor.h"
#include "sys/FileUtils.h"

#include <QFile>
#include <QSettings>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
struct SettingEntry {
    Setting key;
    const char* name;
    QString (*defaultValue)();
};

// The stored texts are those of every earlier version: changing one would lose the user's value.
const SettingEntry kSettings[] = {
    {Setting::FirstNumber, "First Number", [] { return QStringLiteral("1"); }},
    {Setting::LeftMargin, "Left Margin", [] { return QStringLiteral("10"); }},
    {Setting::BottomMargin, "Bottom Margin", [] { return QStringLiteral("10"); }},
    {Setting::FontSize, "Font Size", [] { return QStringLiteral("10"); }},
    {Setting::FontColor, "Font Color", [] { return QStringLiteral("0"); }},
    {Setting::OutputFolder, "Text5", [] { return GetDesktopFolder(); }},
    {Setting::Extension, "Extension", [] { return QStringLiteral("pdf"); }},
    {Setting::LastFolder, "LastFolder", [] { return QString(); }},
    {Setting::LastFolderDot, "LastFolderDot", [] { return ReadSetting(Setting::LastFolder); }},
};

const SettingEntry& entry(Setting key) {
    for (const SettingEntry& e : kSettings) {
        if (e.key == key)
            return e;
    }
    throw std::out_of_range("unknown setting");
}

// The store's section is the file name "Numbrel" under the organisation folder "Quillane". A fresh
// QSettings for each call keeps no cache of our own: another copy of the program writing the same
// key is seen at the next read.
QSettings store() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, "Quillane", "Numbrel");
}

// QSettings takes a file it may not read for an empty store: every read would quietly give the
// default, and the next write would replace everything stored with that one key. A store that is
// there but can't be read is refused instead, for reads and writes alike. A missing one is a store
// without keys.
void requireReadableStore(const QString& fileName) {
    const QByteArray path = QFile::encodeName(fileName);
    const FileDescriptor fd(::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!fd.isOpen() && (errno == ENOENT || errno == ENOTDIR))
        return;
    std::string problem;
    if (!fd.isOpen()) {
        problem = std::strerror(errno);
    } else {
        struct stat st {};
        if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
            problem = "it is not a file";
    }
    if (!problem.empty())
        throw SettingsError("The settings file " + path.toStdString() + " cannot be read (" + problem +
                            "): the options start from their defaults, and changes are not saved.");
}
} // namespace

QString SettingName(Setting key) {
    return QString::fromLatin1(entry(key).name);
}

QString SettingDefault(Setting key) {
    return entry(key).defaultValue();
}

QString ReadSetting(Setting key) {
    const QString defaultValue = SettingDefault(key);
    return ReadSetting(key, defaultValue);
}

QString ReadSetting(Setting key, const QString& defaultValue) {
    const QString name = SettingName(key);
    const QSettings s = store();
    requireReadableStore(s.fileName());
    if (!s.contains(name))
        return defaultValue;
    return s.value(name).toString();
}

void WriteSetting(Setting key, const QString& value) {
    const QString name = SettingName(key);
    QSettings s = store();
    requireReadableStore(s.fileName());
    s.setValue(name, value);
    s.sync();
    if (s.status() != QSettings::NoError)
        throw SettingsError("Could not save the setting \"" + name.toStdString() + "\" to " +
                            s.fileName().toStdString());
}

QString SettingsFilePath() {
    return store().fileName();
}
