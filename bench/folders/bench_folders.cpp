// Adding a big folder tree with "Add All PDF File(s) In Folder", against `find DIR -iname '*.pdf'` on the
// same tree, measured side by side in one run.
//
//   bench_folders [DIR]   (default: a fresh tree in the temporary folder, removed afterwards)

#include "ScriptedPrompts.h"
#include "TestHome.h"
#include "app/Form1.h"

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

double timeFind(const QString& root, int& lines) {
    QElapsedTimer timer;
    timer.start();
    QProcess find;
    find.start(QStringLiteral("find"), {root, QStringLiteral("-iname"), QStringLiteral("*.pdf")});
    find.waitForFinished(-1);
    const double seconds = timer.nsecsElapsed() / 1e9;
    lines = find.readAllStandardOutput().count('\n');
    return seconds;
}

double timeAddFolder(const QString& root, int& rows) {
    ScriptedPrompts prompts;
    Form1 w(prompts);
    w.Form_Load();
    w.show();
    prompts.inputAnswers.enqueue(QStringLiteral("pdf"));
    prompts.folders.enqueue(root);
    auto* button = w.findChild<QPushButton*>(QStringLiteral("PushButton3"));
    QElapsedTimer timer;
    timer.start();
    button->click();
    const double seconds = timer.nsecsElapsed() / 1e9;
    rows = w.findChild<QTreeWidget*>(QStringLiteral("ListView1"))->topLevelItemCount();
    return seconds;
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
    std::vector<double> find, add;
    for (int run = 0; run < 5; ++run) {
        find.push_back(timeFind(root, lines));
        add.push_back(timeAddFolder(root, rows));
    }
    const double ratio = median(add) / median(find);
    std::printf("tree: %s\n", qPrintable(root));
    std::printf("find -iname '*.pdf': %d files, median %.3f s\n", lines, median(find));
    std::printf("Add All PDF File(s) In Folder: %d rows, median %.3f s\n", rows, median(add));
    std::printf("ratio: %.2f (limit 3)\n", ratio);
    if (rows != lines || (expected >= 0 && rows != expected)) {
        std::printf("MISMATCH: the window listed %d files, find %d\n", rows, lines);
        return 2;
    }
    return ratio <= 3.0 ? 0 : 1;
}
