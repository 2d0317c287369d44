#pragma once
// A temporary folder tree built from relative paths.

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <sys/stat.h>

// A temporary tree that "nobody" may walk, so that permission tests can run as root too.
class TempTree {
public:
    TempTree() {
        QFile::setPermissions(dir_.path(), QFileDevice::Permissions(0x7755));
        root_ = dir_.path() + QLatin1Char('/');
    }
    ~TempTree() {
        for (const QString& folder : std::as_const(denied_))
            QFile::setPermissions(folder,
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    QString root() const { return root_; }
    QString abs(const QString& relative) const { return root_ + relative; }
    QString rel(const QString& absolute) const {
        return absolute.startsWith(root_) ? absolute.mid(root_.size()) : absolute;
    }
    QStringList rel(const QStringList& absolute) const {
        QStringList out;
        for (const QString& path : absolute)
            out.append(rel(path));
        return out;
    }
    QStringList abs(const QStringList& relative) const {
        QStringList out;
        for (const QString& path : relative)
            out.append(abs(path));
        return out;
    }
    bool folder(const QString& relative) const { return QDir().mkpath(abs(relative)); }
    bool file(const QString& relative) const {
        QFile f(abs(relative));
        return f.open(QIODevice::WriteOnly) && f.write("%PDF-1.4\n") > 0;
    }
    // "link=>target", target relative to the tree
    bool link(const QString& description) const {
        const QStringList parts = description.split(QStringLiteral("=>"));
        return parts.size() == 2 && QFile::link(abs(parts[1]), abs(parts[0]));
    }
    bool fifo(const QString& relative) const {
        return ::mkfifo(QFile::encodeName(abs(relative)).constData(), 0644) == 0;
    }
    bool deny(const QString& relative) {
        denied_.append(abs(relative));
        return QFile::setPermissions(abs(relative), QFileDevice::Permissions());
    }

private:
    QTemporaryDir dir_;
    QString root_;
    QStringList denied_;
};
