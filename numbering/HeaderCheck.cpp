#include "numbering/HeaderCheck.h"

#include "sys/ErrnoError.h"
#include "sys/FileDescriptor.h"
#include "sys/FileUtils.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr int kCharactersNeeded = 9;
} // namespace

QString ReadFileText(const QString& path) {
    if (!PathExists(path))
        return {};
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    if (::stat(name.constData(), &st) != 0)
        throw ErrnoError(errno, path);
    if (S_ISDIR(st.st_mode))
        throw ErrnoError(EISDIR, path);
    // A FIFO or a device has no length; opening one could block, so it is never opened.
    if (!S_ISREG(st.st_mode) || st.st_size <= 0)
        return QStringLiteral("empty file");

    const FileDescriptor fd(::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!fd.isOpen())
        throw ErrnoError(errno, path);
    char buffer[2 * kCharactersNeeded];
    ssize_t filled = 0;
    while (filled < static_cast<ssize_t>(sizeof buffer)) {
        const ssize_t n = ::read(fd.get(), buffer + filled, sizeof buffer - static_cast<size_t>(filled));
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw ErrnoError(errno, path);
        }
        filled += n;
    }

    const auto first = static_cast<unsigned char>(buffer[0]);
    if (filled > 0 && (first == 0xFF || first == 0xFE)) {
        QString text;
        for (ssize_t i = 0; i + 1 < filled; i += 2)
            text.append(QChar(static_cast<char16_t>(static_cast<unsigned char>(buffer[i]) |
                                                    (static_cast<unsigned char>(buffer[i + 1]) << 8))));
        return text;
    }
    return QString::fromLatin1(buffer, std::min<ssize_t>(filled, kCharactersNeeded));
}

double LeadingNumber(const QString& text) {
    std::string number;
    bool digits = false, point = false, exponent = false, exponentSign = false;
    for (const QChar c : text) {
        if (c == QLatin1Char(' ') || c == QLatin1Char('\t'))
            continue;
        const char ch = c.unicode() < 128 ? static_cast<char>(c.unicode()) : '\0';
        if (ch >= '0' && ch <= '9') {
            number += ch;
            digits = true;
            exponentSign = false;
        } else if ((ch == '+' || ch == '-') && (number.empty() || exponentSign)) {
            number += ch;
            exponentSign = false;
        } else if (ch == '.' && !point && !exponent) {
            number += ch;
            point = true;
        } else if ((ch == 'e' || ch == 'E' || ch == 'd' || ch == 'D') && digits && !exponent) {
            number += 'e';
            exponent = true;
            exponentSign = true;
        } else {
            break;
        }
    }
    if (!digits)
        return 0;
    // An exponent marker without digits after it adds nothing.
    while (!number.empty() && (number.back() == 'e' || number.back() == '+' || number.back() == '-'))
        number.pop_back();
    bool ok = false;
    const double value = QString::fromLatin1(number).toDouble(&ok);
    return ok ? value : 0;
}

VersionVerdict IsPdfVersionRefused(const QString& text) {
    VersionVerdict verdict;
    if (text.size() <= 8)
        return verdict;
    verdict.version = text.mid(5, 3);
    verdict.refused = LeadingNumber(verdict.version) > 1.6;
    return verdict;
}
