#pragma once
// Answers the program's boxes and dialogs from queues and records everything shown.

#include "core/Prompts.h"

#include <QList>
#include <QQueue>
#include <functional>

struct ShownPrompt {
    QString kind; // "message", "input", "color", "files", "folder", "open"
    QString text; // message or prompt text, dialog title, or the opened folder
    QString caption;
    int style = 0;
    QString preset; // input box preset or the folder picker's start folder
    QString filter;
};

class ScriptedPrompts : public Prompts {
public:
    QQueue<int> messageAnswers;            // default Ok (or No for Yes/No boxes)
    QQueue<QString> inputAnswers;          // default: Cancel (empty)
    QQueue<std::optional<QColor>> colours; // default: Cancel
    QQueue<QStringList> fileSelections;    // default: Cancel
    QQueue<QString> folders;               // default: Cancel
    QList<ShownPrompt> shown;
    // Called each time something is shown, before it is answered (to act "while the box is open").
    std::function<void(const ShownPrompt&)> onShow;

    int messageBox(const QString& text, const QString& caption, int style) override;
    QString inputBox(const QString& prompt, const QString& caption, const QString& preset) override;
    std::optional<QColor> chooseColor(QWidget* owner) override;
    QStringList openFiles(QWidget* owner, const QString& title, const QString& filter) override;
    QString chooseFolder(QWidget* owner, const QString& title, const QString& startFolder) override;
    void openInFileManager(const QString& folder) override;

    // The shown prompts of one kind, in order.
    QList<ShownPrompt> ofKind(const QString& kind) const;
    void record(const ShownPrompt& prompt);
    QStringList messages() const;
};
