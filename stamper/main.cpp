// mbtPdfAsm.exe: numbers the pages of one PDF file. Run by the numbering run's script as
//   mbtPdfAsm.exe -mtemp1.pdf -n -N0<first> -Ns<size> -Nc<r>,<g>,<b> -Nx<left> -Ny<bottom> -dtemp2.pdf

#include "CommandLine.h"
#include "NumberPdfFile.h"
#include "ResultWarnings.h"
#include "StampError.h"

#include <qpdf/QPDF.hh>

#include <csignal>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

namespace {
const char* const kWhoami = "mbtPdfAsm.exe";
constexpr size_t kWarningsShown = 3;

// Stopped from outside (the run being closed, Ctrl+C): leave no half-written file behind.
void onStopSignal(int sig) {
    RemovePendingOutput();
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}
} // namespace

int main(int argc, char* argv[]) {
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        std::signal(sig, onStopSignal);
    // Past a file size limit a write then fails with a message instead of ending the program
    // without removing what it had written.
    std::signal(SIGXFSZ, SIG_IGN);
    std::vector<std::string> args(argv + 1, argv + argc);
    try {
        ToolCommandLine line = ParseCommandLine(args);
        if (line.action == ToolCommandLine::Action::Help) {
            std::fputs(UsageText(), stdout);
            return 0;
        }
        if (line.action == ToolCommandLine::Action::Version) {
            std::printf("%s (Numbrel page numbering) 1.0, qpdf %s\n", kWhoami, QPDF::QPDFVersion().c_str());
            return 0;
        }
        NumberPdfResult result = NumberPdfFile(line.options, true);
        for (const std::string& warning : ResultWarnings(result, line.options.input, kWarningsShown))
            std::fprintf(stderr, "%s: warning: %s\n", kWhoami, warning.c_str());
        return 0;
    } catch (StampError& e) {
        std::fprintf(stderr, "%s: %s\n", kWhoami, e.what());
        return e.isUsageError() ? 2 : 1;
    } catch (std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", kWhoami, e.what());
        return 1;
    }
}
