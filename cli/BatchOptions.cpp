#include "cli/BatchOptions.h"

#include "CommandLine.h"
#include "NumberText.h"
#include "PageSelection.h"
#include "StampError.h"
#include "cli/LoadFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <stdexcept>
#include <thread>

namespace {
// The most copies written side by side: every one must have a place where a stop removes it.
constexpr int kMostJobs = 256;
constexpr int kMostDigits = 20;
constexpr int kLongestFormat = 500;

struct Refusal : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] void refuse(const QString& why) {
    throw Refusal(why.toStdString());
}

QString absolute(const QString& path, const QString& workingFolder) {
    return QDir::cleanPath(QDir(workingFolder).absoluteFilePath(path));
}

// One of the stamper's strict readers, its message kept.
template <typename Read> auto strictly(Read read) {
    try {
        return read();
    } catch (const StampError& e) {
        refuse(QString::fromStdString(e.what()));
    }
}

void readColor(const QString& text, StampOptions& o) {
    static const QRegularExpression hex(
        QStringLiteral("^#([0-9A-Fa-f]{2})([0-9A-Fa-f]{2})([0-9A-Fa-f]{2})$"));
    if (const QRegularExpressionMatch m = hex.match(text); m.hasMatch()) {
        o.red = m.captured(1).toInt(nullptr, 16);
        o.green = m.captured(2).toInt(nullptr, 16);
        o.blue = m.captured(3).toInt(nullptr, 16);
        return;
    }
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 3)
        refuse(QStringLiteral("--color \"%1\" is neither #RRGGBB nor R,G,B").arg(text));
    const auto component = [&](int k, const char* what) {
        return int(strictly([&] { return ParseWholeNumber(parts.at(k).toStdString(), what, 0, 255); }));
    };
    o.red = component(0, "--color red");
    o.green = component(1, "--color green");
    o.blue = component(2, "--color blue");
}

void readFormat(const QString& text, StampOptions& o) {
    if (text.isEmpty())
        refuse(QStringLiteral("--format is empty: it would print nothing"));
    if (text.size() > kLongestFormat)
        refuse(QStringLiteral("--format is longer than %1 characters").arg(kLongestFormat));
    const std::optional<std::string> bytes = ToWinAnsi(text.toStdString());
    if (!bytes) {
        for (const uint c : text.toUcs4())
            if (!ToWinAnsi(QString::fromUcs4(reinterpret_cast<const char32_t*>(&c), 1).toStdString()))
                refuse(
                    QStringLiteral("--format holds U+%1, which the page font cannot print: Latin-1 and the "
                                   "Windows-1252 signs (such as € – “ ”) only, no control characters")
                        .arg(QString::number(c, 16).toUpper().rightJustified(4, QLatin1Char('0'))));
        refuse(QStringLiteral("--format holds a character the page font cannot print"));
    }
    if (!IsKnownNumberFormat(*bytes))
        refuse(QStringLiteral("--format \"%1\": %2 is none of {n}, {last}, {total}, {file} (the numbers "
                              "in a style as {n:roman}, {n:ROMAN}, {n:alpha} or {n:ALPHA})")
                   .arg(text, QString::fromStdString(UnknownNumberField(text.toStdString()))));
    o.format = *bytes;
}

void readPages(const QString& text, StampOptions& o) {
    const std::optional<PageSelection> pages = PageSelection::parse(text.toStdString());
    if (!pages)
        refuse(QStringLiteral("--pages \"%1\" is not a page selection: N, N-M or N- in a comma list (as "
                              "in 2- or 1,3,5-9), or odd, or even")
                   .arg(text));
    o.pages = *pages;
}

// What the styles, the page selection and the load files need of the rest of the command line.
void checkNumbering(BatchOptions& b, const QStringList& seen) {
    const StampOptions& o = b.stamp;
    if (!NumberFitsFormat(o.format, o.firstNumber))
        refuse(QStringLiteral("--first %1: roman numerals and letters print numbers from 1 (roman to %2, "
                              "letters to %3)")
                   .arg(o.firstNumber)
                   .arg(kHighestRoman)
                   .arg(kHighestAlpha));
    const bool loadFiles = !b.opticon.isEmpty() || !b.dat.isEmpty();
    if (loadFiles && !b.continueNumbers)
        refuse(QStringLiteral("%1 goes with --continue: a production's numbers run on from file to file")
                   .arg(b.opticon.isEmpty() ? QStringLiteral("--dat") : QStringLiteral("--opticon")));
    if (seen.contains(QStringLiteral("--volume")) && b.opticon.isEmpty())
        refuse(QStringLiteral("--volume goes with --opticon: only the Opticon file names a volume"));
    if (!loadFiles)
        return;
    const std::string& f = o.format;
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
} // namespace

