// What a page prints for its number: the fields and styles of a format, and which pages a page
// selection takes.
#include "NumberText.h"
#include "PageSelection.h"

#include <QtTest>

namespace {
std::string expand(const char* format, long long n, long long last = 30, size_t total = 30, int digits = 0) {
    return ExpandNumberText(format, digits, n, total, "Bericht", last);
}

// The pages of a file of `pages` pages that `selection` takes, 1-based.
QList<int> taken(const PageSelection& s, int pages) {
    QList<int> list;
    for (int k = 0; k < pages; ++k)
        if (s.contains(size_t(k)))
            list.append(k + 1);
    return list;
}
} // namespace

class TestNumberText : public QObject {
    Q_OBJECT

private slots:
    // 1 to 30 in every style, written out by hand rather than worked out the way the code does.
    void stylesUpTo30() {
        const QStringList roman =
            QStringLiteral("i ii iii iv v vi vii viii ix x xi xii xiii xiv xv xvi xvii xviii xix xx "
                           "xxi xxii xxiii xxiv xxv xxvi xxvii xxviii xxix xxx")
                .split(' ');
        const QStringList alpha =
            QStringLiteral("a b c d e f g h i j k l m n o p q r s t u v w x y z aa bb cc dd").split(' ');
        QCOMPARE(roman.size(), 30);
        QCOMPARE(alpha.size(), 30);
        for (int n = 1; n <= 30; ++n) {
            const std::string r = roman.at(n - 1).toStdString(), a = alpha.at(n - 1).toStdString();
            QCOMPARE(expand("{n:roman}", n), r);
            QCOMPARE(expand("{n:ROMAN}", n), QString::fromStdString(r).toUpper().toStdString());
            QCOMPARE(expand("{n:alpha}", n), a);
            QCOMPARE(expand("{n:ALPHA}", n), QString::fromStdString(a).toUpper().toStdString());
            QCOMPARE(expand("{n}", n), std::to_string(n));
        }
    }

    void fieldsAndEdges_data() {
        QTest::addColumn<QString>("format");
        QTest::addColumn<qlonglong>("n");
        QTest::addColumn<int>("digits");
        QTest::addColumn<QString>("expected");
        QTest::newRow("roman subtractive") << "{n:roman}" << 1994LL << 0 << "mcmxciv";
        QTest::newRow("roman highest") << "{n:ROMAN}" << 3999LL << 0 << "MMMCMXCIX";
        QTest::newRow("alpha third round") << "{n:alpha}" << 53LL << 0 << "aaa";
        QTest::newRow("alpha 52") << "{n:ALPHA}" << 52LL << 0 << "ZZ";
        QTest::newRow("digits pad decimal only") << "{n}/{n:roman}" << 7LL << 3 << "007/vii";
        QTest::newRow("negative decimal") << "{n}" << -2LL << 3 << "-002";
        QTest::newRow("page of last") << "Page {n} of {last}" << 12LL << 0 << "Page 12 of 30";
        QTest::newRow("last styled") << "{n:roman} / {last:roman}" << 3LL << 0 << "iii / xxx";
        QTest::newRow("last padded") << "{n}-{last}" << 5LL << 4 << "0005-0030";
        QTest::newRow("total and file") << "{file}: {total}" << 5LL << 0 << "Bericht: 30";
        QTest::newRow("braces around") << "{{n}}" << 5LL << 0 << "{5}";
        QTest::newRow("roman beyond prints decimal") << "{n:roman}" << 4000LL << 0 << "4000";
        QTest::newRow("empty format") << "" << 9LL << 2 << "09";
    }
    void fieldsAndEdges() {
        QFETCH(QString, format);
        QFETCH(qlonglong, n);
        QFETCH(int, digits);
        QFETCH(QString, expected);
        QCOMPARE(QString::fromStdString(expand(format.toLatin1().constData(), n, 30, 30, digits)), expected);
    }

    void knownFormats_data() {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("unknown"); // empty: known
        QTest::newRow("plain") << "ABC-{n}"
                               << "";
        QTest::newRow("every field") << "{n:alpha}{n:ALPHA}{n:roman}{n:ROMAN}{last}{last:roman}{total}{file}"
                                     << "";
        QTest::newRow("no field") << "cover"
                                  << "";
        QTest::newRow("unknown field") << "{page}"
                                       << "{page}";
        QTest::newRow("unknown style") << "x {n:greek} y"
                                       << "{n:greek}";
        QTest::newRow("style of total") << "{total:roman}"
                                        << "{total:roman}";
        QTest::newRow("style of file") << "{file:ROMAN}"
                                       << "{file:ROMAN}";
        QTest::newRow("style case") << "{n:Roman}"
                                    << "{n:Roman}";
        QTest::newRow("empty style") << "{n:}"
                                     << "{n:}";
        QTest::newRow("unclosed") << "{n} {n"
                                  << "{n";
        QTest::newRow("lone brace") << "a { b"
                                    << "{ b";
        QTest::newRow("spaces inside") << "{ n }"
                                       << "{ n }";
    }
    void knownFormats() {
        QFETCH(QString, format);
        QFETCH(QString, unknown);
        const std::string f = format.toStdString();
        QCOMPARE(QString::fromStdString(UnknownNumberField(f)), unknown);
        QCOMPARE(IsKnownNumberFormat(f), unknown.isEmpty());
    }

