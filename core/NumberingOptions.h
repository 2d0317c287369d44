#pragma once
#include <QString>
#include <cstdint>

class QLineEdit;
class QWidget;

// The numbering options are the panel's controls themselves: every read takes the current contents,
// so an edit made during a run applies to the files that follow.
class NumberingOptions {
public:
    NumberingOptions(QLineEdit* first, QLineEdit* left, QLineEdit* bottom, QLineEdit* size, QWidget* swatch,
                     QLineEdit* output);
    QString firstNumber() const;
    QString leftMargin() const;
    QString bottomMargin() const;
    QString fontSize() const;
    QString outputFolder() const;
    void setOutputFolder(const QString& folder);
    // red + 256 * green + 65536 * blue
    std::int32_t fontColor() const;
    void setFontColor(std::int32_t colour);

private:
    QLineEdit* first_;
    QLineEdit* left_;
    QLineEdit* bottom_;
    QLineEdit* size_;
    QWidget* swatch_;
    QLineEdit* output_;
};

// Colour values as the program stores them, and back.
std::int32_t ColorValue(int red, int green, int blue);
