#pragma once
#include <QProgressBar>

// A progress bar that keeps its exact (fractional) value and shows a text of its own.
class ProgressBar : public QProgressBar {
    Q_OBJECT
public:
    explicit ProgressBar(QWidget* parent = nullptr);
    void setExactValue(double value);
    double exactValue() const { return exact_; }
    void setDisplayText(const QString& text);
    QString text() const override { return text_; }

private:
    double exact_ = 0;
    QString text_ = QStringLiteral("Progress Bar");
};
