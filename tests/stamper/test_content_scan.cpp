// The content scan decides how many graphics states to close before the number is drawn; a miscount
// moves or hides the number, or closes a state the page still needs. It also tells content that ends
// inside a token, which would swallow a number drawn after it.

#include "ContentScan.h"

#include <QtTest>

#include <zlib.h>

class ContentScanTest : public QObject {
    Q_OBJECT

private slots:
    void scan_data();
    void scan();
};

namespace {
// A zlib stream of `data` whose bytes hold ' EI Q ' as well (a stored block keeps them as they are).
QByteArray Deflated(const QByteArray& data) {
    QByteArray out(256, '\0');
    uLongf length = uLongf(out.size());
    compress2(reinterpret_cast<Bytef*>(out.data()), &length, reinterpret_cast<const Bytef*>(data.constData()),
              uLong(data.size()), 0);
    out.truncate(qsizetype(length));
    return out;
}

constexpr int Clean = int(ContentScan::End::Clean), String = int(ContentScan::End::String),
              Hex = int(ContentScan::End::HexString), Array = int(ContentScan::End::Array),
              Dictionary = int(ContentScan::End::Dictionary), Image = int(ContentScan::End::InlineImage);
} // namespace

void ContentScanTest::scan_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("openSaves");
    QTest::addColumn<bool>("openText");
    QTest::addColumn<QList<int>>("strayRestores");
    QTest::addColumn<int>("end"); // ContentScan::End

    QTest::newRow("empty") << QByteArray() << 0 << false << QList<int>{} << Clean;
    QTest::newRow("balanced") << QByteArray("q 1 0 0 1 5 5 cm Q q Q") << 0 << false << QList<int>{} << Clean;
    QTest::newRow("open with cm") << QByteArray("q 2 0 0 2 0 0 cm q 1 0 0 rg") << 2 << false << QList<int>{}
                                  << Clean;
    QTest::newRow("stray restore first") << QByteArray("Q q") << 1 << false << QList<int>{0} << Clean;
    QTest::newRow("stray after balance") << QByteArray("q Q\nQ") << 0 << false << QList<int>{4} << Clean;
    QTest::newRow("operators glued to delimiters")
        << QByteArray("q[1 2]0 d(x)Tj/Q gs<00>Q") << 0 << false << QList<int>{} << Clean;
    QTest::newRow("q inside strings")
        << QByteArray("(q \\) Q ( nested q ) Q) Tj q") << 1 << false << QList<int>{} << Clean;
    QTest::newRow("q in a comment") << QByteArray("% q q q\nq") << 1 << false << QList<int>{} << Clean;
    QTest::newRow("q in a hex string and a name")
        << QByteArray("<71> /q /Q q") << 1 << false << QList<int>{} << Clean;
    QTest::newRow("dictionary brackets")
        << QByteArray("/P <</MCID 0>> BDC q EMC") << 1 << false << QList<int>{} << Clean;
    QTest::newRow("words that start with q") << QByteArray("qq Qx q") << 1 << false << QList<int>{} << Clean;
    QTest::newRow("text left open") << QByteArray("BT /F1 12 Tf (a) Tj") << 0 << true << QList<int>{}
                                    << Clean;
    QTest::newRow("text closed") << QByteArray("BT (a) Tj ET") << 0 << false << QList<int>{} << Clean;
    QTest::newRow("inline image with Q bytes")
        << QByteArray("q BI /W 2 /H 1 /BPC 8 /CS /G ID Q\x01 Q EI Q") << 0 << false << QList<int>{} << Clean;
    QTest::newRow("inline image data ending the content")
        << QByteArray("q BI ID QQQ") << 1 << false << QList<int>{} << Image;
    QTest::newRow("unterminated string") << QByteArray("q (Q Q") << 1 << false << QList<int>{} << String;
    QTest::newRow("escaped backslash and parenthesis")
        << QByteArray("(a\\\\) Q (b\\\\\\)) Q q") << 1 << false << QList<int>{6, 16} << Clean;
    QTest::newRow("inline image whose data holds E and EIx")
        << QByteArray("q BI ID E EIx EI Q") << 0 << false << QList<int>{} << Clean;
    QTest::newRow("line ends of every kind")
        << QByteArray("q\rQ\r\nq\x0cQ\tQ") << 0 << false << QList<int>{9} << Clean;
    // Inline images: the data is skipped by its length where the dictionary tells it, as viewers
    // read it, so bytes in it that look like EI, Q or q are pixels.
    QTest::newRow("gray pixels holding ' EI Q '") << QByteArray("q BI /W 6 /H 1 /BPC 8 /CS /G ID \x20"
                                                                "EI Q\x20\nEI Q")
                                                  << 0 << false << QList<int>{} << Clean;
    QTest::newRow("EI right after the data, no white space before it")
        << QByteArray("q BI /W 2 /H 1 /BPC 8 /CS /G ID abEI Q") << 0 << false << QList<int>{} << Clean;
    QTest::newRow("full names, RGB")
        << QByteArray("q BI /Width 2 /Height 1 /BitsPerComponent 8 /ColorSpace /DeviceRGB ID Q EI q Q\nEI Q")
        << 0 << false << QList<int>{} << Clean;
    QTest::newRow("CMYK, 4 bits, rows rounded up to bytes")
        << QByteArray("q BI /W 3 /H 2 /BPC 4 /CS /CMYK ID  EI Q EI Q q\nEI Q") << 0 << false << QList<int>{}
        << Clean;
    QTest::newRow("image mask, one bit a pixel") << QByteArray("q BI /IM true /W 16 /H 2 /D [1 0] ID \x20"
                                                               "EI Q EI Q")
                                                 << 0 << false << QList<int>{} << Clean;
    QTest::newRow("indexed colour space with its table")
        << QByteArray("q BI /W 4 /H 1 /BPC 8 /CS [/I /RGB 1 <000000 ffffff>] ID EI Q\nEI Q") << 0 << false
        << QList<int>{} << Clean;
    QTest::newRow("filtered data of a given length")
        << QByteArray("q BI /W 9 /H 9 /F /DCT /L 6 ID \x01 EI Q EI Q") << 0 << false << QList<int>{} << Clean;
    QTest::newRow("given length that ends short of the data: EI after white space")
        << QByteArray("q BI /W 9 /H 9 /F /DCT /L 1 ID abEI Q EI Q") << 0 << false << QList<int>{} << Clean;
    QTest::newRow("given length, white space, EI as the last bytes")
        << QByteArray("q BI /F /Fl /L 2 ID ab\nEI") << 1 << false << QList<int>{} << Clean;
    QTest::newRow("Flate data holding ' EI Q ' up to its end")
        << (QByteArray("q BI /W 4 /H 1 /BPC 8 /CS /G /F /Fl ID ") +
            Deflated("\x20"
                     "EI Q") +
            " EI Q ")
        << 0 << false << QList<int>{} << Clean;
    QTest::newRow("ASCII85 data up to its end marker")
        << QByteArray("q BI /W 1 /H 1 /BPC 8 /CS /G /F /A85 ID 5l EI Q~> EI Q") << 0 << false << QList<int>{}
        << Clean;
    QTest::newRow("ASCIIHex data in a filter list")
        << QByteArray("q BI /W 1 /H 1 /BPC 8 /CS /G /F [/AHx /Fl] ID 4 5 > EI Q") << 0 << false
        << QList<int>{} << Clean;
    QTest::newRow("colour space from the page's resources: EI after white space")
        << QByteArray("q BI /W 2 /H 1 /BPC 8 /CS /Cs0 ID QxEIx Q\nEI Q") << 0 << false << QList<int>{}
        << Clean;
    QTest::newRow("ID without BI is no image") << QByteArray("q ID Q") << 0 << false << QList<int>{} << Clean;
    QTest::newRow("EI as the last bytes")
        << QByteArray("q BI /W 1 /H 1 /BPC 8 /CS /G ID aEI") << 1 << false << QList<int>{} << Clean;

    // Content that ends inside a token.
    QTest::newRow("unterminated nested string")
        << QByteArray("BT (a (b) Tj ET") << 0 << true << QList<int>{} << String;
    QTest::newRow("unterminated hex string") << QByteArray("q <00ff") << 1 << false << QList<int>{} << Hex;
    QTest::newRow("lone <") << QByteArray("q <") << 1 << false << QList<int>{} << Hex;
    QTest::newRow("unterminated array") << QByteArray("BT [(a) 5 (b)") << 0 << true << QList<int>{} << Array;
    QTest::newRow("unterminated dictionary")
        << QByteArray("/P << /MCID 0 /A [1 2]") << 0 << false << QList<int>{} << Dictionary;
    QTest::newRow("operators inside an unterminated array count for nothing")
        << QByteArray("q [ Q") << 1 << false << QList<int>{} << Array;
    QTest::newRow("inline image dictionary without ID")
        << QByteArray("q BI /W 1 /H 1") << 1 << false << QList<int>{} << Image;
    QTest::newRow("inline image whose data is cut short")
        << QByteArray("q BI /W 8 /H 1 /BPC 8 /CS /G ID abc") << 1 << false << QList<int>{} << Image;
    QTest::newRow("inline image without EI")
        << QByteArray("q BI /W 1 /H 1 /BPC 8 /CS /G ID a Q") << 1 << false << QList<int>{} << Image;
    QTest::newRow("closed brackets and a comment at the end")
        << QByteArray("[1 2] 0 d <</A [1]>> BDC EMC q % (") << 1 << false << QList<int>{} << Clean;
    QTest::newRow("stray closing brackets") << QByteArray("] >> q") << 1 << false << QList<int>{} << Clean;
}

void ContentScanTest::scan() {
    QFETCH(QByteArray, content);
    QFETCH(int, openSaves);
    QFETCH(bool, openText);
    QFETCH(QList<int>, strayRestores);
    QFETCH(int, end);

    ContentScan s = ContentScan::of(std::string_view(content.constData(), size_t(content.size())));
    QCOMPARE(s.openSaves, openSaves);
    QCOMPARE(s.openText, openText);
    QList<int> stray;
    for (size_t at : s.strayRestores)
        stray.append(int(at));
    QCOMPARE(stray, strayRestores);
    QCOMPARE(int(s.end), end);

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
        QVERIFY2(split.openSaves == openSaves && split.openText == openText && splitStray == strayRestores &&
                     int(split.end) == end,
                 qPrintable(QString("pieces of %1 bytes").arg(piece)));
    }
}

QTEST_GUILESS_MAIN(ContentScanTest)
#include "test_content_scan.moc"