    // 0 and negative numbers have no roman numeral nor letter: refused, as are those past the ends.
    void numbersThatFit_data() {
        QTest::addColumn<QString>("format");
        QTest::addColumn<qlonglong>("n");
        QTest::addColumn<bool>("fits");
        QTest::newRow("decimal zero") << "{n}" << 0LL << true;
        QTest::newRow("decimal negative") << "{n}" << -5LL << true;
        QTest::newRow("roman zero") << "{n:roman}" << 0LL << false;
        QTest::newRow("roman negative") << "x{n:ROMAN}" << -1LL << false;
        QTest::newRow("roman one") << "{n:roman}" << 1LL << true;
        QTest::newRow("roman 4000") << "{n:roman}" << 4000LL << false;
        QTest::newRow("alpha zero") << "{n:alpha}" << 0LL << false;
        QTest::newRow("alpha highest") << "{n:ALPHA}" << kHighestAlpha << true;
        QTest::newRow("alpha past") << "{n:ALPHA}" << kHighestAlpha + 1 << false;
        QTest::newRow("last styled") << "{n} of {last:roman}" << 0LL << false;
    }
    void numbersThatFit() {
        QFETCH(QString, format);
        QFETCH(qlonglong, n);
        QFETCH(bool, fits);
        QCOMPARE(NumberFitsFormat(format.toStdString(), n), fits);
    }

    void selections_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("pages");
        QTest::addColumn<QList<int>>("taken");
        QTest::addColumn<QString>("canonical");
        QTest::newRow("one page") << "3" << 5 << QList<int>{3} << "3";
        QTest::newRow("range") << "2-4" << 5 << QList<int>{2, 3, 4} << "2-4";
        QTest::newRow("to the end") << "2-" << 5 << QList<int>{2, 3, 4, 5} << "2-";
        QTest::newRow("list") << "1,3" << 5 << QList<int>{1, 3} << "1,3";
        QTest::newRow("overlap, out of order") << "4-5, 1-2,2-4" << 6 << QList<int>{1, 2, 3, 4, 5} << "1-5";
        QTest::newRow("open range swallows") << "3-,5-6,4" << 6 << QList<int>{3, 4, 5, 6} << "3-";
        QTest::newRow("beyond the file") << "4-9" << 5 << QList<int>{4, 5} << "4-9";
        QTest::newRow("none in the file") << "7-" << 5 << QList<int>{} << "7-";
        QTest::newRow("odd") << "odd" << 5 << QList<int>{1, 3, 5} << "odd";
        QTest::newRow("even") << "even" << 5 << QList<int>{2, 4} << "even";
        QTest::newRow("even of one page") << "even" << 1 << QList<int>{} << "even";
    }
    void selections() {
        QFETCH(QString, text);
        QFETCH(int, pages);
        QFETCH(QList<int>, taken);
        QFETCH(QString, canonical);
        const std::optional<PageSelection> s = PageSelection::parse(text.toStdString());
        QVERIFY(s);
        QCOMPARE(::taken(*s, pages), taken);
        QCOMPARE(s->countIn(size_t(pages)), size_t(taken.size()));
        QCOMPARE(QString::fromStdString(s->text()), canonical);
        QVERIFY(!s->all());
    }

    void selectionsRefused_data() {
        QTest::addColumn<QString>("text");
        for (const char* t : {"", "0", "0-3", "3-2", "1,,2", "1,", ",1", "-3", "a", "1-2-3", "odd,1", "ODD",
                              "1.5", "+2", "99999999999", "1 2"})
            QTest::newRow(t) << QString::fromLatin1(t);
    }
    void selectionsRefused() {
        QFETCH(QString, text);
        QVERIFY(!PageSelection::parse(text.toStdString()));
    }

    void everyPageByDefault() {
        const PageSelection all;
        QVERIFY(all.all());
        QCOMPARE(all.countIn(7), size_t(7));
        QVERIFY(all.contains(0) && all.contains(1000000));
    }
};

QTEST_APPLESS_MAIN(TestNumberText)
#include "test_number_text.moc"
