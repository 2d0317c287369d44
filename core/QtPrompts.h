#pragma once
#include "core/Prompts.h"

// The real dialogs. CR, LF and CR LF in texts are shown as line breaks; every text is shown as plain
// text, whatever markup it seems to hold.
class QtPrompts : public Prompts {
public:
    int messageBox(const QString& text, const QString& caption, int style) override;
    QString inputBox(const QString& prompt, const QString& caption, const QString& preset) override;
    std::optional<QColor> chooseColor(QWidget* owner) override;
    QStringList openFiles(QWidget* owner, const QString& title, const QString& filter) override;
    QString chooseFolder(QWidget* owner, const QString& title, const QString& startFolder) override;
    void openInFileManager(const QString& folder) override;
};
