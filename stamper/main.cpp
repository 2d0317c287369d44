// mbtPdfAsm.exe: numbers the pages of one PDF file. Run by the numbering run's script as
//   mbtPdfAsm.exe -mtemp1.pdf -n -N0<first> -Ns<size> -Nc<r>,<g>,<b> -Nx<left> -Ny<bottom> -dtemp2.pdf

#include "CommandLine.h"
#include "NumberPdfFile.h"
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
        CommandLine line = ParseCommandLine(args);
        if (line.action == CommandLine::Action::Help) {
            std::fputs(UsageText(), stdout);
            return 0;
        }
        if (line.action == CommandLine::Action::Version) {
            std::printf("%s (Numbrel page numbering) 1.0, qpdf %s\n", kWhoami, QPDF::QPDFVersion().c_str());
            return 0;
        }
        NumberPdfResult result = NumberPdfFile(line.options, true);
        for (size_t k = 0; k < result.warnings.size() && k < kWarningsShown; ++k)
            std::fprintf(stderr, "%s: warning: %s\n", kWhoami, result.warnings[k].c_str());
        if (result.warnings.size() > kWarningsShown)
            std::fprintf(stderr, "%s: warning: %zu more repairs while reading %s\n", kWhoami,
                         result.warnings.size() - kWarningsShown, line.options.input.c_str());
        if (result.pagesWithNumberOffPage == result.pages)
            std::fprintf(stderr,
                         "%s: warning: the number lies outside the visible page on every page of %s; "
                         "no number can be seen (check the left and bottom margins)\n",
                         kWhoami, line.options.input.c_str());
        else if (result.pagesWithNumberOffPage > 0)
            std::fprintf(stderr,
                         "%s: warning: the number lies outside the visible page on %zu of the %zu pages of "
                         "%s (check the left and bottom margins)\n",
                         kWhoami, result.pagesWithNumberOffPage, result.pages, line.options.input.c_str());
        if (result.certification > 0)
            std::fprintf(stderr,
                         "%s: warning: %s is certified by its author (a certifying signature that allows %s); "
                         "the page numbers are a change the certification forbids, so viewers that check it "
                         "will report the numbered copy's certification as broken\n",
                         kWhoami, line.options.input.c_str(),
                         result.certification == 1   ? "no changes at all"
                         : result.certification == 2 ? "only filling in forms and signing"
                                                     : "only forms, signatures and comments");
        else if (result.signatureKept)
            std::fprintf(stderr,
                         "%s: warning: %s is digitally signed; the signature still holds for the signed "
                         "revision, and the page numbers are a later change that it does not sign\n",
                         kWhoami, line.options.input.c_str());
        if (result.signatureBroken)
            std::fprintf(
                stderr,
                "%s: warning: %s was digitally signed; the numbered copy's signature is no longer valid\n",
                kWhoami, line.options.input.c_str());
        return 0;
    } catch (StampError& e) {
        std::fprintf(stderr, "%s: %s\n", kWhoami, e.what());
        return e.isUsageError() ? 2 : 1;
    } catch (std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", kWhoami, e.what());
        return 1;
    }
}
