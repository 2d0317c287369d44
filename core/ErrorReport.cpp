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

bool StepGuard::run(int number, const std::function<bool()>& test, bool onFailure) {
    current_ = number;
    try {
        return test();
    } catch (...) {
        ReportError(prompts_, tag_, DescribeException(std::current_exception()), current_);
        return onFailure;
    }
}

void StepGuard::step(int number, const std::function<void()>& action) {
    run(
        number,
        [&] {
            action();
            return true;
        },
        false);
}

bool StepGuard::blockIf(int number, const std::function<bool()>& test) {
    return run(number, test, true);
}

bool StepGuard::stopIf(int number, const std::function<bool()>& test) {
    return run(number, test, false);
}
