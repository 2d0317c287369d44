#include "cli/Manifest.h"

#include "sys/PendingCopy.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Quoted when it holds a comma, a quote or a line break; quotes doubled.
QByteArray field(const QString& text) {
    QByteArray bytes = text.toUtf8();
    if (!bytes.contains(',') && !bytes.contains('"') && !bytes.contains('\n') && !bytes.contains('\r'))
        return bytes;
    bytes.replace("\"", "\"\"");
    return '"' + bytes + '"';
}

mode_t fileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}
} // namespace

QByteArray ManifestText(const std::vector<ManifestRow>& rows) {
    QByteArray text = "input,output,pages,first,last,status,message,begbates,endbates\r\n";
    for (const ManifestRow& r : rows) {
        const QString fields[] = {r.input,  r.output,  r.pages,    r.first,   r.last,
                                  r.status, r.message, r.begBates, r.endBates};
        bool firstField = true;
        for (const QString& f : fields) {
            if (!firstField)
                text += ',';
            text += field(f);
            firstField = false;
        }
        text += "\r\n";
    }
    return text;
}

bool WriteWholeFile(const QString& path, const QByteArray& bytes) {
    PendingCopy copy(QFile::encodeName(QFileInfo(path).absolutePath()));
    if (!copy.isOpen())
        return false;
    for (qsizetype at = 0; at < bytes.size();) {
        const ssize_t n = ::write(copy.fd(), bytes.constData() + at, size_t(bytes.size() - at));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        at += n;
    }
    return copy.complete(fileMode()) && copy.publishAs(QFile::encodeName(path));
}
