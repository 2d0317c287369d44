#include "cli/BatchPlan.h"

#include "cli/LoadFiles.h"
#include "cli/BatchFont.h"
#include "cli/Manifest.h"

#include "NumberPdfFile.h"
#include "NumberText.h"
#include "StampError.h"
#include "filelist/FolderScan.h"
#include "sys/FileUtils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <atomic>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {
const QString kPattern = QStringLiteral("*.pdf");
const QByteArray kPlanHeader = "numbrel page counts 1";

[[noreturn]] void refuse(const QString& reason) {
    throw PlanRefused{reason};
}

bool isUnder(const QString& path, const QString& folder) {
    return folder == QLatin1String("/") || path.startsWith(folder + QLatin1Char('/'));
}

struct Identity {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const Identity&) const = default;
};

std::optional<Identity> identityOf(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    return Identity{st.st_dev, st.st_ino};
}

// The files of one input, each with its path relative to where its copy goes.
void addInput(const QString& input, const BatchOptions& options, std::vector<BatchFile>& files,
              QStringList& unreadable) {
    if (IsFolder(input)) {
        QStringList folders{input == QLatin1String("/") ? input : input + QLatin1Char('/')};
        ScannedFiles seen{kPattern, {}, {}};
        // Failures the scan carries on after are the window's boxes; here they only leave folders out.
        GetSubDirectories2016([](const QString&, const QString&, int) {}, folders, true, &seen);
        for (const QString& folder : std::as_const(seen.unreadable))
            unreadable.append(folder.chopped(1));
        // Copies of an earlier run into a folder inside this tree are not inputs. Only then: a folder
        // that itself lies inside the output folder is all input.
        const bool outputInsideTree = isUnder(options.outputFolder, QDir::cleanPath(input));
        for (const QString& path : ScannedFilePaths(folders, seen, kPattern)) {
            if (outputInsideTree && isUnder(path, options.outputFolder))
                continue;
            BatchFile f;
            f.input = path;
            f.output = options.outputFolder + QLatin1Char('/') + QDir(input).relativeFilePath(path);
            files.push_back(f);
        }
        return;
    }
    if (!PathExists(input))
        refuse(QStringLiteral("no such file or folder: %1").arg(input));
    if (!IsOpenableFile(input))
        refuse(QStringLiteral("not a file that can be read: %1").arg(input));
    BatchFile f;
    f.input = input;
    f.output = options.outputFolder + QLatin1Char('/') + QFileInfo(input).fileName();
    files.push_back(f);
}

void checkOutputs(const BatchOptions& options, const std::vector<BatchFile>& files) {
    if (PathExists(options.outputFolder) && !IsFolder(options.outputFolder))
        refuse(QStringLiteral("the output folder is a file: %1").arg(options.outputFolder));
    QHash<QString, QString> byOutput;
    QSet<QString> inputs;
    std::vector<Identity> inputIds;
    for (const BatchFile& f : files) {
        inputs.insert(f.input);
        if (const auto id = identityOf(f.input))
            inputIds.push_back(*id);
    }
    for (const BatchFile& f : files) {
        const auto other = byOutput.constFind(f.output);
        if (other != byOutput.constEnd())
            refuse(f.input == other.value() ? QStringLiteral("%1 is given twice").arg(f.input)
                                            : QStringLiteral("%1 and %2 would both be written to %3")
                                                  .arg(other.value(), f.input, f.output));
        byOutput.insert(f.output, f.input);
        if (!options.overwrite) {
            const auto id = identityOf(f.output);
            const bool isInput = inputs.contains(f.output) ||
                                 (id && std::find(inputIds.begin(), inputIds.end(), *id) != inputIds.end());
            if (isInput)
                refuse(QStringLiteral("%1 would replace an input; give --overwrite to allow that")
                           .arg(f.output));
        }
        if (IsFolder(f.output))
            refuse(QStringLiteral("%1 is a folder, where the numbered copy of %2 would go")
                       .arg(f.output, f.input));
    }
}

