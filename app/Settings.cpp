#include "app/Settings.h"

#include <QSettings>

namespace {
// The store's section is the file name "Numbrel" under the organisation folder "Quillane". A fresh
// QSettings for each call keeps no cache of our own: another copy of the program writing the same
// key is seen at the next read.
QSettings store() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, "Quillane", "Numbrel");
}
} // namespace

QString ReadSetting(const QString& key, const QString& defaultValue) {
    const QSettings s = store();
    if (!s.contains(key))
        return defaultValue;
    return s.value(key).toString();
}

void WriteSetting(const QString& key, const QString& value) {
    QSettings s = store();
    s.setValue(key, value);
    s.sync();
    if (s.status() != QSettings::NoError)
        throw SettingsError("Could not save the setting \"" + key.toStdString() + "\" to " +
                            s.fileName().toStdString());
}

QString SettingsFilePath() {
    return store().fileName();
}
