// A stand-in for the numbering tool in the run's tests: it answers the same command line with a
// plain copy that ends in a marker line, so a test can tell the numbered copy from the input.
//
// Environment: STANDIN_LOG appends the arguments ("|" between them) as one line; STANDIN_CAPTURE
// receives a copy of temp.bat as the tool found it; STANDIN_SLEEP_MS waits first; STANDIN_EXIT ends
// at once with that status; STANDIN_LINK_OUTPUT makes the numbered copy a symbolic link to that
// path instead. An input containing FAIL-ME is refused with a message on stderr; one containing
// WARN-ME is numbered with a warning on stderr, as the real tool warns about a signed file.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <unistd.h>

namespace {
bool readAll(const std::string& path, std::string& content) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}
} // namespace

int main(int argc, char* argv[]) {
    if (const char* log = std::getenv("STANDIN_LOG")) {
        std::ofstream out(log, std::ios::app | std::ios::binary);
        for (int i = 1; i < argc; ++i)
            out << (i > 1 ? "|" : "") << argv[i];
        out << "\n";
    }
    if (const char* capture = std::getenv("STANDIN_CAPTURE")) {
        std::string script;
        if (readAll("temp.bat", script))
            std::ofstream(capture, std::ios::binary) << script;
    }
    if (const char* wait = std::getenv("STANDIN_SLEEP_MS"))
        std::this_thread::sleep_for(std::chrono::milliseconds(std::strtol(wait, nullptr, 10)));
    if (const char* status = std::getenv("STANDIN_EXIT"))
        return static_cast<int>(std::strtol(status, nullptr, 10));

    std::string input, output;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument.rfind("-m", 0) == 0)
            input = argument.substr(2);
        else if (argument.rfind("-d", 0) == 0)
            output = argument.substr(2);
    }
    if (input.empty() || output.empty())
        return 0;
    std::string content;
    if (!readAll(input, content)) {
        std::fprintf(stderr, "mbtPdfAsm.exe: cannot open %s\n", input.c_str());
        return 1;
    }
    if (const char* target = std::getenv("STANDIN_LINK_OUTPUT"))
        return ::symlink(target, output.c_str()) == 0 ? 0 : 1;
    if (content.find("WARN-ME") != std::string::npos)
        std::fprintf(stderr,
                     "mbtPdfAsm.exe: warning: %s was digitally signed; the numbered copy's signature is no "
                     "longer valid\n",
                     input.c_str());
    if (content.find("FAIL-ME") != std::string::npos) {
        std::fprintf(stderr, "mbtPdfAsm.exe: %s: this file cannot be numbered\n", input.c_str());
        return 2;
    }
    const std::string partial = output + ".part";
    std::ofstream(partial, std::ios::binary) << content << "%numbered\n";
    return std::rename(partial.c_str(), output.c_str()) == 0 ? 0 : 1;
}
