#include "core/NumberingOptions.h"

#include <QLineEdit>
#include <QPalette>
#include <QWidget>

NumberingOptions::NumberingOptions(QLineEdit* first, QLineEdit* left, QLineEdit* bottom, QLineEdit* size,
                                   QWidget* swatch, QLineEdit* output)
    : first_(first)
    , left_(left)
    , bottom_(bottom)
    , size_(size)
    , swatch_(swatch)
    , output_(output) {}

QString NumberingOptions::firstNumber() const {
    return first_->text();
}
QString NumberingOptions::leftMargin() const {
    return left_->text();
}
QString NumberingOptions::bottomMargin() const {
    return bottom_->text();
}
QString NumberingOptions::fontSize() const {
    return size_->text();
}
QString NumberingOptions::outputFolder() const {
    return output_->text();
}
void NumberingOptions::setOutputFolder(const QString& folder) {
    output_->setText(folder);
}

std::int32_t ColorValue(int red, int green, int blue) {
    return red + 256 * green + 65536 * blue;
}

// The swatch keeps the whole 32-bit value as well as showing it, so a stored value outside the three
// colour bytes reaches the run unchanged.
std::int32_t NumberingOptions::fontColor() const {
    return swatch_->property("fontColor").toInt();
}

void NumberingOptions::setFontColor(std::int32_t colour) {
    // The swatch shows the value's low three bytes, red first, as the colour box always did.
    const auto v = static_cast<std::uint32_t>(colour);
    QPalette p = swatch_->palette();
    p.setColor(QPalette::Window, QColor(v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF));
    swatch_->setPalette(p);
    swatch_->setProperty("fontColor", colour);
    swatch_->setAutoFillBackground(true);
}
