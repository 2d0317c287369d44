#pragma once
// Looks at PDF files through independent readers: poppler's pdftotext, pdfinfo, pdftoppm and the
// qpdf command line. Nothing here uses the numbering engine.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

struct ProcessResult {
    int exitCode = -1; // -1 when the program could not be run or was killed
    QByteArray out;
    QByteArray err;
};

ProcessResult RunProgram(const QString& program, const QStringList& args, int timeoutMs = 60000);

// A whole file's bytes (empty when it can't be read), and a file written whole.
QByteArray ReadAll(const QString& path);
bool WriteAll(const QString& path, const QByteArray& bytes);

struct PdfWord {
    QString text;
    double xMin = 0, yMin = 0, xMax = 0, yMax = 0;
};

// A page as a viewer shows it: the crop box's size after /Rotate.
struct DisplayedPage {
    double width = 0, height = 0;
    int rotate = 0;
    QString cropBox; // as pdfinfo prints it, to tell pages apart
};

struct Raster {
    int width = 0, height = 0;
    QByteArray rgb; // width * height * 3 bytes
    bool valid() const { return width > 0 && rgb.size() == width * height * 3; }
    const unsigned char* pixel(int x, int y) const {
        return reinterpret_cast<const unsigned char*>(rgb.constData()) + (y * width + x) * 3;
    }
};

namespace PdfProbe {
// Page count as pdfinfo reports it; -1 when it can't tell.
int pageCount(const QString& path);
// Every page's displayed size and rotation (pdfinfo -box), index 0 for page 1.
QList<DisplayedPage> displayedPages(const QString& path, int pages);
// Words of one page (1-based) in displayed coordinates, y growing downwards.
QList<PdfWord> words(const QString& path, int page);
// Renders the crop box of one page.
Raster render(const QString& path, int page, int dpi, QString* errors = nullptr);
// A binary PPM (P6, 8 bits) as pdftoppm and mutool write it; empty when it is none.
Raster readPpm(const QString& path);
// Words of one page (1-based) as MuPDF finds them (mutool draw -F stext): each word's first
// character's origin, in displayed coordinates (y growing downwards, `yMax` the baseline; `xMax`
// the end of its last character).
QList<PdfWord> mupdfWords(const QString& path, int page);
// Page count as MuPDF (mutool info) reports it; -1 when it can't tell.
int mupdfPageCount(const QString& path);
// qpdf --check: its exit code (0 clean, 2 errors, 3 warnings) and its ERROR/WARNING lines.
ProcessResult check(const QString& path);
} // namespace PdfProbe