QString BatchUsageText(const QString& program) {
    return QStringLiteral(
               "Numbering without the window:\n"
               "  %1 --batch -o OUTDIR [options] (FILE|FOLDER)...\n"
               "Numbers the files and exits; needs no display and leaves the window's settings alone.\n"
               "A FOLDER gives every *.pdf file of its tree (any case), in the order the window's folder\n"
               "add lists them, each written under OUTDIR at its path inside FOLDER; a FILE is written\n"
               "to OUTDIR under its own name. Two inputs that would be written to the same place are\n"
               "refused before anything is numbered, and no input is ever replaced without --overwrite.\n"
               "  -o, --output OUTDIR  where the numbered copies go (made if missing)\n"
               "  --first N            number of the first page (default 1)\n"
               "  --left PT            points from the left edge of the page as shown (default 10)\n"
               "  --bottom PT          points from its bottom edge (default 10)\n"
               "  --size PT            font size in points (default 10)\n"
               "  --color C            #RRGGBB or R,G,B (default black)\n"
               "  --format TEXT        what each page shows: {n} the number, {n:roman} {n:ROMAN} i ii / I "
               "II,\n"
               "                       {n:alpha} {n:ALPHA} a..z aa.. / A..Z AA.., {last} (styled as {n})\n"
               "                       the file's last number, {total} its numbered pages, {file} its\n"
               "                       name without extension (default {n}); text in Latin-1 and the\n"
               "                       Windows-1252 signs (€ – — “ ” ‘ ’ … • ™)\n"
               "  --digits D           pad {n} with zeros to D digits (0 to 20)\n"
               "  --pages SEL          number only these pages of each file: N, N-M, N- in a comma list,\n"
               "                       or odd, or even (default all); the first of them shows --first\n"
               "  --continue           one running number across all files, in the order given\n"
               "  --manifest FILE.csv  one row per file: input, output, pages, first, last, status,\n"
               "                       message, begbates, endbates\n"
               "  --opticon FILE.opt   with --continue: the Opticon load file, a line per numbered page\n"
               "  --dat FILE.dat       with --continue: the Concordance load file, a row per file\n"
               "  --volume NAME        the Opticon file's volume (default the output folder's name)\n"
               "  --overwrite          allow an output to replace an input\n"
               "  --jobs N             files numbered side by side (default: the number of cores)\n"
               "  --part K/N           number only the K-th of N shares of the files, with the numbers\n"
               "                       a whole run gives them\n"
               "  --plan FILE          with --part: the page counts from FILE; without: count every\n"
               "                       file's pages, write them to FILE and number nothing\n"
               "  --quiet              no progress line and no summary\n"
               "Exit status: 0 every file numbered, 1 some skipped, 2 a mistake in the command line,\n"
               "130 stopped (Ctrl-C).\n")
        .arg(program);
}

