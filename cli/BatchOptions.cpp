#include "cli/BatchOptions.h"

#include "CommandLine.h"
#include "NumberText.h"
#include "OptionTable.h"
#include "StampError.h"
#include "cli/LoadFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <stdexcept>
#include <thread>
#include <vector>

namespace {
// The most copies written side by side: every one must have a place where a stop removes it.
constexpr int kMostJobs = 256;

struct Refusal : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] void refuse(const QString& why) {
    throw Refusal(why.toStdString());
}

QString absolute(const QString& path, const QString& workingFolder) {
    return QDir::cleanPath(QDir(workingFolder).absoluteFilePath(path));
}

void readPart(const QString& text, BatchOptions& b) {
    static const QRegularExpression form(QStringLiteral("^([0-9]{1,9})/([0-9]{1,9})$"));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch())
        refuse(QStringLiteral("--part \"%1\" is not K/N (as in 2/3)").arg(text));
    b.part = m.captured(1).toInt();
    b.parts = m.captured(2).toInt();
    if (b.parts < 1 || b.part < 1 || b.part > b.parts)
        refuse(QStringLiteral("--part \"%1\": K must be 1 to N").arg(text));
}

// What the load files need of the rest of the command line.
void checkLoadFileOptions(BatchOptions& b, const QStringList& seen) {
    const bool loadFiles = !b.opticon.isEmpty() || !b.dat.isEmpty();
    if (loadFiles && !b.continueNumbers)
        refuse(QStringLiteral("%1 goes with --continue: a production's numbers run on from file to file")
                   .arg(b.opticon.isEmpty() ? QStringLiteral("--dat") : QStringLiteral("--opticon")));
    if (seen.contains(QStringLiteral("--volume")) && b.opticon.isEmpty())
        refuse(QStringLiteral("--volume goes with --opticon: only the Opticon file names a volume"));
    if (!loadFiles)
        return;
    const std::string& f = b.stamp.format;
    if (!f.empty() && f.find("{n}") == std::string::npos && f.find("{n:") == std::string::npos)
        refuse(QStringLiteral("the load files key every page by its text: --format must print {n}"));
    if (!b.opticon.isEmpty() && b.opticon == b.dat)
        refuse(QStringLiteral("--opticon and --dat name the same file"));
    for (const QString& loadFile : {b.opticon, b.dat})
        if (!loadFile.isEmpty() && (loadFile == b.manifest || loadFile == b.plan))
            refuse(QStringLiteral("%1 is named for a load file and for the %2")
                       .arg(loadFile,
                            loadFile == b.manifest ? QStringLiteral("manifest") : QStringLiteral("plan")));
    if (b.volume.isEmpty())
        b.volume = QFileInfo(b.outputFolder).fileName();
    if (!b.opticon.isEmpty())
        if (const QString problem = OpticonFieldProblem(b.volume); !problem.isEmpty() || b.volume.isEmpty())
            refuse(QStringLiteral("the volume \"%1\" can't be written in the Opticon file: %2")
                       .arg(b.volume, problem.isEmpty() ? QStringLiteral("it is empty")
                                                        : QStringLiteral("it holds ") + problem));
}

QString pathValue(const QString& name, const QString& value, const QString& workingFolder) {
    if (value.isEmpty())
        refuse(QStringLiteral("%1 is empty").arg(name));
    return absolute(value, workingFolder);
}

// The batch's own options; the numbering options come from the stamper's table.
struct BatchOptionRow {
    OptionInfo info;
    void (*read)(BatchOptions& b, const QString& value, const QString& workingFolder);
    bool afterNumbering; // listed after the numbering options
};

