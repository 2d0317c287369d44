#include "cli/LoadFiles.h"

#include <QDir>
#include <QFileInfo>

namespace {
const QChar kThorn(0x00FE);
const char kSeparator = '\x14';

bool hasLineBreak(const QString& text) {
    return text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'));
}

QByteArray quoted(const QString& text) {
    return QString(kThorn).toUtf8() + text.toUtf8() + QString(kThorn).toUtf8();
}
} // namespace

QString PathFromLoadFile(const QString& copy, const QString& loadFile) {
    return QDir(QFileInfo(loadFile).absolutePath()).relativeFilePath(copy);
}

QString OpticonFieldProblem(const QString& text) {
    if (text.contains(QLatin1Char(',')))
        return QStringLiteral("a comma");
    if (hasLineBreak(text))
        return QStringLiteral("a line break");
    return {};
}

QString ConcordanceFieldProblem(const QString& text) {
    if (text.contains(kThorn))
        return QStringLiteral("a þ");
    if (text.contains(QChar(0x14)))
        return QStringLiteral("the character 0x14");
    if (hasLineBreak(text))
        return QStringLiteral("a line break");
    return {};
}

QByteArray OpticonText(const std::vector<LoadFileDocument>& documents, const QString& volume,
                       const QString& loadFile) {
    QByteArray text;
    const QByteArray vol = volume.toUtf8();
    for (const LoadFileDocument& d : documents) {
        const QByteArray path = PathFromLoadFile(d.copy, loadFile).toUtf8();
        for (qsizetype k = 0; k < d.keys.size(); ++k) {
            text += d.keys.at(k).toUtf8() + ',' + vol + ',' + path + ',';
            if (k == 0)
                text += "Y,,," + QByteArray::number(d.keys.size());
            else
                text += ",,,";
            text += "\r\n";
        }
    }
    return text;
}

QByteArray ConcordanceText(const std::vector<LoadFileDocument>& documents, const QString& loadFile,
                           bool header) {
    QByteArray text;
    const auto row = [&](const QStringList& fields) {
        for (qsizetype k = 0; k < fields.size(); ++k) {
            if (k > 0)
                text += kSeparator;
            text += quoted(fields.at(k));
        }
        text += "\r\n";
    };
    if (header) {
        text += "\xEF\xBB\xBF";
        row({QStringLiteral("BEGBATES"), QStringLiteral("ENDBATES"), QStringLiteral("PGCOUNT"),
             QStringLiteral("FILENAME"), QStringLiteral("FILEPATH")});
    }
    for (const LoadFileDocument& d : documents)
        if (!d.keys.isEmpty())
            row({d.keys.first(), d.keys.last(), QString::number(d.keys.size()), QFileInfo(d.copy).fileName(),
                 PathFromLoadFile(d.copy, loadFile)});
    return text;
}
