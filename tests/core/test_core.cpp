// The shared layer: the settings store, the error box text, the step guard, the title and the folder
// picker.

#include "ScriptedPrompts.h"
#include "TestHome.h"
#include "core/AppTitle.h"
#include "core/ErrorReport.h"
#include "core/FolderPicker.h"
#include "core/Settings.h"

#include <QtTest>

class TestCore : public QObject {
    Q_OBJECT
    TestHome home_;

private slots:
    void settingsKeepMissingAndEmptyApart() {
        home_.clearSettings();
        QCOMPARE(ReadSetting(Setting::FirstNumber), QString("1"));
        WriteSetting(Setting::FirstNumber, "");
        QCOMPARE(ReadSetting(Setting::FirstNumber), QString(""));
        WriteSetting(Setting::OutputFolder, "/data/x/");
        // Written through at once: another reader sees the file's contents.
        QSettings other(home_.settingsFile(), QSettings::IniFormat);
        QCOMPARE(other.value("Text5").toString(), QString("/data/x/"));
        QCOMPARE(other.value("First Number").toString(), QString(""));
    }

    // Each key keeps the text and the default of every earlier version, so a user's stored options
    // are found again.
    void settingsKeysAndDefaults_data() {
        QTest::addColumn<Setting>("key");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("defaultValue");
        const QString desktop = home_.desktop();
        QTest::newRow("first number") << Setting::FirstNumber << "First Number"
                                      << "1";
        QTest::newRow("left margin") << Setting::LeftMargin << "Left Margin"
                                     << "10";
        QTest::newRow("bottom margin") << Setting::BottomMargin << "Bottom Margin"
                                       << "10";
        QTest::newRow("font size") << Setting::FontSize << "Font Size"
                                   << "10";
        QTest::newRow("font colour") << Setting::FontColor << "Font Color"
                                     << "0";
        QTest::newRow("output folder") << Setting::OutputFolder << "Text5" << desktop;
        QTest::newRow("extension") << Setting::Extension << "Extension"
                                   << "pdf";
        QTest::newRow("last folder") << Setting::LastFolder << "LastFolder"
                                     << "";
        QTest::newRow("output folder's last folder") << Setting::LastFolderDot << "LastFolderDot"
                                                     << "";
    }
    void settingsKeysAndDefaults() {
        QFETCH(Setting, key);
        QFETCH(QString, stored);
        QFETCH(QString, defaultValue);
        home_.clearSettings();
        QCOMPARE(ReadSetting(key), defaultValue);
        WriteSetting(key, "written");
        QSettings other(home_.settingsFile(), QSettings::IniFormat);
        QCOMPARE(other.allKeys(), QStringList{stored});
        QCOMPARE(other.value(stored).toString(), QString("written"));
    }

    void outputFolderStartsWhereTheFolderAddLastLooked() {
        home_.clearSettings();
        WriteSetting(Setting::LastFolder, "/data/in");
        QCOMPARE(ReadSetting(Setting::LastFolderDot), QString("/data/in"));
        WriteSetting(Setting::LastFolderDot, "/data/out");
        QCOMPARE(ReadSetting(Setting::LastFolderDot), QString("/data/out"));
    }

    void settingsRefusedWriteIsRaised() {
        // A folder where the store's file belongs can't be written, not even by root.
        home_.clearSettings();
        QVERIFY(QDir().mkpath(home_.settingsFile()));
        QVERIFY_THROWS_EXCEPTION(SettingsError, WriteSetting(Setting::FontSize, "12"));
        QVERIFY(QDir().rmdir(home_.settingsFile()));
    }

    void errorReportText() {
        QCOMPARE(ErrorReportText("Numbrel2021/08/31.Form1.PushButton4_Click", "File not found.", 102),
                 QString("File not found.\r\nin Numbrel2021/08/31.Form1.PushButton4_Click at line 102\r\r"
                         "Please email screenshot of this message to support@quillane.example"));
    }

    void stepGuardCarriesOn() {
        ScriptedPrompts prompts;
        StepGuard g(prompts, "Numbrel2021/08/31.Form1.Form_Load");
        QStringList ran;
        auto fail = [] { throw std::runtime_error("Disk not ready"); };
        const std::optional<QString> passed = g.step(100, [&] { ran << "100"; });
        const std::optional<QString> failed = g.step(102, [&] {
            fail();
            ran << "never";
        });
        const bool stop = g.actionIf(104, [&]() -> bool {
            fail();
            return true;
        });
        const bool block = g.blockIf(106, [&]() -> bool {
            fail();
            return false;
        });
        g.step(108, [&] { ran << "108"; });
        QCOMPARE(ran, (QStringList{"100", "108"}));
        QCOMPARE(passed, std::nullopt);
        QCOMPARE(failed, std::optional<QString>("Disk not ready")); // the failure the box reported
        QVERIFY(!stop);                                             // a failed "if ..., stop" doesn't stop
        QVERIFY(block); // a failed test that opens a block lets the block run
        const auto boxes = prompts.ofKind("message");
        QCOMPARE(boxes.size(), 3);
        QCOMPARE(boxes.at(0).text,
                 ErrorReportText("Numbrel2021/08/31.Form1.Form_Load", "Disk not ready", 102));
        QVERIFY(boxes.at(1).text.contains("at line 104\r\r"));
        QVERIFY(boxes.at(2).text.contains("at line 106\r\r"));
        QCOMPARE(boxes.at(0).caption, QString("Application Error"));
        QCOMPARE(boxes.at(0).style, 48);
    }

    void title_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("title");
        QTest::newRow("one word is kept") << "Numbrel"
                                          << "Numbrel";
        QTest::newRow("last word cut once") << "Numbrel PDF Page Numberer"
                                            << "Numbrel PDF Page";
        QTest::newRow("cut until at most 40") << "Numbrel Batch PDF Page Numbering Tool For Many Files"
                                              << "Numbrel Batch PDF Page Numbering Tool";
    }
    void title() {
        QFETCH(QString, name);
        QFETCH(QString, title);
        QCOMPARE(ShortenedTitle(name), title);
    }

    void folderPicker_data() {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("result");
        QTest::newRow("cancel") << ""
                                << "";
        QTest::newRow("folder") << "/data/x"
                                << "/data/x";
        QTest::newRow("final separator dropped") << "/data/x/"
                                                 << "/data/x";
        QTest::newRow("root stays") << "/"
                                    << "/";
    }
    void folderPicker() {
        QFETCH(QString, answer);
        QFETCH(QString, result);
        ScriptedPrompts prompts;
        prompts.folders.enqueue(answer);
        QCOMPARE(BrowseForFolder(prompts, nullptr, "Please select folder:", "/start"), result);
        QCOMPARE(prompts.shown.at(0).text, QString("Please select folder:"));
        QCOMPARE(prompts.shown.at(0).preset, QString("/start"));
    }
};

QTEST_MAIN(TestCore)
#include "test_core.moc"
