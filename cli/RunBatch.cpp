#include "cli/RunBatch.h"

#include "cli/BatchFont.h"
#include "cli/BatchOptions.h"
#include "cli/BatchPlan.h"
#include "cli/LoadFiles.h"
#include "cli/Manifest.h"

#include "NumberPdfFile.h"
#include "NumberText.h"
#include "ResultWarnings.h"
#include "StampError.h"
#include "sys/PendingNames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace {
// The first stop signal asks the batch to stop after the files being numbered; a second one stops at
// once, removing what was being written.
volatile std::sig_atomic_t stopRequested = 0;

void onStopSignal(int sig) {
    if (stopRequested) {
        RemovePendingOutput();
        std::signal(sig, SIG_DFL);
        std::raise(sig);
        return;
    }
    stopRequested = 1;
}

// Each short name a copy takes in the output folder is recorded as the window records its own, so a
// batch killed before the rename leaves that exact file to the next run (batch or window) to remove.
class RecordedShortName : public ShortNameWatch {
public:
    void naming(const std::string& path, int fd) override {
        record_.record(QByteArray::fromStdString(path), fd);
    }
    void gone() override { record_.clear(); }

private:
    PendingName record_;
};

struct Outcome {
    enum class Status { NotDone, Numbered, Warned, Skipped } status = Status::NotDone;
    size_t pages = 0, numbered = 0;
    QStringList messages;
};

QString statusText(Outcome::Status s) {
    switch (s) {
    case Outcome::Status::Numbered:
        return QStringLiteral("numbered");
    case Outcome::Status::Warned:
        return QStringLiteral("numbered with a warning");
    case Outcome::Status::Skipped:
        return QStringLiteral("skipped");
    case Outcome::Status::NotDone:
        break;
    }
    return QStringLiteral("not done");
}

// The number as {n} prints it.
QString printedNumber(const StampOptions& o, long long value) {
    return QString::fromLatin1(ExpandNumberText("{n}", o.digits, value, 0, {}, value));
}

// The whole text the k-th numbered page of `f` shows (of `numbered`), in UTF-8 as the format was
// given.
QString pageText(const BatchOptions& options, const BatchFile& f, size_t k, size_t numbered) {
    return QString::fromStdString(ExpandNumberText(options.formatText.toStdString(), options.stamp.digits,
                                                   f.first + (long long)k, numbered, f.title.toStdString(),
                                                   f.first + (long long)numbered - 1));
}

