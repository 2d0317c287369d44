#include "core/QtPrompts.h"

#include <QApplication>
#include <QColorDialog>
#include <QDesktopServices>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QUrl>

namespace {
QString displayText(QString text) {
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

QWidget* activeOwner() {
    return QApplication::activeWindow();
}
} // namespace

int QtPrompts::messageBox(const QString& text, const QString& caption, int style) {
    QMessageBox box(activeOwner());
    box.setWindowTitle(caption);
    // Texts carry paths and descriptions from outside, which may look like markup ("<b>" in a name).
    box.setTextFormat(Qt::PlainText);
    box.setText(displayText(text));
    box.setIcon((style & Exclamation) == Exclamation ? QMessageBox::Warning : QMessageBox::NoIcon);
    if ((style & 7) == YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? Yes : No;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return Ok;
}

QString QtPrompts::inputBox(const QString& prompt, const QString& caption, const QString& preset) {
    QInputDialog dialog(activeOwner());
    dialog.setWindowTitle(caption);
    dialog.setLabelText(displayText(prompt));
    dialog.setTextValue(preset);
    for (QLabel* label : dialog.findChildren<QLabel*>())
        label->setTextFormat(Qt::PlainText);
    return dialog.exec() == QDialog::Accepted ? dialog.textValue() : QString();
}

std::optional<QColor> QtPrompts::chooseColor(QWidget* owner) {
    const QColor colour = QColorDialog::getColor(Qt::black, owner);
    if (!colour.isValid())
        return std::nullopt;
    return colour;
}

QStringList QtPrompts::openFiles(QWidget* owner, const QString& title, const QString& filter) {
    // Qt's own dialog matches "*.pdf" without regard to case, as users expect ("SCAN0001.PDF");
    // the desktop's native dialog would hide such files.
    return QFileDialog::getOpenFileNames(owner, title, QString(), filter, nullptr,
                                         QFileDialog::DontUseNativeDialog);
}

QString QtPrompts::chooseFolder(QWidget* owner, const QString& title, const QString& startFolder) {
    return QFileDialog::getExistingDirectory(owner, title, startFolder, QFileDialog::ShowDirsOnly);
}

void QtPrompts::openInFileManager(const QString& folder) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}
