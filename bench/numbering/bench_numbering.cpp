// Not a test: how much a file costs in "Start Adding" beyond the numbering tool's own time.
//
//   bench_numbering [FILES]     (50 one-page files by default)
//
// Measured side by side in one run: the tool alone on each file (started directly, as the run
// script starts it), then the real window numbering the same files through the batch interpreter,
// then the tool alone once more, and the run script alone through RunAndWait.

#include "RunFixture.h"

#include "numbering/RunScript.h"
#include "numbering/ScriptRunner.h"
#include "sys/FileUtils.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <cstdio>

namespace {
// Milliseconds for the tool alone over every file, working in folder as the run does.
double toolAlone(const QStringList& files, const QString& folder) {
    const QString tool = BuiltProgramFolder() + QStringLiteral("/mbtPdfAsm.exe");
    const QStringList arguments{"-mtemp1.pdf", "-n",    "-N01",  "-Ns10",
                                "-Nc0,0,0",    "-Nx10", "-Ny10", "-dtemp2.pdf"};
    double total = 0;
    for (const QString& file : files) {
        QFile::remove(folder + QStringLiteral("/temp1.pdf"));
        QFile::remove(folder + QStringLiteral("/temp2.pdf"));
        QFile::copy(file, folder + QStringLiteral("/temp1.pdf"));
        QProcess p;
        p.setWorkingDirectory(folder);
        QElapsedTimer t;
        t.start();
        p.start(tool, arguments);
        p.waitForFinished(60000);
        total += static_cast<double>(t.nsecsElapsed()) / 1e6;
        if (p.exitCode() != 0 || !QFile::exists(folder + QStringLiteral("/temp2.pdf")))
            std::fprintf(stderr, "tool failed on %s\n", qPrintable(file));
    }
    return total;
}

// Milliseconds for the run script alone, started and waited for by RunAndWait as the run does it;
// queries receives the number of status queries.
double scriptAlone(const QStringList& files, const QString& folder, int& queries) {
    const QString script = folder + QStringLiteral("/temp.bat");
    double total = 0;
    queries = 0;
    for (const QString& file : files) {
        QFile::remove(folder + QStringLiteral("/temp2.pdf"));
        QFile::copy(file, folder + QStringLiteral("/temp1.pdf"));
        WriteFileText(RunScriptText(BuiltProgramFolder() + QStringLiteral("/mbtPdfAsm.exe"),
                                    ToolArguments("1", "10", 0, "10", "10")),
                      script);
        WaitReport report;
        int hidden = 0;
        QElapsedTimer t;
        t.start();
        RunAndWait(QLatin1Char('"') + script + QLatin1Char('"'), &hidden, folder + QLatin1Char('/'), &report);
        total += static_cast<double>(t.nsecsElapsed()) / 1e6;
        queries += report.statusQueries;
    }
    return total;
}
} // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int count = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 50;
    QTemporaryDir inputs, scratch, temp;
    QStringList files;
    for (int k = 0; k < count; ++k) {
        files.append(inputs.filePath(QStringLiteral("file-%1.pdf").arg(k, 3, 10, QLatin1Char('0'))));
        WriteBlankPdf(files.last(), 1);
    }

    const double before = toolAlone(files, scratch.path());

    qputenv("TEMP", QFile::encodeName(temp.path()));
    WindowUnderTest w;
    for (const QString& file : files)
        w.append(file);
    QElapsedTimer t;
    t.start();
    w.clickStart();
    const double run = static_cast<double>(t.nsecsElapsed()) / 1e6;
    if (w.prompts().messages() != QStringList{QStringLiteral("Done.")} || w.outputFiles().size() != count)
        std::fprintf(stderr, "the run did not number every file\n");

    const double after = toolAlone(files, scratch.path());
    int queries = 0;
    const double script = scriptAlone(files, scratch.path(), queries) / count;
    const double tool = (before + after) / 2 / count;
    const double perFile = run / count;
    std::printf("files                        %d\n", count);
    std::printf("tool alone, ms per file      %.1f (first pass %.1f, second %.1f)\n", tool, before / count,
                after / count);
    std::printf("Start Adding, ms per file    %.1f\n", perFile);
    std::printf("beyond the tool, ms per file %.1f\n", perFile - tool);
    std::printf("of which the script's wait  %.1f (RunAndWait alone %.1f ms, %.1f status queries per file)\n",
                script - tool, script, static_cast<double>(queries) / count);
    std::printf("and the run's own steps     %.1f\n", perFile - script);
    return 0;
}
