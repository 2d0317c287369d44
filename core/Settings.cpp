#include "core/Settings.h"

#include "sys/FileDescriptor.h"
#include "sys/FileUtils.h"

#include <QFile>
#include <QSettings>
#include <QStandardPaths>

#include <optional>
#include <string>

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

// Where QSettings keeps the store, worked out without it: QSettings opens the file as soon as it is
// made, and a FIFO put in the file's place would then stop the program for good. Fixed at the first
// call, as QSettings fixes it for the rest of the program.
const QString& storePath() {
    static const QString path = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                                QStringLiteral("/Quillane/Numbrel.conf");
    return path;
}

// The store's section is the file name "Numbrel" under the organisation folder "Quillane". A fresh
// QSettings for each call keeps no cache of our own: another copy of the program writing the same
// key is seen at the next read.
QSettings store() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, "Quillane", "Numbrel");
}

// Whether the store's refusal has been told since it was last found sound: it is told once.
bool refusalTold = false;

// What keeps the store from being read, looked at before anything opens it; nothing for a store that
// can be read or isn't there yet (a store without keys). QSettings would take a file it may not read
// for an empty store: every read would quietly give the default, and the next write would replace
// everything stored with that one key. A FIFO, a device or a folder in its place is no store either.
std::optional<std::string> storeProblem() {
    const QByteArray path = QFile::encodeName(storePath());
    struct stat st {};
    if (::stat(path.constData(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            refusalTold = false;
            return std::nullopt;
        }
        return std::string(std::strerror(errno));
    }
    if (!S_ISREG(st.st_mode))
        return std::string("it is not a file");
    // Only a plain file gets this far, so opening it can't block.
    const FileDescriptor fd(::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!fd.isOpen())
        return std::string(std::strerror(errno));
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::string("it is not a file");
    refusalTold = false;
    return std::nullopt;
}

SettingsError refusal(const std::string& problem) {
    return SettingsError("The settings file " + QFile::encodeName(storePath()).toStdString() +
                         " cannot be read (" + problem +
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
    // As the start-up box says: the options start from their defaults.
    if (storeProblem())
        return defaultValue;
    const QSettings s = store();
    if (!s.contains(name))
        return defaultValue;
    return s.value(name).toString();
}

void CheckSettingsStore() {
    if (const std::optional<std::string> problem = storeProblem()) {
        refusalTold = true;
        throw refusal(*problem);
    }
}

void WriteSetting(Setting key, const QString& value) {
    const QString name = SettingName(key);
    if (const std::optional<std::string> problem = storeProblem()) {
        // Told once; after that the user knows that changes are not saved.
        if (refusalTold)
            return;
        refusalTold = true;
        throw refusal(*problem);
    }
    QSettings s = store();
    s.setValue(name, value);
    s.sync();
    if (s.status() != QSettings::NoError)
        throw SettingsError("Could not save the setting \"" + name.toStdString() + "\" to " +
                            s.fileName().toStdString());
}

QString SettingsFilePath() {
    return storePath();
}
