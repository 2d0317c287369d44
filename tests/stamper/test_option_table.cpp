// The one table of numbering options: its defaults are what StampOptions starts from (so help texts,
// the option list and the window tell the truth), and its readers refuse what does not parse.

#include "OptionTable.h"
#include "StampError.h"

#include <QtTest>

#include <set>

class OptionTableTest : public QObject {
    Q_OBJECT

private slots:
    void defaultsAreWhatOptionsStartFrom();
    void rowsAreWhole();
    void values_data();
    void values();
    void refused_data();
    void refused();
};

namespace {
bool same(const StampOptions& a, const StampOptions& b) {
    return a.firstNumber == b.firstNumber && a.fontSize == b.fontSize && a.red == b.red &&
           a.green == b.green && a.blue == b.blue && a.left == b.left && a.bottom == b.bottom &&
           a.position == b.position && a.box == b.box && a.mirror == b.mirror &&
           a.hasBackground == b.hasBackground && a.pageLabels == b.pageLabels && a.format == b.format &&
           a.digits == b.digits;
}

// Reads name=value into fresh options with the batch's dialect; the error's text when refused.
QString read(const std::string& name, const std::string& value, StampOptions& o) {
    const StampOptionRow* row = FindStampOption(name);
    if (!row)
        return QStringLiteral("no such row");
    try {
        row->read(o, row->info, value, name, OptionDialect::Batch);
    } catch (const StampError& e) {
        return QString::fromStdString(e.what());
    }
    return {};
}
} // namespace

void OptionTableTest::defaultsAreWhatOptionsStartFrom() {
    // --format's default "{n}" is stored as itself; an empty format prints the same.
    StampOptions start;
    start.format = "{n}";
    for (const StampOptionRow& row : StampOptionRows()) {
        if (row.info.defaultText.empty())
            continue;
        StampOptions o;
        o.format = "{n}";
        QVERIFY2(read(std::string(row.info.name), std::string(row.info.defaultText), o).isEmpty(),
                 row.info.name.data());
        QVERIFY2(same(o, start), row.info.name.data());
    }
}

void OptionTableTest::rowsAreWhole() {
    std::set<std::string_view> names, switches;
    for (const StampOptionRow& row : StampOptionRows()) {
        const OptionInfo& i = row.info;
        QVERIFY(names.insert(i.name).second);
        QVERIFY(i.name.starts_with("--"));
        QVERIFY(!i.help.empty());
        QVERIFY(row.read);
        if (!i.toolSwitch.empty()) {
            QVERIFY(switches.insert(i.toolSwitch).second);
            QVERIFY(!i.toolWhat.empty() && !i.toolPlaceholder.empty());
        }
        // A tab or line break would break the option list's one line per option.
        for (std::string_view field : {i.placeholder, i.defaultText, i.choices, i.help})
            QVERIFY(field.find_first_of("\t\n") == std::string_view::npos);
    }
}

void OptionTableTest::values_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("value");
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("box");
    QTest::addColumn<double>("left");
    QTest::addColumn<double>("bottom");
    const int bl = int(NumberPosition::BottomLeft), crop = int(PlacementBox::Crop);
    QTest::newRow("first position") << "--position"
                                    << "top-left" << int(NumberPosition::TopLeft) << crop << 10.0 << 10.0;
    QTest::newRow("last position") << "--position"
                                   << "bottom-right" << int(NumberPosition::BottomRight) << crop << 10.0
                                   << 10.0;
    QTest::newRow("center") << "--position"
                            << "center" << int(NumberPosition::Center) << crop << 10.0 << 10.0;
    QTest::newRow("media") << "--box"
                           << "media" << bl << int(PlacementBox::Media) << 10.0 << 10.0;
    QTest::newRow("art") << "--box"
                         << "art" << bl << int(PlacementBox::Art) << 10.0 << 10.0;
    QTest::newRow("margin") << "--margin"
                            << "36,18.5" << bl << crop << 36.0 << 18.5;
    QTest::newRow("margin negative") << "--margin"
                                     << "-5,0" << bl << crop << -5.0 << 0.0;
}

void OptionTableTest::values() {
    QFETCH(QString, name);
    QFETCH(QString, value);
    StampOptions o;
    QCOMPARE(read(name.toStdString(), value.toStdString(), o), QString());
    QTEST(int(o.position), "position");
    QTEST(int(o.box), "box");
    QTEST(o.left, "left");
    QTEST(o.bottom, "bottom");
}

void OptionTableTest::refused_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("message");
    QTest::newRow("position unknown") << "--position"
                                      << "middle"
                                      << "--position \"middle\" is none of top-left, top, top-right, left,";
    QTest::newRow("position case") << "--position"
                                   << "Top"
                                   << "is none of";
    QTest::newRow("position empty") << "--position"
                                    << ""
                                    << "is none of";
    QTest::newRow("box unknown") << "--box"
                                 << "page"
                                 << "--box \"page\" is none of media, crop, trim, bleed, art";
    QTest::newRow("margin one number") << "--margin"
                                       << "10"
                                       << "--margin \"10\" is not H,V";
    QTest::newRow("margin three") << "--margin"
                                  << "1,2,3"
                                  << "is not H,V";
    QTest::newRow("margin word") << "--margin"
                                 << "10,x"
                                 << "--margin V \"x\" is not a number";
    QTest::newRow("margin far") << "--margin"
                                << "2000000,1"
                                << "--margin H \"2000000\" is out of range";
    QTest::newRow("background name") << "--background"
                                     << "black"
                                     << "--background \"black\" is neither #RRGGBB nor R,G,B";
    QTest::newRow("background component") << "--background"
                                          << "1,2,300"
                                          << "--background blue \"300\"";
    QTest::newRow("background short hex") << "--background"
                                          << "#000"
                                          << "neither";
}

void OptionTableTest::refused() {
    QFETCH(QString, name);
    QFETCH(QString, value);
    QFETCH(QString, message);
    StampOptions o;
    const QString error = read(name.toStdString(), value.toStdString(), o);
    QVERIFY2(error.contains(message), qPrintable(error));
}

QTEST_GUILESS_MAIN(OptionTableTest)
#include "test_option_table.moc"
