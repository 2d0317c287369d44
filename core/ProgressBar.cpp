#include "core/ProgressBar.h"

#include <cmath>

ProgressBar::ProgressBar(QWidget* parent)
    : QProgressBar(parent) {
    setRange(0, 100);
    setValue(0);
    setTextVisible(true);
    setAlignment(Qt::AlignCenter);
}

void ProgressBar::setExactValue(double value) {
    exact_ = value;
    setValue(static_cast<int>(std::lround(std::clamp(value, 0.0, 100.0))));
    update();
}

void ProgressBar::setDisplayText(const QString& text) {
    text_ = text;
    update();
}
