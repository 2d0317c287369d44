#include "app/StartUp.h"

#include "app/Form1.h"

#include <QGuiApplication>
#include <QScreen>
#include <QStyle>

void StartMainWindow(Form1& window, const QStringList& paths) {
    window.Form_Load();
    window.setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, window.size(),
                                           QGuiApplication::primaryScreen()->availableGeometry()));
    window.show();
    if (paths.isEmpty())
        return;
    // Queued, like a drop: the window is up and drawn before a large folder is scanned.
    QMetaObject::invokeMethod(
        &window, [&window, paths] { window.DropOnList(paths); }, Qt::QueuedConnection);
}