const BatchOptionRow kBatchRows[] = {
    {{.name = "--output",
      .shortName = "-o",
      .placeholder = "OUTDIR",
      .help = "where the numbered copies go (made if missing)"},
     [](BatchOptions& b, const QString& v, const QString& w) {
         b.outputFolder = pathValue(QStringLiteral("--output"), v, w);
     },
     false},
    {{.name = "--continue", .help = "one running number across all files, in the order given"},
     [](BatchOptions& b, const QString&, const QString&) { b.continueNumbers = true; },
     true},
    {{.name = "--manifest",
      .placeholder = "FILE.csv",
      .help = "one row per file: input, output, pages, first, last, status, message, begbates, endbates"},
     [](BatchOptions& b, const QString& v, const QString& w) {
         b.manifest = pathValue(QStringLiteral("--manifest"), v, w);
     },
     true},
    {{.name = "--opticon",
      .placeholder = "FILE.opt",
      .help = "with --continue: the Opticon load file, a line per numbered page keyed by its text"},
     [](BatchOptions& b, const QString& v, const QString& w) {
         b.opticon = pathValue(QStringLiteral("--opticon"), v, w);
     },
     true},
    {{.name = "--dat",
      .placeholder = "FILE.dat",
      .help = "with --continue: the Concordance DAT load file, a row per file (BEGBATES, ENDBATES, PGCOUNT, "
              "FILENAME, FILEPATH)"},
     [](BatchOptions& b, const QString& v, const QString& w) {
         b.dat = pathValue(QStringLiteral("--dat"), v, w);
     },
     true},
    {{.name = "--volume",
      .placeholder = "NAME",
      .help = "the volume the Opticon file names (default the output folder's name)"},
     [](BatchOptions& b, const QString& v, const QString&) {
         if (v.isEmpty())
             refuse(QStringLiteral("--volume is empty"));
         b.volume = v;
     },
     true},
    {{.name = "--font",
      .placeholder = "FONT",
      .help = "the font for text Helvetica can't draw: a .ttf/.otf file, FILE.ttc:INDEX or an installed "
              "font's name (default: one that has every character)"},
     [](BatchOptions& b, const QString& v, const QString&) {
         if (v.isEmpty())
             refuse(QStringLiteral("--font is empty"));
         b.font = v;
     },
     true},
    {{.name = "--overwrite", .help = "allow an output to replace an input"},
     [](BatchOptions& b, const QString&, const QString&) { b.overwrite = true; },
     true},
    {{.name = "--jobs",
      .placeholder = "N",
      .help = "files numbered side by side (default: the number of cores)",
      .min = 1,
      .max = kMostJobs},
     [](BatchOptions& b, const QString& v, const QString&) {
         b.jobs = int(ParseWholeNumber(v.toStdString(), "--jobs", 1, kMostJobs));
     },
     true},
    {{.name = "--part",
      .placeholder = "K/N",
      .help = "number only the K-th of N shares of the files, with the numbers a whole run gives them"},
     [](BatchOptions& b, const QString& v, const QString&) { readPart(v, b); },
     true},
    {{.name = "--plan",
      .placeholder = "FILE",
      .help = "with --part: the page counts from FILE; without: count every file's pages, write them to FILE "
              "and number nothing"},
     [](BatchOptions& b, const QString& v, const QString& w) {
         b.plan = pathValue(QStringLiteral("--plan"), v, w);
     },
     true},
    {{.name = "--quiet", .help = "no progress line and no summary"},
     [](BatchOptions& b, const QString&, const QString&) { b.quiet = true; },
     true},
    {{.name = "--help", .shortName = "-h", .help = "show this text"}, nullptr, true},
};

// Every option of the batch command line in the order of its help text.
std::vector<const OptionInfo*> allOptions() {
    std::vector<const OptionInfo*> all;
    for (const BatchOptionRow& row : kBatchRows)
        if (!row.afterNumbering)
            all.push_back(&row.info);
    for (const StampOptionRow& row : StampOptionRows())
        all.push_back(&row.info);
    for (const BatchOptionRow& row : kBatchRows)
        if (row.afterNumbering)
            all.push_back(&row.info);
    return all;
}

const BatchOptionRow* findBatchRow(const QString& name) {
    for (const BatchOptionRow& row : kBatchRows)
        if (QString::fromUtf8(row.info.name.data(), qsizetype(row.info.name.size())) == name ||
            (!row.info.shortName.empty() &&
             QString::fromUtf8(row.info.shortName.data(), qsizetype(row.info.shortName.size())) == name))
            return &row;
    return nullptr;
}
} // namespace

QString BatchUsageText(const QString& program) {
    std::string options;
    for (const OptionInfo* info : allOptions())
        options += OptionHelpLines(*info);
    return QStringLiteral(
               "Numbering without the window:\n"
               "  %1 --batch -o OUTDIR [options] (FILE|FOLDER)...\n"
               "Numbers the files and exits; needs no display and leaves the window's settings alone.\n"
               "A FOLDER gives every *.pdf file of its tree (any case), in the order the window's folder\n"
               "add lists them, each written under OUTDIR at its path inside FOLDER; a FILE is written\n"
               "to OUTDIR under its own name. Two inputs that would be written to the same place are\n"
               "refused before anything is numbered, and no input is ever replaced without --overwrite.\n")
               .arg(program) +
           QString::fromStdString(options) +
           QStringLiteral(
               "Exit status: 0 every file numbered, 1 some skipped, 2 a mistake in the command line,\n"
               "130 stopped (Ctrl-C).\n");
}

QString BatchOptionList() {
    std::string list;
    for (const OptionInfo* info : allOptions())
        list += OptionListLine(*info) + "\n";
    return QString::fromStdString(list);
}

