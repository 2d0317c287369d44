// numbrel-batch: runs a ".bat" run script in the current folder.
//
// Each line (ending in LF or CR LF) is one command: "del NAME..." deletes files (a wildcard is
// allowed in the last part of a name, and nothing matching is not an error); any other line names a
// program, quoted or not, followed by its arguments, which is run and waited for. A line starting
// with "rem" or "::" is a comment, and a leading "@" is ignored. Like the command interpreter these
// scripts were written for, a failing line does not stop the script; the exit status is that of the
// last line.

#include "batch/CommandLine.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {
const char* const kName = "numbrel-batch";

std::string lowered(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The first word of a line, as the interpreter compares commands: case-insensitive, and ended by a
// blank, a tab or the end of the line.
std::string firstWord(const std::string& line) {
    const std::size_t end = line.find_first_of(" \t");
    return lowered(line.substr(0, end));
}

bool isFolder(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool removeFile(const std::string& path) {
    if (::unlink(path.c_str()) == 0 || errno == ENOENT)
        return true;
    std::fprintf(stderr, "%s: cannot delete %s: %s\n", kName, path.c_str(), std::strerror(errno));
    return false;
}

int deleteFiles(const std::string& names) {
    bool ok = true;
    for (const std::string& name : SplitArguments(names)) {
        const std::size_t slash = name.rfind('/');
        const std::string folder = slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
        const std::string pattern = slash == std::string::npos ? name : name.substr(slash + 1);
        if (pattern.find_first_of("*?") == std::string::npos) {
            if (!pattern.empty() && !isFolder(name))
                ok = removeFile(name) && ok;
            continue;
        }
        DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
        if (!dir)
            continue;
        std::vector<std::string> matches;
        while (const dirent* entry = ::readdir(dir)) {
            const std::string entryName = entry->d_name;
            if (entryName == "." || entryName == "..")
                continue;
            // Dot files are hidden ones, which a wildcard leaves alone unless it asks for them.
            if (entryName[0] == '.' && pattern[0] != '.')
                continue;
            if (NameMatches(pattern, entryName) && !isFolder(folder + entryName))
                matches.push_back(folder + entryName);
        }
        ::closedir(dir);
        for (const std::string& match : matches)
            ok = removeFile(match) && ok;
    }
    return ok ? 0 : 1;
}

bool isExecutableFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// A bare program name is looked for in the working folder first, then along PATH.
std::string resolveProgram(const std::string& program) {
    if (program.find('/') != std::string::npos)
        return program;
    if (isExecutableFile(program))
        return "./" + program;
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= folders.size()) {
        std::size_t end = folders.find(':', start);
        if (end == std::string::npos)
            end = folders.size();
        const std::string folder = folders.substr(start, end - start);
        const std::string candidate = (folder.empty() ? std::string(1, '.') : folder) + "/" + program;
        if (isExecutableFile(candidate))
            return candidate;
        start = end + 1;
    }
    return program;
}

int runProgram(const std::string& line) {
    std::string rest;
    const std::string program = SplitProgramName(line, rest);
    std::vector<std::string> arguments = SplitArguments(rest);
    if (program.empty()) {
        std::fprintf(stderr, "%s: a line names no program: %s\n", kName, line.c_str());
        return 1;
    }
    const std::string path = resolveProgram(program);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    pid_t pid = 0;
    const int error = ::posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv.data(), environ);
    if (error != 0) {
        std::fprintf(stderr, "%s: cannot run %s: %s\n", kName, program.c_str(), std::strerror(error));
        return error == ENOENT ? 127 : 126;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return 1;
    }
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) {
        // A program stopped from outside says nothing itself; the script's caller learns it here,
        // since the script's own status is usually that of a later line.
        std::fprintf(stderr, "%s: %s was stopped by signal %d (%s)\n", kName, program.c_str(),
                     WTERMSIG(status), strsignal(WTERMSIG(status)));
        return 128 + WTERMSIG(status);
    }
    return 1;
}

int runLine(std::string line) {
    const std::size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos)
        return -1;
    line.erase(0, start);
    if (line[0] == '@')
        line.erase(0, 1);
    if (line.empty() || line.compare(0, 2, "::") == 0)
        return -1;
    const std::string command = firstWord(line);
    if (command == "rem")
        return -1;
    if (command == "del" || command == "erase")
        return deleteFiles(line.substr(command.size()));
    return runProgram(line);
}
} // namespace

int main(int argc, char* argv[]) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s SCRIPT.bat\n", kName);
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "%s: cannot open %s: %s\n", kName, argv[1], std::strerror(errno));
        return 2;
    }
    const std::string script((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    int status = 0;
    std::size_t start = 0;
    while (start < script.size()) {
        std::size_t end = script.find('\n', start);
        if (end == std::string::npos)
            end = script.size();
        std::string line = script.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const int lineStatus = runLine(line);
        if (lineStatus >= 0)
            status = lineStatus;
        start = end + 1;
    }
    return status;
}
