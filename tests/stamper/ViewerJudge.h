#pragma once
// Judges a numbered copy the way a reader of it would: poppler (pdftoppm) and MuPDF (mutool draw)
// render the input and the copy; in each viewer the copy must show as many pages as the input, the
// number must show at its place (dark pixels in its box: the page number in black Helvetica 10 pt,
// 10 pt from the left and bottom of the visible page) and every pixel outside that box must be
// what that viewer shows for the input.

#include "PdfProbe.h"

#include <QList>
#include <QString>

struct ViewerPages {
    bool ran = false;    // the renderer ran to its end (whatever it thought of the file)
    QList<Raster> pages; // the pages it drew, in order
    QString errors;      // its error output, shortened
};

enum class Viewer { Poppler, Mupdf };
const char* ViewerName(Viewer v);

// All pages (up to `maxPages`) at `dpi`, their crop boxes as the viewer shows them.
ViewerPages RenderPages(Viewer viewer, const QString& path, int dpi, int maxPages = 8);

// How one run of the tool ended.
struct ToolRun {
    enum class End { Done, Refused, Crashed, Hung, NotRun } end = End::Crashed;
    int exitCode = -1;
    QByteArray err;
};

// Runs `program` with `args` (the tool's command line), `timeoutMs` before it counts as hung.
ToolRun RunTool(const QString& program, const QStringList& args, int timeoutMs = 30000);

// What a viewer shows wrong in the copy: empty when nothing. `check` names the kind of fault
// ("number missing", "pixels changed", "page count", "copy not shown"), `detail` where.
struct ViewerFault {
    QString check;
    QString detail;
    bool empty() const { return check.isEmpty(); }
};

// One viewer's judgement of the copy against the input; the number on page k is k + first - 1.
ViewerFault JudgeInViewer(const ViewerPages& input, const ViewerPages& copy, int dpi,
                          long long firstNumber = 1);

// The number's box on a page `height` pixels tall, in pixels: x0, y0 (top), x1, y1 inclusive.
struct PixelBox {
    int x0, y0, x1, y1;
};
PixelBox NumberBox(const QString& text, int height, int dpi);
