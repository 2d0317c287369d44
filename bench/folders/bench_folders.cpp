// Adding a big folder tree with "Add All PDF File(s) In Folder", against `find DIR -iname '*.pdf'` on the
// same tree, measured side by side in one run.
//
//   bench_folders [DIR]   (default: a fresh tree in the temporary folder, removed afterwards)

#include "ScriptedPrompts.h"
#include "TestHome.h"
#include "app/Form1.h"
#include "filelist/FileList.h"
#include "filelist/FolderScan.h"
#include "sys/FileUtils.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <vector>

namespace {
constexpr int kTopFolders = 20;
constexpr int kSubfolders = 99;     // 20 + 20 * 99 = 2,000 folders below the root
constexpr int kFilesPerFolder = 10; // 8 PDFs (one with an upper-case extension) and 2 others

int makeTree(const QString& root) {
    int pdfs = 0;
    auto fill = [&](const QString& folder) {
        QDir().mkpath(folder);
        for (int i = 0; i < kFilesPerFolder; ++i) {
            const QString name = i < 7    ? QStringLiteral("file%1.pdf").arg(i)
                                 : i == 7 ? QStringLiteral("SCAN.PDF")
                                 : i == 8 ? QStringLiteral("notes.txt")
                                          : QStringLiteral("picture.png");
            QFile f(folder + QLatin1Char('/') + name);
            if (f.open(QIODevice::WriteOnly))
                f.write("%PDF-1.4\n");
            if (i < 8)
                ++pdfs;
        }
    };
    for (int a = 0; a < kTopFolders; ++a) {
        const QString top = root + QStringLiteral("/top%1").arg(a);
        fill(top);
        for (int b = 0; b < kSubfolders; ++b)
            fill(top + QStringLiteral("/sub%1").arg(b));
    }
    return pdfs;
}

struct Timing {
    double wall = 0; // seconds
    double cpu = 0;  // user + system seconds
};

double cpuSeconds(int who) {
    rusage usage{};
    ::getrusage(who, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

Timing timeFind(const QString& root, int& lines) {
    const double cpuBefore = cpuSeconds(RUSAGE_CHILDREN);
    QElapsedTimer timer;
    timer.start();
    QProcess find;
    find.start(QStringLiteral("find"), {root, QStringLiteral("-iname"), QStringLiteral("*.pdf")});
    find.waitForFinished(-1);
    const Timing t{timer.nsecsElapsed() / 1e9, cpuSeconds(RUSAGE_CHILDREN) - cpuBefore};
    lines = find.readAllStandardOutput().count('\n');
    return t;
}

// The same work without the two prompts and the two settings writes (each waits for the disk): the scan,
// the listing and the appending to a list.
Timing timeScanAndAppend(const QString& root, int& rows) {
    ScriptedPrompts prompts;
    QTreeWidget view;
    view.show();
    FileList files(&view);
    const double cpuBefore = cpuSeconds(RUSAGE_SELF);
    QElapsedTimer timer;
    timer.start();
    const QString pattern = QStringLiteral("*.pdf");
    QStringList folders{root + QLatin1Char('/')};
    ScannedFiles seen{pattern, {}};
    GetSubDirectories2016(prompts, folders, true, &seen);
    for (const QString& entry : std::as_const(folders)) {
        const QString folder = entry.chopped(1);
        for (const QString& name : ListFilesInFolder(seen, folder, pattern)) {
            const QString path = folder + QLatin1Char('/') + name;
            if (!name.startsWith(QLatin1Char('~')) && IsAcceptableListedFile(name, path))
                files.AppendPath(CollapseBackslashes(path));
        }
    }
    const Timing t{timer.nsecsElapsed() / 1e9, cpuSeconds(RUSAGE_SELF) - cpuBefore};
    rows = files.EntryCount();
    return t;
}

Timing timeAddFolder(const QString& root, int& rows) {
    ScriptedPrompts prompts;
    Form1 w(prompts);
    w.Form_Load();
    w.show();
    prompts.inputAnswers.enqueue(QStringLiteral("pdf"));
    prompts.folders.enqueue(root);
    auto* button = w.findChild<QPushButton*>(QStringLiteral("PushButton3"));
    const double cpuBefore = cpuSeconds(RUSAGE_SELF);
    QElapsedTimer timer;
    timer.start();
    button->click();
    const Timing t{timer.nsecsElapsed() / 1e9, cpuSeconds(RUSAGE_SELF) - cpuBefore};
    rows = w.findChild<QTreeWidget*>(QStringLiteral("ListView1"))->topLevelItemCount();
    return t;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}
} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TestHome home;

    QTemporaryDir temporary;
    QString root = app.arguments().value(1);
    int expected = -1;
    if (root.isEmpty()) {
        root = temporary.path() + QStringLiteral("/tree");
        expected = makeTree(root);
    }

    int lines = 0, rows = 0;
    timeFind(root, lines); // warm the caches for both
    // Interleaved runs, so that both see the same load on the machine.
    std::vector<double> findWall, findCpu, addWall, addCpu, coreWall, coreCpu;
    int coreRows = 0;
    for (int run = 0; run < 9; ++run) {
        const Timing f = timeFind(root, lines);
        const Timing a = timeAddFolder(root, rows);
        findWall.push_back(f.wall);
        findCpu.push_back(f.cpu);
        addWall.push_back(a.wall);
        addCpu.push_back(a.cpu);
        const Timing c = timeScanAndAppend(root, coreRows);
        coreWall.push_back(c.wall);
        coreCpu.push_back(c.cpu);
    }
    const double ratio = median(addWall) / median(findWall);
    std::printf("tree: %s\n", qPrintable(root));
    std::printf("find -iname '*.pdf':           %5d files, median %.3f s wall, %.3f s CPU\n", lines,
                median(findWall), median(findCpu));
    std::printf("Add All PDF File(s) In Folder: %5d rows,  median %.3f s wall, %.3f s CPU\n", rows,
                median(addWall), median(addCpu));
    std::printf("  of which scan, listing, appending: median %.3f s wall, %.3f s CPU (%d rows)\n",
                median(coreWall), median(coreCpu), coreRows);
    std::printf("ratio: %.2f wall, %.2f CPU (limit 3); scan, listing, appending alone: %.2f wall, %.2f CPU\n",
                ratio, median(addCpu) / median(findCpu), median(coreWall) / median(findWall),
                median(coreCpu) / median(findCpu));
    if (rows != lines || (expected >= 0 && rows != expected)) {
        std::printf("MISMATCH: the window listed %d files, find %d\n", rows, lines);
        return 2;
    }
    return ratio <= 3.0 ? 0 : 1;
}
