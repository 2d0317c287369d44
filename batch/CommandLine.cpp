#include "batch/CommandLine.h"

#include <cctype>

namespace {
bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

char folded(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}
} // namespace

std::string SplitProgramName(const std::string& line, std::string& rest) {
    std::size_t i = 0;
    while (i < line.size() && isBlank(line[i]))
        ++i;
    std::string program;
    if (i < line.size() && line[i] == '"') {
        const std::size_t close = line.find('"', i + 1);
        if (close == std::string::npos) {
            program = line.substr(i + 1);
            i = line.size();
        } else {
            program = line.substr(i + 1, close - i - 1);
            i = close + 1;
        }
    } else {
        const std::size_t start = i;
        while (i < line.size() && !isBlank(line[i]))
            ++i;
        program = line.substr(start, i - start);
    }
    rest = line.substr(i);
    return program;
}

std::vector<std::string> SplitArguments(const std::string& text) {
    std::vector<std::string> arguments;
    std::size_t i = 0;
    const std::size_t n = text.size();
    for (;;) {
        while (i < n && isBlank(text[i]))
            ++i;
        if (i >= n)
            break;
        std::string argument;
        bool quoted = false;
        while (i < n) {
            const char c = text[i];
            if (!quoted && isBlank(c))
                break;
            if (c == '\\') {
                std::size_t run = 0;
                while (i < n && text[i] == '\\') {
                    ++run;
                    ++i;
                }
                if (i < n && text[i] == '"') {
                    argument.append(run / 2, '\\');
                    if (run % 2 == 1) {
                        argument += '"';
                        ++i;
                    }
                } else {
                    argument.append(run, '\\');
                }
            } else if (c == '"') {
                if (quoted && i + 1 < n && text[i + 1] == '"') {
                    argument += '"';
                    i += 2;
                } else {
                    quoted = !quoted;
                    ++i;
                }
            } else {
                argument += c;
                ++i;
            }
        }
        arguments.push_back(std::move(argument));
    }
    return arguments;
}

bool NameMatches(const std::string& pattern, const std::string& name) {
    if (pattern == "*" || pattern == "*.*")
        return true;
    std::size_t p = 0, s = 0, mark = 0;
    std::size_t star = std::string::npos;
    while (s < name.size()) {
        if (p < pattern.size() &&
            (pattern[p] == '?' || (pattern[p] != '*' && folded(pattern[p]) == folded(name[s])))) {
            ++p;
            ++s;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            mark = s;
        } else if (star != std::string::npos) {
            p = star + 1;
            s = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}
