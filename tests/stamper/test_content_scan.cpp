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
    void vouch_data();
    void vouch();
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

void ContentScanTest::vouch_data() {
    using D = ContentScan::Doubt;
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("doubt"); // ContentScan::Doubt
    QTest::addColumn<int>("openMarked");

    const QByteArray imageRow = "BI /W 2 /H 1 /BPC 8 /CS /G ID ab";
    struct Row {
        const char* name;
        QByteArray content;
        D doubt;
        int openMarked = 0;
    };
    const Row rows[] = {
        // What real content holds: vouched for.
        {"every operand type",
         "q 1 0 0 1 5 -5.5 cm /GS1 gs [3 1] 0 d 0 J 1 j .5 w -.25 0 Td BT /F1 12 Tf "
         "(a) Tj [(b) -250 (c)] TJ 1 2 (d) \" (e) ' ET Q",
         D::None},
        {"colours by components and by pattern", "/P1 scn 0.5 sc 1 0 0 SC /CS0 cs 0.1 0.2 0.3 0.4 /P2 SCN",
         D::None},
        {"marked content with properties, left open",
         "/OC /L1 BDC /Span << /ActualText (x) /K [1 2] /D << /A true >> >> BDC EMC /Tag BMC", D::None, 2},
        {"unknown operators between BX and EX", "BX 1 2 foo /a bar EX", D::None},
        {"inline image of a known length", "q " + imageRow + "\nEI Q", D::None},
        {"a word split only by a comment and line ends", "q%c\rQ\n", D::None},
        {"true, false and null inside a dictionary", "/P <</A true /B null /C false>> DP", D::None},

        // Operand counts and types: poppler abandons the page at too few, skips the wrong type.
        {"Tf with one operand", "BT 12 Tf ET", D::Operands},
        {"a dash without its phase", "[3] d", D::Operands},
        {"cm with four numbers", "1 0 0 1 cm", D::Operands},
        {"a bare Do", "Do", D::Operands},
        {"a name that lost its slash", "EGS9 gs", D::UnknownOperator},
        {"seven numbers for cm", "1 1 0 0 1 0 0 cm", D::Operands},
        {"a real for the line cap", "1.0 J", D::Operands},
        {"a string for a colour", "(x) g", D::Operands},
        {"too many colour components", "1 2 3 4 5 sc", D::Operands},
        {"operands left at the end", "q Q 1 2", D::Operands},

        // Tokens readers split differently, and syntax errors.
        {"number glued to Q", "q 0Q", D::Ambiguous},
        {"real glued to Q", "q .5Q", D::Ambiguous},
        {"minus glued to Q", "q -Q", D::Ambiguous},
        {"two minus signs", "--5 w", D::Ambiguous},
        {"an unknown operator", "q foo Q", D::UnknownOperator},
        {"endstream inside the data", "q Q endstream", D::EndStream},
        {"endstream between BX and EX", "BX endstream EX", D::EndStream},
        {"a stray parenthesis", "q ) Q", D::Syntax},
        {"a lone >", "q > Q", D::Syntax},
        {"braces", "{ q } Q", D::Syntax},
        {"a dictionary key without a value", "/P << /MCID >> BDC EMC", D::Syntax},
        {"an operator inside an array", "[1 Tj] TJ", D::Syntax},
        {"a bad hex digit", "<4g> Tj", D::Syntax},
        {"a word of 128 characters", "q " + QByteArray(128, 'a') + " Q", D::LongToken},
        {"a name of 128 characters", "/" + QByteArray(127, 'a') + " gs", D::LongToken},
        {"a word of 127 characters in BX", "BX " + QByteArray(127, 'a') + " EX", D::None},

        // Nesting.
        {"EMC that closes nothing", "EMC", D::Nesting},
        {"BT inside BT", "BT BT ET ET", D::Nesting},
        {"ET outside text", "ET", D::Nesting},
        {"arrays nested too deep", QByteArray(40, '[') + QByteArray(40, ']') + " TJ", D::Nesting},

        // Inline images: only where every viewer finds the data's end alike.
        {"an image key without a value", "BI /W 2 /H 1 /BPC 8 /CS /G /I ID ab\nEI", D::Syntax},
        {"colour space from the resources", "BI /W 2 /H 1 /BPC 8 /CS /Cs0 ID ab\nEI", D::InlineImage},
        {"filtered data known only by /L", "BI /W 2 /H 1 /F /DCT /L 2 ID ab\nEI", D::InlineImage},
        {"CCITT data", "BI /W 8 /H 1 /IM true /F /CCF ID a\nEI", D::InlineImage},
        {"bytes between the data and EI", imageRow + "x EI", D::InlineImage},
        {"EI glued to what follows", imageRow + " EIQ", D::InlineImage},

        // A page's streams (split at \\x01) are read as one, but a token across a seam is not.
        {"streams that end in operators", "q\x01Q\x01", D::None},
        {"a number across two streams",
         "1 0 0 1 0 \x01"
         "0 cm",
         D::None},
        {"words that end with their streams", "1 0 0 1 0 0\x01 cm q\x01Q", D::None},
        {"a comment across two streams", "q %a\x01Q", D::StreamBoundary},
        {"a string across two streams",
         "BT (ab\x01"
         "c) Tj ET",
         D::StreamBoundary},
    };
    for (const Row& r : rows)
        QTest::newRow(r.name) << r.content << int(r.doubt) << r.openMarked;
}

void ContentScanTest::vouch() {
    QFETCH(QByteArray, content);
    QFETCH(int, doubt);
    QFETCH(int, openMarked);
    for (int piece : {int(content.size()), 1, 3}) {
        ContentScanner scanner;
        const QList<QByteArray> streams = content.split('\x01');
        for (qsizetype k = 0; k < streams.size(); ++k) {
            const QByteArray& data = streams[k];
            const int step = std::max(piece, 1);
            for (int at = 0; at < data.size(); at += step)
                scanner.feed(
                    std::string_view(data.constData() + at, size_t(std::min(step, int(data.size()) - at))));
            if (k + 1 < streams.size())
                scanner.endStream();
        }
        const ContentScan s = scanner.finish();
        QVERIFY2(int(s.doubt) == doubt, qPrintable(QString("pieces of %1: doubt %2 at %3, expected %4")
                                                       .arg(piece)
                                                       .arg(int(s.doubt))
                                                       .arg(s.doubtAt)
                                                       .arg(doubt)));
        QCOMPARE(s.openMarked, openMarked);
    }
}

QTEST_GUILESS_MAIN(ContentScanTest)
#include "test_content_scan.moc"
