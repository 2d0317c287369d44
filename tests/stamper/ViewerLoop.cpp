#include "ViewerLoop.h"

#include <QFile>

#include <algorithm>
#include <utility>

const char* WayName(Way way) {
    return way == Way::Tool ? "tool" : "qpdf way";
}

QString Finding::signature() const {
    return category + "|" + WayName(way) + "|" + poppler + "|" + mupdf;
}

QStringList ToolArguments(const QString& in, const QString& out) {
    return {"-m" + in, "-n", "-N01", "-Ns10", "-Nc0,0,0", "-Nx10", "-Ny10", "-d" + out};
}

ViewerLoop::ViewerLoop(QString tool, QString self, QString work, int dpi)
    : tool_(std::move(tool))
    , self_(std::move(self))
    , work_(std::move(work))
    , dpi_(dpi) {}

QList<Finding> ViewerLoop::judge(const QByteArray& pdf, const QList<Way>& ways) {
    ++judgements_;
    QList<Finding> findings;
    const QString in = work_ + "/in.pdf", out = work_ + "/out.pdf";
    WriteAll(in, pdf);
    const ViewerPages popplerIn = RenderPages(Viewer::Poppler, in, dpi_);
    const ViewerPages mupdfIn = RenderPages(Viewer::Mupdf, in, dpi_);
    const bool shownByBoth = !popplerIn.pages.isEmpty() && !mupdfIn.pages.isEmpty();
    for (Way way : ways) {
        QFile::remove(out);
        const QStringList args = ToolArguments(in, out);
        const ToolRun run =
            way == Way::Tool ? RunTool(tool_, args) : RunTool(self_, QStringList{"--qpdf-only"} + args);
        Finding f;
        f.way = way;
        const QString message = QString::fromUtf8(run.err).simplified();
        switch (run.end) {
        case ToolRun::End::NotRun:
            break; // the machine's fault, not the tool's
        case ToolRun::End::Hung:
            f.category = "hang";
            f.detail = message;
            break;
        case ToolRun::End::Crashed:
            f.category = "crash";
            f.detail = QString("exit %1: %2").arg(run.exitCode).arg(message);
            break;
        case ToolRun::End::Refused:
            if (shownByBoth) {
                f.category = "refusal";
                f.detail = message;
            }
            break;
        case ToolRun::End::Done: {
            const ViewerPages popplerOut = RenderPages(Viewer::Poppler, out, dpi_);
            const ViewerPages mupdfOut = RenderPages(Viewer::Mupdf, out, dpi_);
            const ViewerFault a = JudgeInViewer(popplerIn, popplerOut, dpi_);
            const ViewerFault b = JudgeInViewer(mupdfIn, mupdfOut, dpi_);
            if (a.empty() && b.empty())
                break;
            const bool warned = message.contains("poppler", Qt::CaseInsensitive) ||
                                message.contains("MuPDF", Qt::CaseInsensitive);
            // Viewers that count the input's pages differently can't both be matched.
            const bool disagree = !popplerIn.pages.isEmpty() && !mupdfIn.pages.isEmpty() &&
                                  popplerIn.pages.size() != mupdfIn.pages.size();
            f.category = warned ? "warned" : disagree ? "viewers disagree" : "wrong copy";
            f.poppler = a.check;
            f.mupdf = b.check;
            f.detail = (a.empty() ? QString() : "poppler: " + a.detail + "; ") +
                       (b.empty() ? QString() : "MuPDF: " + b.detail + "; ") + message;
            break;
        }
        }
        if (!f.category.isEmpty())
            findings.append(f);
    }
    return findings;
}

Recipe ViewerLoop::reduce(const Recipe& recipe, const Finding& finding, int attempts) {
    Recipe best = recipe;
    auto keeps = [&](const Recipe& r) {
        for (const Finding& f : judge(BuildPdf(r), {finding.way}))
            if (f.signature() == finding.signature())
                return true;
        return false;
    };
    // Halves of the pieces first, then quarters and so on down to single pieces, from the last
    // (what the number meets first); then the features, until nothing more goes.
    bool progress = true;
    while (progress && attempts > 0) {
        progress = false;
        for (int chunk = std::max(1, int(best.content.size()) / 2); chunk >= 1 && attempts > 0; chunk /= 2) {
            for (int end = int(best.content.size()); end > 0 && attempts > 0;) {
                const int begin = std::max(0, end - chunk);
                Recipe trial = best;
                trial.content.remove(begin, end - begin);
                --attempts;
                if (keeps(trial)) {
                    best = trial;
                    progress = true;
                }
                end = begin;
            }
        }
        for (int k = int(best.structure.size()) - 1; k >= 0 && attempts > 0; --k) {
            Recipe trial = best;
            trial.structure.removeAt(k);
            --attempts;
            if (keeps(trial)) {
                best = trial;
                progress = true;
            }
        }
        if (best.pages > 1 && attempts > 0) {
            Recipe trial = best;
            trial.pages = 1;
            --attempts;
            if (keeps(trial)) {
                best = trial;
                progress = true;
            }
        }
    }
    return best;
}
