#include "ScriptedPrompts.h"

int ScriptedPrompts::messageBox(const QString& text, const QString& caption, int style) {
    record({QStringLiteral("message"), text, caption, style, {}, {}});
    if (!messageAnswers.isEmpty())
        return messageAnswers.dequeue();
    return (style & 7) == YesNo ? No : Ok;
}

QString ScriptedPrompts::inputBox(const QString& prompt, const QString& caption, const QString& preset) {
    record({QStringLiteral("input"), prompt, caption, 0, preset, {}});
    return inputAnswers.isEmpty() ? QString() : inputAnswers.dequeue();
}

std::optional<QColor> ScriptedPrompts::chooseColor(QWidget*) {
    record({QStringLiteral("color"), {}, {}, 0, {}, {}});
    return colours.isEmpty() ? std::nullopt : colours.dequeue();
}

QStringList ScriptedPrompts::openFiles(QWidget*, const QString& title, const QString& filter) {
    record({QStringLiteral("files"), title, {}, 0, {}, filter});
    return fileSelections.isEmpty() ? QStringList() : fileSelections.dequeue();
}

QString ScriptedPrompts::chooseFolder(QWidget*, const QString& title, const QString& startFolder) {
    record({QStringLiteral("folder"), title, {}, 0, startFolder, {}});
    return folders.isEmpty() ? QString() : folders.dequeue();
}

void ScriptedPrompts::openInFileManager(const QString& folder) {
    record({QStringLiteral("open"), folder, {}, 0, {}, {}});
}

QList<ShownPrompt> ScriptedPrompts::ofKind(const QString& kind) const {
    QList<ShownPrompt> result;
    for (const ShownPrompt& p : shown)
        if (p.kind == kind)
            result.append(p);
    return result;
}

QStringList ScriptedPrompts::messages() const {
    QStringList result;
    for (const ShownPrompt& p : ofKind(QStringLiteral("message")))
        result.append(p.text);
    return result;
}

void ScriptedPrompts::record(const ShownPrompt& prompt) {
    shown.append(prompt);
    if (onShow)
        onShow(prompt);
}
