#include "numbering/RunScript.h"

#include "sys/ErrnoError.h"
#include "sys/FileDescriptor.h"
#include "sys/FileUtils.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <string>
#include <unistd.h>

std::int16_t ColorComponent(std::int32_t colour, int k) {
    if (k < 1 || k > 3 || colour < 0 || colour > 0xFFFFFF)
        return -1;
    return static_cast<std::int16_t>((colour >> (8 * (k - 1))) & 0xFF);
}

bool IsLineBreak(QChar c) {
    const char16_t u = c.unicode();
    return u == u'\n' || u == u'\r' || u == u'\v' || u == u'\f' || u == 0x85 || u == 0x2028 || u == 0x2029;
}

QString OnOneLine(QString text) {
    for (QChar& c : text)
        if (IsLineBreak(c))
            c = QLatin1Char(' ');
    return text;
}

QString ToolArguments(const QString& firstNumber, const QString& fontSize, std::int32_t colour,
                      const QString& leftMargin, const QString& bottomMargin) {
    return QStringLiteral(" -mtemp1.pdf -n -N0") + OnOneLine(firstNumber) + QStringLiteral(" -Ns") +
           OnOneLine(fontSize) + QStringLiteral(" -Nc") + QString::number(ColorComponent(colour, 1)) +
           QLatin1Char(',') + QString::number(ColorComponent(colour, 2)) + QLatin1Char(',') +
           QString::number(ColorComponent(colour, 3)) + QStringLiteral(" -Nx") + OnOneLine(leftMargin) +
           QStringLiteral(" -Ny") + OnOneLine(bottomMargin) + QStringLiteral(" -dtemp2.pdf");
}

QString RunScriptText(const QString& toolPath, const QString& arguments) {
    return QLatin1Char('"') + toolPath + QLatin1Char('"') + arguments + QStringLiteral("\r\ndel temp1.pdf");
}

void WriteFileText(const QString& text, const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    if (IsVisibleFile(path)) {
        if (::unlink(name.constData()) != 0 && errno != ENOENT)
            throw ErrnoError(errno, path);
    }
    // O_EXCL with O_NOFOLLOW: whatever was planted at this name since, a link included, makes the
    // write fail instead of being written through.
    FileDescriptor fd(::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.isOpen())
        throw ErrnoError(errno, path);
    const QByteArray bytes = text.toUtf8();
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd.get(), data, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : EIO;
            fd.reset();
            ::unlink(name.constData());
            throw ErrnoError(error, path);
        }
        data += n;
        left -= n;
    }
    if (!fd.close()) {
        const int error = errno;
        ::unlink(name.constData());
        throw ErrnoError(error, path);
    }
}
