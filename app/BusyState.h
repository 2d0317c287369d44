#pragma once
#include <QWidget>

// The window's wait pointer doubles as the program's busy flag: long commands set it, and the list's
// removal commands refuse to act while it shows.
class BusyState {
public:
    explicit BusyState(QWidget* window)
        : window_(window) {}
    bool isBusy() const { return window_->cursor().shape() == Qt::WaitCursor; }
    void setBusy(bool busy) { window_->setCursor(busy ? Qt::WaitCursor : Qt::ArrowCursor); }

private:
    QWidget* window_;
};
