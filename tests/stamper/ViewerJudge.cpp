#include "ViewerJudge.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>

namespace {

int Luminance(const unsigned char* p) {
    return (p[0] * 30 + p[1] * 59 + p[2] * 11) / 100;
}

// pdftoppm names its pages with as many digits as the last page's number needs: sort by number.
int PageNumberIn(const QString& name) {
    static const QRegularExpression digits(QStringLiteral("(\\d+)\\.p[pn]m$"));
    const auto m = digits.match(name);
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

} // namespace

const char* ViewerName(Viewer v) {
    return v == Viewer::Poppler ? "poppler" : "MuPDF";
}

ViewerPages RenderPages(Viewer viewer, const QString& path, int dpi, int maxPages) {
    ViewerPages result;
    QTemporaryDir dir;
    ProcessResult r;
    const QString r_ = QString::number(dpi);
    if (viewer == Viewer::Poppler)
        r = RunProgram("pdftoppm",
                       {"-r", r_, "-cropbox", "-l", QString::number(maxPages), path, dir.path() + "/p"},
                       60000);
    else
        r = RunProgram("mutool",
                       {"draw", "-q", "-r", r_, "-c", "rgb", "-o", dir.path() + "/p%d.ppm", path,
                        QString("1-%1").arg(maxPages)},
                       60000);
    result.ran = r.exitCode >= 0;
    result.errors = QString::fromLocal8Bit(r.err.left(400)).simplified();
    QList<std::pair<int, QString>> files;
    for (const QString& name : QDir(dir.path()).entryList({"*.ppm"}, QDir::Files))
        files.append({PageNumberIn(name), dir.filePath(name)});
    std::sort(files.begin(), files.end());
    for (const auto& f : files) {
        Raster raster = PdfProbe::readPpm(f.second);
        if (raster.valid())
            result.pages.append(raster);
    }
    return result;
}

ToolRun RunTool(const QString& program, const QStringList& args, int timeoutMs) {
    ToolRun run;
    QProcess p;
    // A loaded machine can fail to start a process now and then: that is no end of the tool's.
    bool started = false;
    for (int attempt = 0; attempt < 3 && !started; ++attempt) {
        p.start(program, args);
        started = p.waitForStarted(10000);
    }
    if (!started) {
        run.end = ToolRun::End::NotRun;
        run.err = "could not be started";
        return run;
    }
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        run.end = ToolRun::End::Hung;
        run.err = p.readAllStandardError().left(400);
        return run;
    }
    run.err = p.readAllStandardError().left(2000);
    if (p.exitStatus() != QProcess::NormalExit) {
        run.end = ToolRun::End::Crashed;
        return run;
    }
    run.exitCode = p.exitCode();
    // The tool's own ends: 0 done, 1 refused with a reason, 2 a usage error. Anything else, or a
    // refusal without a message, is no end the tool means.
    if (run.exitCode == 0)
        run.end = ToolRun::End::Done;
    else if ((run.exitCode == 1 || run.exitCode == 2) && !run.err.trimmed().isEmpty())
        run.end = ToolRun::End::Refused;
    else
        run.end = ToolRun::End::Crashed;
    return run;
}

PixelBox NumberBox(const QString& text, int height, int dpi) {
    // Helvetica's digits are 0.556 of the size wide; its digits reach 0.72 above the baseline.
    const double s = dpi / 72.0, size = 10, left = 10, bottom = 10;
    const double width = 0.556 * size * std::max<qsizetype>(1, text.size());
    const int margin = 2;
    PixelBox b;
    b.x0 = int(std::floor((left - 1) * s)) - margin;
    b.x1 = int(std::ceil((left + width + 1) * s)) + margin;
    b.y0 = height - int(std::ceil((bottom + 0.75 * size + 1) * s)) - margin;
    b.y1 = height - int(std::floor((bottom - 0.25 * size) * s)) + margin;
    return b;
}

ViewerFault JudgeInViewer(const ViewerPages& input, const ViewerPages& copy, int dpi, long long firstNumber) {
    if (copy.pages.isEmpty())
        return {"copy not shown", copy.errors};
    // A viewer that shows no page of the input has nothing to compare: the number must show.
    const bool compare = !input.pages.isEmpty();
    if (compare && input.pages.size() != copy.pages.size())
        return {"page count",
                QString("%1 pages, the input %2").arg(copy.pages.size()).arg(input.pages.size())};
    for (int k = 0; k < copy.pages.size(); ++k) {
        const Raster& b = copy.pages[k];
        const QString number = QString::number(firstNumber + k);
        const PixelBox box = NumberBox(number, b.height, dpi);
        const Raster* a = compare ? &input.pages[k] : nullptr;
        if (a != nullptr && (a->width != b.width || a->height != b.height))
            return {"page size", QString("page %1: %2x%3 pixels, the input %4x%5")
                                     .arg(k + 1)
                                     .arg(b.width)
                                     .arg(b.height)
                                     .arg(a->width)
                                     .arg(a->height)};
        int changedOutside = 0, darkNew = 0, lightBefore = 0;
        QString first;
        for (int y = 0; y < b.height; ++y)
            for (int x = 0; x < b.width; ++x) {
                const bool inBox = x >= box.x0 && x <= box.x1 && y >= box.y0 && y <= box.y1;
                const unsigned char* pb = b.pixel(x, y);
                const unsigned char* pa = a != nullptr ? a->pixel(x, y) : nullptr;
                if (inBox) {
                    // Black over the input's pixel: darker by most of what it had to give.
                    const int before = pa != nullptr ? Luminance(pa) : 255;
                    lightBefore += before >= 60 ? 1 : 0;
                    darkNew += before - Luminance(pb) >= std::max(25, before * 4 / 10) ? 1 : 0;
                } else if (pa != nullptr && !std::equal(pa, pa + 3, pb) && changedOutside++ == 0) {
                    first = QString("%1,%2").arg(x).arg(y);
                }
            }
        if (changedOutside > 0)
            return {"pixels changed", QString("page %1: %2 pixels outside the number, first at %3")
                                          .arg(k + 1)
                                          .arg(changedOutside)
                                          .arg(first)};
        // Where the input's page is dark under the number's box, black on black can't show.
        if (lightBefore >= 8 && darkNew < 4)
            return {"number missing", QString("page %1: no dark pixels in the number's box").arg(k + 1)};
    }
    return {};
}
