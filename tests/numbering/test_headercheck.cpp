// The version gate: what is read from a file and how characters 6 to 8 decide.

#include "numbering/HeaderCheck.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <sys/stat.h>

class TestHeaderCheck : public QObject {
    Q_OBJECT
private slots:
    void readFileText_data();
    void readFileText();
    void folderCannotBeRead();
    void fifoIsNeverOpened();
    void gate_data();
    void gate();
    void leadingNumber_data();
    void leadingNumber();
};

void TestHeaderCheck::readFileText_data() {
    QTest::addColumn<bool>("exists");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("expected");
    QTest::newRow("missing") << false << QByteArray() << QString();
    QTest::newRow("empty") << true << QByteArray() << QStringLiteral("empty file");
    QTest::newRow("pdf: nine characters")
        << true << QByteArray("%PDF-1.4\n%\xE2\xE3\n1 0 obj") << "%PDF-1.4\n";
    QTest::newRow("exactly eight bytes") << true << QByteArray("%PDF-1.9") << "%PDF-1.9";
    QTest::newRow("bytes above 127 stay one character each")
        << true << QByteArray("\xE2\xE3\xCF\xD3%PDF-1") << QString::fromLatin1("\xE2\xE3\xCF\xD3%PDF-");
    QTest::newRow("utf-16 little-endian") << true
                                          << QByteArray("\xFF\xFE%\0P\0D\0F\0-\0"
                                                        "1\0.\0"
                                                        "7\0\n\0",
                                                        20)
                                          << QString(QChar(0xFEFF)) + "%PDF-1.7";
    QTest::newRow("utf-16 big-endian mark read as little-endian")
        << true << QByteArray("\xFE\xFF\0%\0P", 6) << QString(QChar(0xFFFE)) + QChar(0x2500) + QChar(0x5000);
}

void TestHeaderCheck::readFileText() {
    QFETCH(bool, exists);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("file.pdf"));
    if (exists) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QCOMPARE(ReadFileText(path), expected);
}

void TestHeaderCheck::folderCannotBeRead() {
    QTemporaryDir dir;
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, ReadFileText(dir.path()));
}

void TestHeaderCheck::fifoIsNeverOpened() {
    QTemporaryDir dir;
    const QString fifo = dir.filePath(QStringLiteral("pipe.pdf"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    // Opening a FIFO with no writer would block the window.
    QCOMPARE(ReadFileText(fifo), QStringLiteral("empty file"));
}

void TestHeaderCheck::gate_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("refused");
    QTest::addColumn<QString>("version");
    for (int minor = 0; minor <= 6; ++minor)
        QTest::addRow("1.%d", minor) << QStringLiteral("%PDF-1.%1\n").arg(minor) << false
                                     << QStringLiteral("1.%1").arg(minor);
    QTest::newRow("1.7") << "%PDF-1.7\n" << true << "1.7";
    QTest::newRow("2.0") << "%PDF-2.0\r" << true << "2.0";
    QTest::newRow("eight characters only") << "%PDF-1.9" << false << "";
    QTest::newRow("empty file marker") << "empty file" << false << " fi";
    QTest::newRow("missing file") << "" << false << "";
    QTest::newRow("junk before the header") << "abc%PDF-1.7" << false << "DF-";
    QTest::newRow("not a pdf") << "hello world" << false << " wo";
    QTest::newRow("exponent") << "%PDF-1e1\n" << true << "1e1";
    QTest::newRow("utf-16 text") << QString(QChar(0xFEFF)) + "%PDF-1.7" << false << "-1.";
}

void TestHeaderCheck::gate() {
    QFETCH(QString, text);
    QFETCH(bool, refused);
    QFETCH(QString, version);
    const VersionVerdict verdict = IsPdfVersionRefused(text);
    QCOMPARE(verdict.refused, refused);
    QCOMPARE(verdict.version, version);
}

void TestHeaderCheck::leadingNumber_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value");
    QTest::newRow("1.7") << "1.7" << 1.7;
    QTest::newRow("sign") << "-1." << -1.0;
    QTest::newRow("plus and point first") << "+.5" << 0.5;
    QTest::newRow("blanks and tabs passed over") << "1 7" << 17.0;
    QTest::newRow("leading tab") << "\t2." << 2.0;
    QTest::newRow("exponent e") << "1e1" << 10.0;
    QTest::newRow("exponent d") << "1D1" << 10.0;
    QTest::newRow("exponent without digits") << "2e" << 2.0;
    QTest::newRow("second point stops") << "1.2.3" << 1.2;
    QTest::newRow("letters") << "abc" << 0.0;
    QTest::newRow("sign alone") << "-" << 0.0;
    QTest::newRow("point alone") << "." << 0.0;
    QTest::newRow("stops at a letter") << "7x9" << 7.0;
}

void TestHeaderCheck::leadingNumber() {
    QFETCH(QString, text);
    QFETCH(double, value);
    QCOMPARE(LeadingNumber(text), value);
}

QTEST_MAIN(TestHeaderCheck)
#include "test_headercheck.moc"
