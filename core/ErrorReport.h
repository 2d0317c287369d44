#pragma once
// The error report box and the step guard that every guarded command uses.

#include <QString>
#include <exception>
#include <functional>
#include <optional>
#include <stdexcept>

class Prompts;

inline const QString kSupportAddress = QStringLiteral("support@quillane.example");

// The box's text: description, CR LF, "in <tag> at line <step>", CR CR, the support request.
QString ErrorReportText(const QString& tag, const QString& description, int step);
// Shows the "Application Error" box (OK, exclamation) and returns when it is closed.
void ReportError(Prompts& prompts, const QString& tag, const QString& description, int step);

// Runs a command's numbered steps. A step that throws is reported with the command's tag and the
// step number, and the command carries on with its next step.
class StepGuard {
public:
    StepGuard(Prompts& prompts, QString tag)
        : prompts_(prompts)
        , tag_(std::move(tag)) {}

    // A plain step: on failure its effect is whatever it did before throwing. Returns the failure's
    // description as reported in the box, or nothing when the step went through.
    std::optional<QString> step(int number, const std::function<void()>& action);
    // A test that opens a block of steps ("If ...:"): on failure the block runs as if it had passed.
    bool blockIf(int number, const std::function<bool()>& test);
    // A test and its own action on one row ("If ..., stop."): whether to take the action; on failure
    // the action is skipped.
    bool actionIf(int number, const std::function<bool()>& test);

    int currentStep() const { return current_; }
    const QString& tag() const { return tag_; }

private:
    // The test's answer, or onFailure with the reported failure's description.
    bool run(int number, const std::function<bool()>& test, bool onFailure,
             std::optional<QString>* failure = nullptr);

    Prompts& prompts_;
    QString tag_;
    int current_ = 0;
};

// A one-line description of whatever a step threw.
QString DescribeException(std::exception_ptr error);
