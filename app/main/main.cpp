#include "app/Form1.h"
#include "app/QtPrompts.h"

#include <QApplication>
#include <QScreen>
#include <QStyle>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Numbrel"));
    QApplication::setOrganizationName(QStringLiteral("Quillane"));

    QtPrompts prompts;
    Form1 window(prompts);
    window.Form_Load();
    window.setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, window.size(),
                                           QGuiApplication::primaryScreen()->availableGeometry()));
    window.show();
    return app.exec();
}