BatchCommandLine ReadBatchCommandLine(const QStringList& arguments, const QString& workingFolder) {
    BatchCommandLine line;
    BatchOptions& b = line.options;
    const QString program = QFileInfo(arguments.value(0, QStringLiteral("numbrel"))).fileName();
    b.jobs = std::max(1, std::min(kMostJobs, int(std::thread::hardware_concurrency())));
    try {
        bool endOfOptions = false;
        QStringList seen;
        std::vector<std::string> given; // the numbering options set, for the checks of those that go together
        for (qsizetype k = 1; k < arguments.size(); ++k) {
            const QString arg = arguments.at(k);
            if (endOfOptions || !arg.startsWith(QLatin1Char('-')) || arg == QLatin1String("-")) {
                if (arg.isEmpty())
                    refuse(QStringLiteral("an empty argument names no file"));
                b.inputs.append(absolute(arg, workingFolder));
                continue;
            }
            if (arg == QLatin1String("--")) {
                endOfOptions = true;
                continue;
            }
            QString name = arg, value;
            bool hasValue = false;
            if (const qsizetype eq = arg.indexOf(QLatin1Char('='));
                arg.startsWith(QLatin1String("--")) && eq > 0) {
                name = arg.left(eq);
                value = arg.mid(eq + 1);
                hasValue = true;
            } else if (arg.startsWith(QLatin1String("-o")) && arg.size() > 2 &&
                       !arg.startsWith(QLatin1String("--"))) {
                name = QStringLiteral("-o");
                value = arg.mid(2);
                hasValue = true;
            }
            if (name == QLatin1String("-h"))
                name = QStringLiteral("--help");
            if (name == QLatin1String("--list-options")) { // for the manual page and completion scripts
                line.outcome = BatchCommandLine::Outcome::Help;
                line.text = BatchOptionList();
                return line;
            }
            const BatchOptionRow* batchRow = findBatchRow(name);
            if (batchRow)
                name = QString::fromUtf8(batchRow->info.name.data(), qsizetype(batchRow->info.name.size()));
            const StampOptionRow* stampRow = batchRow ? nullptr : FindStampOption(name.toStdString());
            const OptionInfo* info = batchRow ? &batchRow->info : stampRow ? &stampRow->info : nullptr;
            if (name == QLatin1String("--batch")) {
                if (hasValue)
                    refuse(QStringLiteral("%1 takes no value").arg(name));
                continue;
            }
            if (!info)
                refuse(QStringLiteral("unknown option %1").arg(arg));
            if (info->placeholder.empty()) {
                if (hasValue)
                    refuse(QStringLiteral("%1 takes no value").arg(name));
                if (name == QLatin1String("--help")) {
                    line.outcome = BatchCommandLine::Outcome::Help;
                    line.text = BatchUsageText(program);
                    return line;
                }
            } else if (!hasValue) {
                if (k + 1 >= arguments.size())
                    refuse(QStringLiteral("%1 needs a value").arg(name));
                value = arguments.at(++k);
            }
            if (seen.contains(name))
                refuse(QStringLiteral("%1 is given more than once").arg(name));
            seen.append(name);

            if (batchRow) {
                try {
                    batchRow->read(b, value, workingFolder);
                } catch (const StampError& e) {
                    refuse(QString::fromStdString(e.what()));
                }
            } else {
                try {
                    stampRow->read(b.stamp, *info, value.toStdString(), name.toStdString(),
                                   OptionDialect::Batch);
                    given.push_back(name.toStdString());
                    if (name == QLatin1String("--format"))
                        b.formatText = value;
                } catch (const StampError& e) {
                    refuse(QString::fromStdString(e.what()));
                }
            }
        }
        try {
            CheckStampOptionsTogether(b.stamp, given);
        } catch (const StampError& e) {
            refuse(QString::fromStdString(e.what()));
        }
        if (b.outputFolder.isEmpty())
            refuse(QStringLiteral("no output folder: -o OUTDIR is missing"));
        if (b.inputs.isEmpty())
            refuse(QStringLiteral("no files or folders to number"));
        if (!b.plan.isEmpty() && !b.continueNumbers)
            refuse(QStringLiteral("--plan goes with --continue: only running numbers need the page counts"));
        if (!b.plan.isEmpty() && b.parts == 1 && seen.contains(QStringLiteral("--part")))
            refuse(QStringLiteral("--plan with --part 1/1: a whole run counts for itself"));
        checkLoadFileOptions(b, seen);
    } catch (const Refusal& r) {
        line.outcome = BatchCommandLine::Outcome::Refused;
        line.text = program + QStringLiteral(": ") + QString::fromStdString(r.what()) +
                    QStringLiteral(" (see ") + program + QStringLiteral(" --batch --help)\n");
    }
    return line;
}
