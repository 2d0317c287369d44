#include "PdfProbe.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QXmlStreamReader>

ProcessResult RunProgram(const QString& program, const QStringList& args, int timeoutMs) {
    ProcessResult r;
    QProcess p;
    p.start(program, args);
    if (!p.waitForStarted(10000))
        return r;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return r;
}

namespace PdfProbe {

int pageCount(const QString& path) {
    ProcessResult r = RunProgram("pdfinfo", {path});
    static const QRegularExpression pagesLine(QStringLiteral("^Pages:\\s+(\\d+)"),
                                              QRegularExpression::MultilineOption);
    auto m = pagesLine.match(QString::fromLatin1(r.out));
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

int mupdfPageCount(const QString& path) {
    ProcessResult r = RunProgram("mutool", {"info", path});
    static const QRegularExpression pagesLine(QStringLiteral("^Pages:\\s+(\\d+)"),
                                              QRegularExpression::MultilineOption);
    auto m = pagesLine.match(QString::fromLatin1(r.out));
    return r.exitCode == 0 && m.hasMatch() ? m.captured(1).toInt() : -1;
}

QList<DisplayedPage> displayedPages(const QString& path, int pages) {
    QList<DisplayedPage> result(pages);
    ProcessResult r = RunProgram("pdfinfo", {"-box", "-f", "1", "-l", QString::number(pages), path});
    static const QRegularExpression cropLine(
        QStringLiteral("^Page\\s+(\\d+) CropBox:\\s+(\\S+)\\s+(\\S+)\\s+(\\S+)\\s+(\\S+)"),
        QRegularExpression::MultilineOption);
    static const QRegularExpression rotLine(QStringLiteral("^Page\\s+(\\d+) rot:\\s+(-?\\d+)"),
                                            QRegularExpression::MultilineOption);
    const QString text = QString::fromLatin1(r.out);
    for (auto it = cropLine.globalMatch(text); it.hasNext();) {
        auto m = it.next();
        int k = m.captured(1).toInt() - 1;
        if (k < 0 || k >= pages)
            continue;
        result[k].width = m.captured(4).toDouble() - m.captured(2).toDouble();
        result[k].height = m.captured(5).toDouble() - m.captured(3).toDouble();
        result[k].cropBox = m.captured(0).section(':', 1).simplified();
    }
    for (auto it = rotLine.globalMatch(text); it.hasNext();) {
        auto m = it.next();
        int k = m.captured(1).toInt() - 1;
        if (k < 0 || k >= pages)
            continue;
        result[k].rotate = ((m.captured(2).toInt() % 360) + 360) % 360;
        if (result[k].rotate == 90 || result[k].rotate == 270)
            std::swap(result[k].width, result[k].height);
    }
    return result;
}

QList<PdfWord> words(const QString& path, int page) {
    QList<PdfWord> result;
    const QString p = QString::number(page);
    ProcessResult r = RunProgram("pdftotext", {"-f", p, "-l", p, "-cropbox", "-bbox", path, "-"});
    static const QRegularExpression word(
        QStringLiteral("<word xMin=\"([-0-9.]+)\" yMin=\"([-0-9.]+)\" xMax=\"([-0-9.]+)\" "
                       "yMax=\"([-0-9.]+)\">([^<]*)</word>"));
    for (auto it = word.globalMatch(QString::fromUtf8(r.out)); it.hasNext();) {
        auto m = it.next();
        result.append({m.captured(5), m.captured(1).toDouble(), m.captured(2).toDouble(),
                       m.captured(3).toDouble(), m.captured(4).toDouble()});
    }
    return result;
}

QList<PdfWord> mupdfWords(const QString& path, int page) {
    QList<PdfWord> result;
    ProcessResult r = RunProgram("mutool", {"draw", "-F", "stext", "-o", "-", path, QString::number(page)});
    QXmlStreamReader xml(r.out);
    PdfWord word;
    auto flush = [&] {
        if (!word.text.isEmpty())
            result.append(word);
        word = PdfWord();
    };
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isEndElement() && xml.name() == QLatin1String("line"))
            flush();
        if (!xml.isStartElement() || xml.name() != QLatin1String("char"))
            continue;
        const auto a = xml.attributes();
        const QString c = a.value("c").toString();
        if (c.trimmed().isEmpty()) {
            flush();
            continue;
        }
        const QStringList quad = a.value("quad").toString().split(' ');
        if (word.text.isEmpty()) {
            word.xMin = a.value("x").toDouble();
            word.yMax = a.value("y").toDouble();
            word.yMin = quad.size() == 8 ? quad[1].toDouble() : word.yMax;
        }
        word.text += c;
        word.xMax = quad.size() == 8 ? quad[2].toDouble() : word.xMin;
    }
    return result;
}

Raster render(const QString& path, int page, int dpi, QString* errors) {
    QTemporaryDir dir;
    const QString p = QString::number(page);
    ProcessResult r = RunProgram("pdftoppm", {"-f", p, "-l", p, "-r", QString::number(dpi), "-cropbox",
                                              "-singlefile", path, dir.path() + "/page"});
    if (errors != nullptr)
        *errors = QString::fromLocal8Bit(r.err);
    return readPpm(dir.path() + "/page.ppm");
}

Raster readPpm(const QString& path) {
    Raster image;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return image;
    QByteArray data = file.readAll();
    // P6 <width> <height> <maxval> then one whitespace byte and the pixels.
    static const QRegularExpression header(QStringLiteral("^P6\\s+(\\d+)\\s+(\\d+)\\s+255\\s"));
    auto m = header.match(QString::fromLatin1(data.left(64)));
    if (!m.hasMatch())
        return image;
    image.width = m.captured(1).toInt();
    image.height = m.captured(2).toInt();
    image.rgb = data.mid(m.capturedLength(0));
    return image;
}

ProcessResult check(const QString& path) {
    ProcessResult r = RunProgram("qpdf", {"--check", path}, 120000);
    QStringList problems;
    for (const QByteArray& line : r.out.split('\n') + r.err.split('\n'))
        if (line.startsWith("ERROR") || line.startsWith("WARNING") || line.contains(": ERROR"))
            problems << QString::fromUtf8(line);
    r.out = problems.join('\n').toUtf8();
    return r;
}

} // namespace PdfProbe

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool WriteAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}
