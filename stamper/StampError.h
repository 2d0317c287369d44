#pragma once
// A failure the tool reports in one line and exits on. `usage` marks a bad command line.

#include <stdexcept>
#include <string>

class StampError : public std::runtime_error {
public:
    explicit StampError(const std::string& message, bool usage = false)
        : std::runtime_error(message)
        , usage_(usage) {}
    bool isUsageError() const { return usage_; }

private:
    bool usage_;
};
