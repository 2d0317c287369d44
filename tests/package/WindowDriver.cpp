// A Qt plugin that drives the installed program's own window from inside its process, the way a
// user would: once the list holds the files named on the command line, it types the output folder,
// presses Start Adding, answers the box that ends the run and closes the window. Loaded with
// QT_PLUGIN_PATH=<dir> QT_QPA_GENERIC_PLUGINS=numbreldriver; NUMBREL_DRIVE_OUT names the folder.
// Each step is printed, so that a run that goes wrong says where.

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QGenericPlugin>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>
#include <cstdlib>

namespace {
class Driver : public QObject {
public:
    Driver() {
        connect(&tick_, &QTimer::timeout, this, [this] { step(); });
        tick_.start(100);
        QTimer::singleShot(120000, this, [] {
            std::fputs("driver: the window did not finish in 120 s\n", stderr);
            std::_Exit(3);
        });
    }

private:
    QTimer tick_;
    int stage_ = 0;

    static QWidget* window() {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == QLatin1String("Form1") && w->isVisible())
                return w;
        return nullptr;
    }

    void step() {
        QWidget* form = window();
        if (!form)
            return;
        if (stage_ == 0) {
            auto* list = form->findChild<QTreeWidget*>(QStringLiteral("ListView1"));
            if (!list || list->topLevelItemCount() == 0)
                return;
            std::printf("driver: %d file(s) listed\n", int(list->topLevelItemCount()));
            form->findChild<QLineEdit*>(QStringLiteral("Text5"))
                ->setText(qEnvironmentVariable("NUMBREL_DRIVE_OUT"));
            stage_ = 1;
            std::puts("driver: Start Adding");
            std::fflush(stdout);
            // Queued: the run shows its closing box in a loop of its own, inside which we go on.
            QMetaObject::invokeMethod(form->findChild<QPushButton*>(QStringLiteral("PushButton2")),
                                      &QAbstractButton::click, Qt::QueuedConnection);
        } else if (stage_ == 1) {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            std::printf("driver: box: %s\n", qPrintable(box->text().simplified()));
            stage_ = 2;
            box->button(QMessageBox::Ok) ? box->button(QMessageBox::Ok)->click() : box->accept();
        } else if (stage_ == 2 && !QApplication::activeModalWidget()) {
            std::puts("driver: closing the window");
            std::fflush(stdout);
            stage_ = 3;
            form->close();
        }
    }
};

class DriverPlugin : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "WindowDriver.json")
public:
    QObject* create(const QString&, const QString&) override { return new Driver; }
};
} // namespace

#include "WindowDriver.moc"
