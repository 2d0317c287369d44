// The content scan decides how many graphics states to close before the number is drawn; a miscount
// moves or hides the number, or closes a state the page still needs.

#include "ContentScan.h"

#include <QtTest>

class ContentScanTest : public QObject {
    Q_OBJECT

private slots:
    void scan_data();
    void scan();
};

void ContentScanTest::scan_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("openSaves");
    QTest::addColumn<bool>("openText");
    QTest::addColumn<QList<int>>("strayRestores");

    QTest::newRow("empty") << QByteArray() << 0 << false << QList<int>{};
    QTest::newRow("balanced") << QByteArray("q 1 0 0 1 5 5 cm Q q Q") << 0 << false << QList<int>{};
    QTest::newRow("open with cm") << QByteArray("q 2 0 0 2 0 0 cm q 1 0 0 rg") << 2 << false << QList<int>{};
    QTest::newRow("stray restore first") << QByteArray("Q q") << 1 << false << QList<int>{0};
    QTest::newRow("stray after balance") << QByteArray("q Q\nQ") << 0 << false << QList<int>{4};
    QTest::newRow("operators glued to delimiters")
        << QByteArray("q[1 2]0 d(x)Tj/Q gs<00>Q") << 0 << false << QList<int>{};
    QTest::newRow("q inside strings")
        << QByteArray("(q \\) Q ( nested q ) Q) Tj q") << 1 << false << QList<int>{};
    QTest::newRow("q in a comment") << QByteArray("% q q q\nq") << 1 << false << QList<int>{};
    QTest::newRow("q in a hex string and a name") << QByteArray("<71> /q /Q q") << 1 << false << QList<int>{};
    QTest::newRow("dictionary brackets")
        << QByteArray("/P <</MCID 0>> BDC q EMC") << 1 << false << QList<int>{};
    QTest::newRow("words that start with q") << QByteArray("qq Qx q") << 1 << false << QList<int>{};
    QTest::newRow("text left open") << QByteArray("BT /F1 12 Tf (a) Tj") << 0 << true << QList<int>{};
    QTest::newRow("text closed") << QByteArray("BT (a) Tj ET") << 0 << false << QList<int>{};
    QTest::newRow("inline image with Q bytes")
        << QByteArray("q BI /W 2 /H 1 /BPC 8 /CS /G ID Q\x01 Q EI Q") << 0 << false << QList<int>{};
    QTest::newRow("inline image data ending the content")
        << QByteArray("q BI ID QQQ") << 1 << false << QList<int>{};
    QTest::newRow("unterminated string") << QByteArray("q (Q Q") << 1 << false << QList<int>{};
    QTest::newRow("escaped backslash and parenthesis")
        << QByteArray("(a\\\\) Q (b\\\\\\)) Q q") << 1 << false << QList<int>{6, 16};
    QTest::newRow("inline image whose data holds E and EIx")
        << QByteArray("q BI ID E EIx EI Q") << 0 << false << QList<int>{};
    QTest::newRow("line ends of every kind")
        << QByteArray("q\rQ\r\nq\x0cQ\tQ") << 0 << false << QList<int>{9};
}

void ContentScanTest::scan() {
    QFETCH(QByteArray, content);
    QFETCH(int, openSaves);
    QFETCH(bool, openText);
    QFETCH(QList<int>, strayRestores);

    ContentScan s = ContentScan::of(std::string_view(content.constData(), size_t(content.size())));
    QCOMPARE(s.openSaves, openSaves);
    QCOMPARE(s.openText, openText);
    QList<int> stray;
    for (size_t at : s.strayRestores)
        stray.append(int(at));
    QCOMPARE(stray, strayRestores);

    // Content is scanned while it is decoded, in pieces that may split any token: every split
    // must give the same result.
    for (int piece = 1; piece <= content.size(); ++piece) {
        ContentScanner scanner;
        for (int at = 0; at < content.size(); at += piece)
            scanner.feed(std::string_view(content.constData() + at,
                                          size_t(std::min(piece, int(content.size()) - at))));
        ContentScan split = scanner.finish();
        QList<int> splitStray;
        for (size_t at : split.strayRestores)
            splitStray.append(int(at));
        QVERIFY2(split.openSaves == openSaves && split.openText == openText && splitStray == strayRestores,
                 qPrintable(QString("pieces of %1 bytes").arg(piece)));
    }
}

QTEST_GUILESS_MAIN(ContentScanTest)
#include "test_content_scan.moc"