// A load file must not replace anything the batch reads or writes, nor lie in an input's tree; and
// what it holds must be writable in its form (the Opticon file quotes nothing, the DAT can't quote
// its own quote). The keys are checked by one page's text: the numbers' own characters never clash.
void checkLoadFiles(const BatchOptions& options, const std::vector<BatchFile>& files) {
    const auto check = [&](const QString& loadFile, const char* option,
                           const std::function<QString(const QString&)>& problemOf) {
        if (loadFile.isEmpty())
            return;
        if (IsFolder(loadFile))
            refuse(QStringLiteral("%1 %2 is a folder").arg(QLatin1String(option), loadFile));
        for (const QString& input : options.inputs)
            if (loadFile == input || (IsFolder(input) && isUnder(loadFile, QDir::cleanPath(input))))
                refuse(QStringLiteral("%1 %2 lies among the inputs (%3); write it elsewhere")
                           .arg(QLatin1String(option), loadFile, input));
        const auto loadId = identityOf(loadFile);
        for (const BatchFile& f : files) {
            if (loadFile == f.input || loadFile == f.output ||
                (loadId && (identityOf(f.input) == loadId || identityOf(f.output) == loadId)))
                refuse(QStringLiteral("%1 %2 would replace %3")
                           .arg(QLatin1String(option), loadFile, loadFile == f.output ? f.output : f.input));
            const QString path = PathFromLoadFile(f.output, loadFile);
            const QString key = QString::fromUtf8(ExpandNumberText(
                options.formatText.toStdString(), options.stamp.digits, options.stamp.firstNumber, 1,
                f.title.toStdString(), options.stamp.firstNumber));
            for (const QString& text : {path, key})
                if (const QString problem = problemOf(text); !problem.isEmpty())
                    refuse(QStringLiteral("%1: \"%2\" holds %3, which %4 can't hold")
                               .arg(f.input, text, problem, QLatin1String(option)));
        }
    };
    check(options.opticon, "--opticon", OpticonFieldProblem);
    check(options.dat, "--dat", ConcordanceFieldProblem);
}

// Page counts from a plan file, which must list the same files (by their place under the output
// folder) with the same sizes.
void readPlanFile(const BatchOptions& options, std::vector<BatchFile>& files) {
    QFile file(options.plan);
    if (!file.open(QIODevice::ReadOnly))
        refuse(QStringLiteral("the plan %1 cannot be read: %2").arg(options.plan, file.errorString()));
    const QList<QByteArray> lines = file.readAll().split('\n');
    if (lines.value(0) != kPlanHeader)
        refuse(QStringLiteral("%1 is not a plan written by --plan").arg(options.plan));
    const qsizetype listed = lines.size() - 2; // the header and the empty text after the last line break
    if (listed != qsizetype(files.size()) || !lines.last().isEmpty())
        refuse(QStringLiteral("the plan %1 lists %2 files, the command line gives %3")
                   .arg(options.plan)
                   .arg(std::max<qsizetype>(listed, 0))
                   .arg(files.size()));
    for (size_t k = 0; k < files.size(); ++k) {
        const QList<QByteArray> fields = lines.at(qsizetype(k) + 1).split('\t');
        BatchFile& f = files[k];
        const QString relative = QDir(options.outputFolder).relativeFilePath(f.output);
        bool pagesOk = false, sizeOk = false;
        const long long pages = fields.value(0).toLongLong(&pagesOk);
        const long long size = fields.value(1).toLongLong(&sizeOk);
        if (fields.size() != 4 || !pagesOk || !sizeOk || QString::fromUtf8(fields.at(3)) != relative)
            refuse(QStringLiteral("the plan %1 was made for other files (line %2)")
                       .arg(options.plan)
                       .arg(k + 2));
        if (size != QFileInfo(f.input).size())
            refuse(QStringLiteral("%1 has changed since the plan %2 was made").arg(f.input, options.plan));
        if (pages > 0)
            f.pages = size_t(pages);
        else
            f.countFailure = QString::fromUtf8(fields.at(2));
    }
}

