#include <QtTest>

class Test_window : public QObject {
    Q_OBJECT
private slots:
    void placeholder() {}
};

QTEST_MAIN(Test_window)
#include "test_window.moc"
