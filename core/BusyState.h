#pragma once
#include <QList>
#include <QWidget>
#include <functional>

// The program's one busy state, shown as the window's wait pointer: long commands claim it, and the
// commands that must not run meanwhile test it.
//
// Long commands let window events through, so one command can start inside another (a folder add
// while a run numbers its files). Each command runs in a scope of its own, and setBusy changes only
// the claim of the innermost one: a command that ends its own claim leaves the pointer busy while an
// outer command still claims it, and a scope that ends drops whatever its command left claimed.
class BusyState {
public:
    explicit BusyState(QWidget* window)
        : window_(window) {}

    bool isBusy() const { return claims_.contains(true); }
    // The innermost command's claim.
    void setBusy(bool busy) {
        claims_.last() = busy;
        window_->setCursor(isBusy() ? Qt::WaitCursor : Qt::ArrowCursor);
    }

    // Whether the list's rows must stay as they are: while any command is busy, and while the test
    // set here holds (a numbering run reads the rows one by one, whatever the pointer shows).
    bool rowsLocked() const { return isBusy() || (rowsLockedTest_ && rowsLockedTest_()); }
    void setRowsLockedTest(std::function<bool()> test) { rowsLockedTest_ = std::move(test); }

    // Opened around each command of the window.
    class Scope {
    public:
        explicit Scope(BusyState& state)
            : state_(state) {
            state_.claims_.append(false);
        }
        ~Scope() {
            const bool wasBusy = state_.isBusy();
            state_.claims_.removeLast();
            if (wasBusy && !state_.isBusy())
                state_.window_->setCursor(Qt::ArrowCursor);
        }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        BusyState& state_;
    };

private:
    QWidget* window_;
    // One claim per command under way, innermost last; the first belongs to no command (a command
    // called directly, as tests do).
    QList<bool> claims_{false};
    std::function<bool()> rowsLockedTest_;
};