void countPages(std::vector<BatchFile>& files, int jobs, const std::function<bool()>& stopped) {
    std::atomic<size_t> next{0};
    auto worker = [&] {
        for (size_t k; (k = next++) < files.size() && !(stopped && stopped());) {
            try {
                files[k].pages = CountPdfPages(QFile::encodeName(files[k].input).toStdString());
            } catch (const std::exception& e) {
                files[k].countFailure = QString::fromStdString(e.what());
            }
        }
    };
    std::vector<std::thread> threads;
    for (int k = 1; k < jobs; ++k)
        threads.emplace_back(worker);
    worker();
    for (auto& t : threads)
        t.join();
}
} // namespace

BatchPlan MakeBatchPlan(const BatchOptions& options, const std::function<bool()>& stopped) {
    std::vector<BatchFile> files;
    QStringList unreadable;
    for (const QString& input : options.inputs)
        addInput(input, options, files, unreadable);
    checkOutputs(options, files);

    for (BatchFile& f : files)
        f.title = QFileInfo(f.input).completeBaseName();
    checkLoadFiles(options, files);
    std::shared_ptr<const PageFont> font = ChooseBatchFont(options, files);

    // The share of this part: whole runs of files, in batch order.
    const size_t total = files.size();
    const size_t from = total * size_t(options.part - 1) / size_t(options.parts);
    const size_t to = total * size_t(options.part) / size_t(options.parts);

    if (options.continueNumbers) {
        const bool planning = !options.plan.isEmpty() && options.parts == 1;
        if (!options.plan.isEmpty() && !planning) {
            readPlanFile(options, files);
        } else {
            // Only what comes before this part's last file matters for its numbers.
            std::vector<BatchFile> needed(files.begin(),
                                          files.begin() + std::ptrdiff_t(planning ? total : to));
            countPages(needed, options.jobs, stopped);
            std::copy(needed.begin(), needed.end(), files.begin());
        }
        // Only numbered pages take numbers; a file the selection leaves without one is skipped.
        long long next = options.stamp.firstNumber;
        for (BatchFile& f : files) {
            f.first = next;
            if (!f.pages)
                continue;
            f.numbered = options.stamp.pages.countIn(*f.pages);
            if (f.numbered == 0 && f.countFailure.isEmpty())
                f.countFailure = QStringLiteral("--pages %1 takes none of its %2 %3")
                                     .arg(QString::fromStdString(options.stamp.pages.text()))
                                     .arg(*f.pages)
                                     .arg(*f.pages == 1 ? QStringLiteral("page") : QStringLiteral("pages"));
            next += (long long)f.numbered;
        }
    } else {
        for (BatchFile& f : files)
            f.first = options.stamp.firstNumber;
    }

    BatchPlan plan;
    plan.batchFiles = total;
    plan.font = std::move(font);
    plan.unreadableFolders = unreadable;
    plan.files.assign(files.begin() + std::ptrdiff_t(from), files.begin() + std::ptrdiff_t(to));
    if (options.continueNumbers && options.parts == 1 && !options.plan.isEmpty())
        plan.files = files; // the plan file lists the whole batch
    return plan;
}

void WritePlanFile(const BatchOptions& options, const BatchPlan& whole) {
    QByteArray text = kPlanHeader + '\n';
    for (const BatchFile& f : whole.files) {
        QString failure = f.countFailure;
        failure.replace(QLatin1Char('\t'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
        text += QByteArray::number(qulonglong(f.pages.value_or(0))) + '\t' +
                QByteArray::number(QFileInfo(f.input).size()) + '\t' + failure.toUtf8() + '\t' +
                QDir(options.outputFolder).relativeFilePath(f.output).toUtf8() + '\n';
    }
    if (!WriteWholeFile(options.plan, text))
        throw PlanRefused{QStringLiteral("the plan %1 cannot be written").arg(options.plan)};
}
