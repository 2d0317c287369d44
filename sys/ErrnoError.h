#pragma once
// A failed system call on a path: "<the system's text for errno>: <path>".

#include <QFile>
#include <QString>

#include <cstring>
#include <stdexcept>
#include <string>

class ErrnoError : public std::runtime_error {
public:
    ErrnoError(int error, const QString& path)
        : std::runtime_error(std::string(std::strerror(error)) + ": " + QFile::encodeName(path).toStdString())
        , error_(error) {}

    int error() const { return error_; }

private:
    int error_;
};