BatchCommandLine ReadBatchCommandLine(const QStringList& arguments, const QString& workingFolder) {
    BatchCommandLine line;
    BatchOptions& b = line.options;
    const QString program = QFileInfo(arguments.value(0, QStringLiteral("numbrel"))).fileName();
    b.jobs = std::max(1, std::min(kMostJobs, int(std::thread::hardware_concurrency())));
    try {
        bool endOfOptions = false;
        QStringList seen;
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
            if (name == QLatin1String("-o"))
                name = QStringLiteral("--output");
            static const QStringList flags = {QStringLiteral("--batch"),     QStringLiteral("--continue"),
                                              QStringLiteral("--overwrite"), QStringLiteral("--quiet"),
                                              QStringLiteral("--help"),      QStringLiteral("-h")};
            static const QStringList valued = {
                QStringLiteral("--output"), QStringLiteral("--first"),   QStringLiteral("--left"),
                QStringLiteral("--bottom"), QStringLiteral("--size"),    QStringLiteral("--color"),
                QStringLiteral("--format"), QStringLiteral("--digits"),  QStringLiteral("--manifest"),
                QStringLiteral("--jobs"),   QStringLiteral("--part"),    QStringLiteral("--plan"),
                QStringLiteral("--pages"),  QStringLiteral("--opticon"), QStringLiteral("--dat"),
                QStringLiteral("--volume")};
            if (flags.contains(name)) {
                if (hasValue)
                    refuse(QStringLiteral("%1 takes no value").arg(name));
                if (name == QLatin1String("--help") || name == QLatin1String("-h")) {
                    line.outcome = BatchCommandLine::Outcome::Help;
                    line.text = BatchUsageText(program);
                    return line;
                }
            } else if (valued.contains(name)) {
                if (!hasValue) {
                    if (k + 1 >= arguments.size())
                        refuse(QStringLiteral("%1 needs a value").arg(name));
                    value = arguments.at(++k);
                }
            } else {
                refuse(QStringLiteral("unknown option %1").arg(arg));
            }
            if (seen.contains(name) && name != QLatin1String("--batch"))
                refuse(QStringLiteral("%1 is given more than once").arg(name));
            seen.append(name);

            const std::string v = value.toStdString();
            StampOptions& o = b.stamp;
            if (name == QLatin1String("--output")) {
                if (value.isEmpty())
                    refuse(QStringLiteral("--output is empty"));
                b.outputFolder = absolute(value, workingFolder);
            } else if (name == QLatin1String("--first")) {
                o.firstNumber =
                    strictly([&] { return ParseWholeNumber(v, "--first", -999999999999LL, 999999999999LL); });
            } else if (name == QLatin1String("--left")) {
                o.left = strictly([&] { return ParseDecimalNumber(v, "--left", -1e6, 1e6); });
            } else if (name == QLatin1String("--bottom")) {
                o.bottom = strictly([&] { return ParseDecimalNumber(v, "--bottom", -1e6, 1e6); });
            } else if (name == QLatin1String("--size")) {
                o.fontSize = strictly([&] { return ParseDecimalNumber(v, "--size", 0, 10000, true); });
            } else if (name == QLatin1String("--color")) {
                readColor(value, o);
            } else if (name == QLatin1String("--format")) {
                readFormat(value, o);
                b.formatText = value;
            } else if (name == QLatin1String("--pages")) {
                readPages(value, o);
            } else if (name == QLatin1String("--opticon") || name == QLatin1String("--dat")) {
                if (value.isEmpty())
                    refuse(QStringLiteral("%1 is empty").arg(name));
                (name == QLatin1String("--dat") ? b.dat : b.opticon) = absolute(value, workingFolder);
            } else if (name == QLatin1String("--volume")) {
                if (value.isEmpty())
                    refuse(QStringLiteral("--volume is empty"));
                b.volume = value;
            } else if (name == QLatin1String("--digits")) {
                o.digits = int(strictly([&] { return ParseWholeNumber(v, "--digits", 0, kMostDigits); }));
            } else if (name == QLatin1String("--continue")) {
                b.continueNumbers = true;
            } else if (name == QLatin1String("--manifest")) {
                if (value.isEmpty())
                    refuse(QStringLiteral("--manifest is empty"));
                b.manifest = absolute(value, workingFolder);
            } else if (name == QLatin1String("--overwrite")) {
                b.overwrite = true;
            } else if (name == QLatin1String("--jobs")) {
                b.jobs = int(strictly([&] { return ParseWholeNumber(v, "--jobs", 1, kMostJobs); }));
            } else if (name == QLatin1String("--part")) {
                readPart(value, b);
            } else if (name == QLatin1String("--plan")) {
                if (value.isEmpty())
                    refuse(QStringLiteral("--plan is empty"));
                b.plan = absolute(value, workingFolder);
            } else if (name == QLatin1String("--quiet")) {
                b.quiet = true;
            }
        }
        if (b.outputFolder.isEmpty())
            refuse(QStringLiteral("no output folder: -o OUTDIR is missing"));
        if (b.inputs.isEmpty())
            refuse(QStringLiteral("no files or folders to number"));
        if (!b.plan.isEmpty() && !b.continueNumbers)
            refuse(QStringLiteral("--plan goes with --continue: only running numbers need the page counts"));
        if (!b.plan.isEmpty() && b.parts == 1 && seen.contains(QStringLiteral("--part")))
            refuse(QStringLiteral("--plan with --part 1/1: a whole run counts for itself"));
        checkNumbering(b, seen);
    } catch (const Refusal& r) {
        line.outcome = BatchCommandLine::Outcome::Refused;
        line.text = program + QStringLiteral(": ") + QString::fromStdString(r.what()) +
                    QStringLiteral(" (see ") + program + QStringLiteral(" --batch --help)\n");
    }
    return line;
}