QString duration(double seconds) {
    const long long s = (long long)(seconds + 0.5);
    return s >= 3600 ? QStringLiteral("%1:%2:%3")
                           .arg(s / 3600)
                           .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
                           .arg(s % 60, 2, 10, QLatin1Char('0'))
                     : QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

class Batch {
public:
    Batch(const BatchOptions& options, BatchPlan plan)
        : options_(options)
        , plan_(std::move(plan))
        , outcomes_(plan_.files.size()) {
        for (const BatchFile& f : plan_.files)
            if (f.pages)
                pagesPlanned_ += *f.pages;
    }

    void run() {
        start_ = std::chrono::steady_clock::now();
        std::vector<std::thread> workers;
        const int jobs = std::max(1, std::min<int>(options_.jobs, int(plan_.files.size())));
        for (int k = 0; k < jobs; ++k)
            workers.emplace_back([this] { work(); });
        const bool showProgress = !options_.quiet && ::isatty(STDERR_FILENO);
        {
            std::unique_lock<std::mutex> lock(mutex_);
            // A few times a second: a terminal that redraws the line for every file slows the batch.
            auto shown = std::chrono::steady_clock::now() - std::chrono::seconds(1);
            while (finished_ < size_t(jobs)) {
                changed_.wait_for(lock, std::chrono::milliseconds(200));
                if (showProgress &&
                    std::chrono::steady_clock::now() - shown >= std::chrono::milliseconds(200)) {
                    progress();
                    shown = std::chrono::steady_clock::now();
                }
            }
        }
        for (auto& w : workers)
            w.join();
        if (showProgress)
            std::fputs("\r\033[K", stderr);
    }

    int finish() {
        std::vector<ManifestRow> rows;
        std::vector<LoadFileDocument> documents;
        const bool loadFiles = !options_.opticon.isEmpty() || !options_.dat.isEmpty();
        size_t numbered = 0, skipped = 0, notDone = 0, pages = 0;
        for (size_t k = 0; k < plan_.files.size(); ++k) {
            const BatchFile& f = plan_.files[k];
            const Outcome& o = outcomes_[k];
            ManifestRow row;
            row.input = f.input;
            row.output = f.output;
            row.status = statusText(o.status);
            row.message = o.messages.join(QStringLiteral("; "));
            if (o.status == Outcome::Status::Numbered || o.status == Outcome::Status::Warned) {
                ++numbered;
                pages += o.pages;
                row.pages = QString::number(o.pages);
                row.first = printedNumber(options_.stamp, f.first);
                row.last = printedNumber(options_.stamp, f.first + (long long)o.numbered - 1);
                row.begBates = pageText(options_, f, 0, o.numbered);
                row.endBates = pageText(options_, f, o.numbered - 1, o.numbered);
                if (loadFiles) {
                    LoadFileDocument d;
                    d.copy = f.output;
                    for (size_t p = 0; p < o.numbered; ++p)
                        d.keys.append(pageText(options_, f, p, o.numbered));
                    documents.push_back(std::move(d));
                }
            } else if (o.status == Outcome::Status::Skipped) {
                ++skipped;
            } else {
                ++notDone;
                row.output.clear();
            }
            if (o.status == Outcome::Status::Skipped)
                std::fprintf(stderr, "numbrel: skipped %s: %s\n", qUtf8Printable(f.input),
                             qUtf8Printable(row.message));
            else if (o.status == Outcome::Status::Warned)
                for (const QString& m : o.messages)
                    std::fprintf(stderr, "numbrel: warning: %s%s\n",
                                 m.contains(f.input) ? "" : qUtf8Printable(f.input + QStringLiteral(": ")),
                                 qUtf8Printable(m));
            rows.push_back(row);
        }
        // Files left out because their folder could not be read are not numbered either.
        for (const QString& folder : std::as_const(plan_.unreadableFolders)) {
            ManifestRow row;
            row.input = folder;
            row.status = statusText(Outcome::Status::Skipped);
            row.message = QStringLiteral("the folder cannot be read; the files in it were not numbered");
            std::fprintf(stderr, "numbrel: skipped %s: %s\n", qUtf8Printable(folder),
                         qUtf8Printable(row.message));
            rows.push_back(row);
            ++skipped;
        }
        bool manifestWritten = true;
        const auto write = [&](const QString& path, const QByteArray& bytes, const char* what) {
            if (path.isEmpty() || WriteWholeFile(path, bytes))
                return;
            std::fprintf(stderr, "numbrel: the %s %s could not be written\n", what, qUtf8Printable(path));
            manifestWritten = false;
        };
        write(options_.manifest, options_.manifest.isEmpty() ? QByteArray() : ManifestText(rows), "manifest");
        // A stopped batch's load files would describe a production that isn't there.
        if (notDone == 0) {
            write(options_.opticon,
                  options_.opticon.isEmpty() ? QByteArray()
                                             : OpticonText(documents, options_.volume, options_.opticon),
                  "Opticon file");
            write(options_.dat,
                  options_.dat.isEmpty() ? QByteArray()
                                         : ConcordanceText(documents, options_.dat, options_.part == 1),
                  "DAT file");
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        if (!options_.quiet) {
            QString summary =
                QStringLiteral("numbrel: %1 of %2 files numbered (%3 pages, %4 pages/s) in %5 s")
                    .arg(numbered)
                    .arg(plan_.files.size())
                    .arg(pages)
                    .arg(seconds > 0 ? qlonglong(double(pages) / seconds) : 0)
                    .arg(seconds, 0, 'f', 1);
            if (skipped > 0)
                summary += QStringLiteral(", %1 skipped").arg(skipped);
            if (notDone > 0)
                summary += QStringLiteral(", %1 not done (stopped)").arg(notDone);
            if (options_.parts > 1)
                summary += QStringLiteral("; part %1 of %2 of a batch of %3 files")
                               .arg(options_.part)
                               .arg(options_.parts)
                               .arg(plan_.batchFiles);
            std::fprintf(stderr, "%s\n", qUtf8Printable(summary));
        }
        if (notDone > 0)
            return kBatchStopped;
        return skipped > 0 || !manifestWritten ? kBatchSomeSkipped : kBatchAllNumbered;
    }

private:
    void work() {
        for (size_t k; !stopRequested && (k = next_++) < plan_.files.size();) {
            Outcome o = numberOne(plan_.files[k]);
            const std::lock_guard<std::mutex> lock(mutex_);
            pagesDone_ += o.pages;
            ++filesDone_;
            outcomes_[k] = std::move(o);
            changed_.notify_all();
        }
        const std::lock_guard<std::mutex> lock(mutex_);
        ++finished_;
        changed_.notify_all();
    }

    Outcome numberOne(const BatchFile& f) {
        Outcome o;
        if (!f.countFailure.isEmpty()) {
            o.status = Outcome::Status::Skipped;
            o.messages.append(f.countFailure);
            return o;
        }
        StampOptions stamp = options_.stamp;
        stamp.watchShortNames = [] { return std::make_unique<RecordedShortName>(); };
        stamp.input = QFile::encodeName(f.input).toStdString();
        stamp.output = QFile::encodeName(f.output).toStdString();
        stamp.firstNumber = f.first;
        SetFileText(stamp, options_, f.title, plan_.font);
        try {
            if (!QDir().mkpath(QFileInfo(f.output).absolutePath()))
                throw StampError("the folder of " + stamp.output + " cannot be made");
            const NumberPdfResult result = NumberPdfFile(stamp);
            o.pages = result.pages;
            o.numbered = result.numberedPages;
            for (const std::string& w : ResultWarnings(result, stamp.input))
                o.messages.append(QString::fromStdString(w));
            if (f.pages && *f.pages != result.pages)
                o.messages.append(
                    QStringLiteral("%1 pages were numbered where %2 were counted beforehand; the "
                                   "numbers of the files after it do not run on from its last")
                        .arg(result.pages)
                        .arg(*f.pages));
            o.status = o.messages.isEmpty() ? Outcome::Status::Numbered : Outcome::Status::Warned;
        } catch (const std::exception& e) {
            o.status = Outcome::Status::Skipped;
            o.messages = {QString::fromStdString(e.what())};
        }
        return o;
    }

    // Called with mutex_ held.
    void progress() {
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        QString line = QStringLiteral("%1/%2 files").arg(filesDone_).arg(plan_.files.size());
        line += pagesPlanned_ > 0 ? QStringLiteral(", %1/%2 pages").arg(pagesDone_).arg(pagesPlanned_)
                                  : QStringLiteral(", %1 pages").arg(pagesDone_);
        if (seconds > 0.5 && pagesDone_ > 0)
            line += QStringLiteral(", %1 pages/s").arg(qlonglong(double(pagesDone_) / seconds));
        if (filesDone_ > 0 && seconds > 0.5) {
            const double left = pagesPlanned_ > 0 && pagesDone_ > 0
                                    ? seconds * double(pagesPlanned_ - std::min(pagesDone_, pagesPlanned_)) /
                                          double(pagesDone_)
                                    : seconds * double(plan_.files.size() - filesDone_) / double(filesDone_);
            line += QStringLiteral(", %1 left").arg(duration(left));
        }
        if (stopRequested)
            line += QStringLiteral(" (stopping)");
        std::fprintf(stderr, "\r\033[K%s", qUtf8Printable(line));
        std::fflush(stderr);
    }

    const BatchOptions& options_;
    BatchPlan plan_;
    std::vector<Outcome> outcomes_;
    std::atomic<size_t> next_{0};
    std::mutex mutex_;
    std::condition_variable changed_;
    size_t finished_ = 0, filesDone_ = 0, pagesDone_ = 0, pagesPlanned_ = 0;
    std::chrono::steady_clock::time_point start_;
};
} // namespace

int RunBatch(const QStringList& arguments, const QString& workingFolder) {
    const BatchCommandLine line = ReadBatchCommandLine(arguments, workingFolder);
    if (line.outcome == BatchCommandLine::Outcome::Help) {
        std::fputs(qUtf8Printable(line.text), stdout);
        return kBatchAllNumbered;
    }
    if (line.outcome == BatchCommandLine::Outcome::Refused) {
        std::fputs(qUtf8Printable(line.text), stderr);
        return kBatchUsageError;
    }
    const BatchOptions& options = line.options;
    // What a killed run left under a short name in an output folder goes first.
    RemoveRecordedLeftovers();
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        std::signal(sig, onStopSignal);
    // Past a file size limit a write fails with a message instead of ending the program.
    std::signal(SIGXFSZ, SIG_IGN);

    BatchPlan plan;
    try {
        plan = MakeBatchPlan(options, [] { return stopRequested != 0; });
        if (!options.plan.isEmpty() && options.parts == 1) {
            if (stopRequested) // the counts are not all there
                return kBatchStopped;
            WritePlanFile(options, plan);
            if (!options.quiet)
                std::fprintf(stderr, "numbrel: the page counts of %zu files are in %s\n", plan.files.size(),
                             qUtf8Printable(options.plan));
            return kBatchAllNumbered;
        }
    } catch (const PlanRefused& refused) {
        std::fprintf(stderr, "numbrel: %s\n", qUtf8Printable(refused.reason));
        return kBatchUsageError;
    }
    if (!QDir().mkpath(options.outputFolder)) {
        std::fprintf(stderr, "numbrel: the output folder %s cannot be made\n",
                     qUtf8Printable(options.outputFolder));
        return kBatchUsageError;
    }
    Batch batch(options, std::move(plan));
    batch.run();
    return batch.finish();
}

bool IsBatchCommandLine(const QStringList& arguments) {
    for (qsizetype k = 1; k < arguments.size(); ++k) {
        if (arguments.at(k) == QLatin1String("--"))
            return false;
        if (arguments.at(k) == QLatin1String("--batch"))
            return true;
    }
    return false;
}
