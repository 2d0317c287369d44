#include <QtTest>

class Test_sys : public QObject {
    Q_OBJECT
private slots:
    void placeholder() {}
};

QTEST_MAIN(Test_sys)
#include "test_sys.moc"
