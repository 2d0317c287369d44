#include "core/ErrorReport.h"

#include "core/Prompts.h"

QString ErrorReportText(const QString& tag, const QString& description, int step) {
    return description + QStringLiteral("\r\nin ") + tag + QStringLiteral(" at line ") +
           QString::number(step) + QStringLiteral("\r\rPlease email screenshot of this message to ") +
           kSupportAddress;
}

void ReportError(Prompts& prompts, const QString& tag, const QString& description, int step) {
    prompts.messageBox(ErrorReportText(tag, description, step), QStringLiteral("Application Error"),
                       Prompts::OkOnly | Prompts::Exclamation);
}

QString DescribeException(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return QString::fromLocal8Bit(e.what());
    } catch (...) {
        return QStringLiteral("Unexpected error");
    }
}

bool StepGuard::run(int number, const std::function<bool()>& test, bool onFailure,
                    std::optional<QString>* failure) {
    current_ = number;
    try {
        return test();
    } catch (...) {
        const QString description = DescribeException(std::current_exception());
        if (failure)
            *failure = description;
        ReportError(prompts_, tag_, description, current_);
        return onFailure;
    }
}

std::optional<QString> StepGuard::step(int number, const std::function<void()>& action) {
    std::optional<QString> failure;
    run(
        number,
        [&] {
            action();
            return true;
        },
        false, &failure);
    return failure;
}

bool StepGuard::blockIf(int number, const std::function<bool()>& test) {
    return run(number, test, true);
}

bool StepGuard::actionIf(int number, const std::function<bool()>& test) {
    return run(number, test, false);
}
