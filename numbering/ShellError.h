#pragma once
#include <QString>
#include <stdexcept>

// A failed launch through the shell's open action: the error number and message of the shell's
// result code.
class ShellError : public std::runtime_error {
public:
    ShellError(int number, const QString& message)
        : std::runtime_error(message.toStdString())
        , number_(number)
        , message_(message) {}
    int number() const { return number_; }
    const QString& message() const { return message_; }

private:
    int number_;
    QString message_;
};
