#pragma once
// Every modal box and dialog the program shows goes through this interface, so tests can answer
// them (ScriptedPrompts) while the program uses the Qt dialogs (QtPrompts).

#include <QColor>
#include <QString>
#include <QStringList>
#include <optional>

class QWidget;

class Prompts {
public:
    // Message box styles and answers, with the values the window's commands use.
    enum Style : int { OkOnly = 0, YesNo = 4, Exclamation = 48 };
    enum Answer : int { Ok = 1, Cancel = 2, Yes = 6, No = 7 };

    virtual ~Prompts() = default;

    // style is buttons + icon (OkOnly, YesNo, plus Exclamation); returns the button pressed.
    virtual int messageBox(const QString& text, const QString& caption, int style) = 0;
    // The text typed, or empty text on Cancel.
    virtual QString inputBox(const QString& prompt, const QString& caption, const QString& preset) = 0;
    // The chosen colour, or nothing on Cancel.
    virtual std::optional<QColor> chooseColor(QWidget* owner) = 0;
    // Full paths of the chosen files in the dialog's order; empty on Cancel.
    virtual QStringList openFiles(QWidget* owner, const QString& title, const QString& filter) = 0;
    // The chosen folder as the dialog gives it; empty on Cancel.
    virtual QString chooseFolder(QWidget* owner, const QString& title, const QString& startFolder) = 0;
    // Shows a folder in the file manager; nothing is reported back.
    virtual void openInFileManager(const QString& folder) = 0;
};
