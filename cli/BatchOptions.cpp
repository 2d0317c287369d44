#include "cli/BatchOptions.h"

#include "CommandLine.h"
#include "NumberText.h"
#include "StampError.h"

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
    // Any script will do (a font that has it is found with the plan); control characters print nothing.
    for (const uint c : text.toUcs4())
        if (c < 0x20 || (c >= 0x7F && c < 0xA0) || c == 0x2028 || c == 0x2029)
            refuse(QStringLiteral("--format holds the control character U+%1, which prints nothing")
                       .arg(QString::number(c, 16).toUpper().rightJustified(4, QLatin1Char('0'))));
    const std::string bytes = text.toStdString();
    if (!IsKnownNumberFormat(bytes))
        refuse(QStringLiteral("--format \"%1\" has a \"{\" that is none of {n}, {total}, {file}").arg(text));
    o.format = bytes;
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
               "  --format TEXT        what each page shows: {n} the number, {total} the file's page\n"
               "                       count, {file} its name without extension (default {n}); any\n"
               "                       script: text Helvetica can't draw gets an embedded font subset\n"
               "  --font FONT          the font for such text: a .ttf/.otf file, FILE.ttc:INDEX, or an\n"
               "                       installed font's name (default: one that has every character)\n"
               "  --digits D           pad {n} with zeros to D digits (0 to 20)\n"
               "  --continue           one running number across all files, in the order given\n"
               "  --manifest FILE.csv  one row per file: input, output, pages, first, last, status, message\n"
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
                QStringLiteral("--output"), QStringLiteral("--first"),  QStringLiteral("--left"),
                QStringLiteral("--bottom"), QStringLiteral("--size"),   QStringLiteral("--color"),
                QStringLiteral("--format"), QStringLiteral("--digits"), QStringLiteral("--manifest"),
                QStringLiteral("--font"),   QStringLiteral("--jobs"),   QStringLiteral("--part"),
                QStringLiteral("--plan")};
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
            } else if (name == QLatin1String("--font")) {
                if (value.isEmpty())
                    refuse(QStringLiteral("--font is empty"));
                b.font = value;
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
    } catch (const Refusal& r) {
        line.outcome = BatchCommandLine::Outcome::Refused;
        line.text = program + QStringLiteral(": ") + QString::fromStdString(r.what()) +
                    QStringLiteral(" (see ") + program + QStringLiteral(" --batch --help)\n");
    }
    return line;
}
