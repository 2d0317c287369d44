// The real main window offscreen: start-up, layout, pointer rules, the options panel.

#include "ScriptedPrompts.h"
#include "TestHome.h"
#include "Unprivileged.h"
#include "app/Form1.h"
#include "core/ErrorReport.h"
#include "core/ProgressBar.h"
#include "core/QtPrompts.h"
#include "sys/FileUtils.h"

#include <QGroupBox>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const QString kLoadTag = "Numbrel2021/08/31.Form1.Form_Load";

QStringList storedKeys(const TestHome& home) {
    QSettings s(home.settingsFile(), QSettings::IniFormat);
    return s.allKeys();
}

QString stored(const TestHome& home, const QString& key) {
    QSettings s(home.settingsFile(), QSettings::IniFormat);
    return s.value(key, "<missing>").toString();
}

void store(const TestHome& home, const QString& key, const QString& value) {
    QSettings s(home.settingsFile(), QSettings::IniFormat);
    s.setValue(key, value);
}

QColor swatchColour(Form1& w) {
    return w.findChild<QWidget*>("Picture1")->palette().color(QPalette::Window);
}

void moveOver(QWidget* widget) {
    QMouseEvent move(QEvent::MouseMove, QPointF(5, 5), widget->mapToGlobal(QPointF(5, 5)), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
}
} // namespace

class TestWindow : public QObject {
    Q_OBJECT
    TestHome home_;

    // A window started as the program starts it.
    std::unique_ptr<Form1> start(ScriptedPrompts& prompts) {
        auto w = std::make_unique<Form1>(prompts);
        w->Form_Load();
        w->show();
        return w;
    }

private slots:
    void init() {
        QDir().rmdir(home_.settingsFile()); // a folder in the store's place, left by a failed check
        home_.clearSettings();
        OverrideProgramFolder(BuiltProgramFolder());
    }

    void firstStartShowsDefaultsAndStoresOnlyTheOutputFolder() {
        ScriptedPrompts prompts;
        auto w = start(prompts);
        QCOMPARE(w->findChild<QLineEdit*>("Text1")->text(), QString("1"));
        QCOMPARE(w->findChild<QLineEdit*>("Text2")->text(), QString("10"));
        QCOMPARE(w->findChild<QLineEdit*>("Text3")->text(), QString("10"));
        QCOMPARE(w->findChild<QLineEdit*>("Text4")->text(), QString("10"));
        QCOMPARE(swatchColour(*w), QColor(Qt::black));
        QCOMPARE(w->services().options.fontColor(), 0);
        QCOMPARE(w->findChild<QLineEdit*>("Text5")->text(), home_.desktop());
        QCOMPARE(storedKeys(home_), QStringList{"Text5"});
        QCOMPARE(stored(home_, "Text5"), home_.desktop());
        QVERIFY(prompts.shown.isEmpty());
        QCOMPARE(w->windowTitle(), QString("Numbrel"));
    }

    void storedValuesAreShownAsStored_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("field");
        QTest::newRow("letters in font size") << "Font Size"
                                              << "abc"
                                              << "Text4";
        QTest::newRow("empty first number") << "First Number"
                                            << ""
                                            << "Text1";
        QTest::newRow("margin with blank") << "Left Margin"
                                           << "12 "
                                           << "Text2";
        QTest::newRow("typed output folder") << "Text5"
                                             << "/data/out"
                                             << "Text5";
    }
    void storedValuesAreShownAsStored() {
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QString, field);
        store(home_, key, value);
        ScriptedPrompts prompts;
        auto w = start(prompts);
        QCOMPARE(w->findChild<QLineEdit*>(field)->text(), value);
        QVERIFY(prompts.shown.isEmpty());
    }

    void storedColourIsRestored_data() {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QColor>("colour");
        QTest::newRow("red") << "255" << QColor(255, 0, 0);
        QTest::newRow("green") << "65280" << QColor(0, 255, 0);
        QTest::newRow("blue") << "16711680" << QColor(0, 0, 255);
    }
    void storedColourIsRestored() {
        QFETCH(QString, value);
        QFETCH(QColor, colour);
        store(home_, "Font Color", value);
        ScriptedPrompts prompts;
        auto w = start(prompts);
        QCOMPARE(swatchColour(*w), colour);
        QCOMPARE(QString::number(w->services().options.fontColor()), value);
    }

    void unreadableColourFailsStep140AndStartUpGoesOn() {
        store(home_, "Font Color", "");
        store(home_, "Text5", "/stored/out/");
        ScriptedPrompts prompts;
        auto w = start(prompts);
        const QStringList boxes = prompts.messages();
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes.at(0), QString("Type mismatch: \"\" is not a colour value\r\n"
                                      "in Numbrel2021/08/31.Form1.Form_Load at line 140\r\r"
                                      "Please email screenshot of this message to support@quillane.example"));
        QCOMPARE(prompts.shown.at(0).caption, QString("Application Error"));
        QCOMPARE(prompts.shown.at(0).style, 48);
        QCOMPARE(swatchColour(*w), QColor(Qt::black));                                // left unchanged
        QCOMPARE(w->findChild<QLineEdit*>("Text5")->text(), QString("/stored/out/")); // step 142 ran
    }

    void layoutFollowsTheDesign() {
        ScriptedPrompts prompts;
        auto w = start(prompts);
        QCOMPARE(w->size(), QSize(536, 452));
        QCOMPARE(w->minimumSize(), w->maximumSize());
        QVERIFY(!(w->windowFlags() & Qt::WindowMaximizeButtonHint));
        const struct {
            const char* name;
            QRect where;
            const char* caption;
        } controls[] = {
            {"ListView1", {8, 8, 520, 145}, nullptr},
            {"PushButton1", {8, 160, 256, 27}, "Add PDF File(s)"},
            {"PushButton3", {272, 160, 256, 27}, "Add All PDF File(s) In Folder"},
            {"PushButton5", {8, 194, 256, 27}, "Clear List"},
            {"PushButton6", {272, 194, 256, 27}, "Load Sample/Example Files"},
            {"Frame1", {8, 226, 520, 88}, "Options"},
            {"Text1", {96, 18, 34, 25}, "1"},
            {"Text2", {216, 18, 34, 25}, "10"},
            {"Text3", {361, 18, 34, 25}, "10"},
            {"Text4", {96, 51, 34, 25}, "10"},
            {"Picture1", {216, 51, 105, 27}, nullptr},
            {"PushButton4", {328, 51, 175, 27}, "Change Color"},
            {"Frame2", {8, 320, 520, 54}, "Save Results To This Folder"},
            {"Text5", {16, 20, 442, 23}, nullptr},
            {"PushButton7", {464, 20, 40, 23}, "..."},
            {"PushButton2", {8, 382, 520, 27}, "Start Adding"},
            {"ProgressBar1", {8, 417, 520, 27}, "Progress Bar"},
        };
        for (const auto& c : controls) {
            auto* widget = w->findChild<QWidget*>(c.name);
            QVERIFY2(widget, c.name);
            QCOMPARE(widget->geometry(), c.where);
            if (!c.caption)
                continue;
            QString caption;
            if (auto* b = qobject_cast<QPushButton*>(widget))
                caption = b->text();
            else if (auto* f = qobject_cast<QGroupBox*>(widget))
                caption = f->title();
            else if (auto* t = qobject_cast<QLineEdit*>(widget))
                caption = t->text();
            else if (auto* p = qobject_cast<QProgressBar*>(widget))
                caption = p->text();
            QCOMPARE(caption, QString(c.caption));
        }
        const QStringList labels{"First Number:", "Left Margin:", "Bottom Margin:", "pt", "pt",
                                 "Font Size:",    "Font Color:"};
        for (int i = 0; i < labels.size(); ++i)
            QCOMPARE(w->findChild<QLabel*>(QString("Label1_%1").arg(i))->text(), labels.at(i));

        auto* list = w->findChild<QTreeWidget*>("ListView1");
        QCOMPARE(list->columnCount(), 1);
        QCOMPARE(list->headerItem()->text(0), QString("PDF File(s)"));
        QCOMPARE(list->header()->sectionSize(0), 480);
        QCOMPARE(list->toolTip(),
                 QString("Drag and drop files here. Double-click item to remove it. Move | line to "
                         "right and out of window to reveal full names."));
        QCOMPARE(list->topLevelItemCount(), 0);
        QCOMPARE(w->findChild<QLineEdit*>("Text1")->alignment(), Qt::AlignCenter);

        const QFont form = w->findChild<QLineEdit*>("Text1")->font();
        const QFont button = w->findChild<QPushButton*>("PushButton2")->font();
        QCOMPARE(form.family(), QString("Arial"));
        QVERIFY(form.bold() && button.bold());
        QCOMPARE(form.pointSizeF(), 9.0);
        QCOMPARE(button.pointSizeF(), 11.25);
        QCOMPARE(QFontInfo(form).family(), QString("Liberation Sans")); // Arial's metric twin, via fontconfig

        // Tab order as designed: list, option fields, colour, then the commands, then the folder.
        QStringList chain;
        QWidget* at = list;
        for (int i = 0; i < 13; ++i, at = at->nextInFocusChain()) {
            while (at->focusPolicy() == Qt::NoFocus || at->objectName().isEmpty())
                at = at->nextInFocusChain();
            chain << at->objectName();
        }
        QCOMPARE(chain, (QStringList{"ListView1", "Text1", "Text2", "Text3", "Text4", "PushButton4",
                                     "PushButton1", "PushButton3", "PushButton2", "PushButton5",
                                     "PushButton6", "Text5", "PushButton7"}));
    }

    void skinFileDecidesTheBackground() {
        ScriptedPrompts prompts;
        QCOMPARE(start(prompts)->palette().color(QPalette::Window), QColor(Qt::white));

        QTemporaryDir folder;
        QDir(folder.path()).mkpath("x");
        QFile skin(folder.path() + "/x/o.cjs");
        QVERIFY(skin.open(QIODevice::WriteOnly));
        skin.close();
        OverrideProgramFolder(folder.path());
        auto w = start(prompts);
        const QColor face = w->palette().color(QPalette::Button);
        QCOMPARE(w->palette().color(QPalette::Window), face);
        QCOMPARE(w->findChild<QGroupBox*>("Frame1")->palette().color(QPalette::Window), face);
        QCOMPARE(w->findChild<QLabel*>("Label1_0")->palette().color(QPalette::Window), face);
        QVERIFY(prompts.shown.isEmpty());
    }

    void pointerRules_data() {
        QTest::addColumn<QString>("cursorFile"); // "" missing, "real", "damaged"
        QTest::addColumn<int>("overButton");
        QTest::addColumn<int>("errorStep");
        QTest::newRow("hand from the program folder") << "real" << int(Qt::BitmapCursor) << 0;
        QTest::newRow("no cursor file: arrow, no box") << "" << int(Qt::ArrowCursor) << 0;
        QTest::newRow("damaged cursor file") << "damaged" << int(Qt::ArrowCursor) << 108;
    }
    void pointerRules() {
        QFETCH(QString, cursorFile);
        QFETCH(int, overButton);
        QFETCH(int, errorStep);
        QTemporaryDir folder;
        if (cursorFile == "real")
            QFile::copy(BuiltProgramFolder() + "/HAND-M.CUR", folder.path() + "/HAND-M.CUR");
        if (cursorFile == "damaged") {
            QFile f(folder.path() + "/HAND-M.CUR");
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("not a cursor");
        }
        OverrideProgramFolder(folder.path());
        ScriptedPrompts prompts;
        auto w = start(prompts);
        QCOMPARE(prompts.messages().size(), errorStep ? 1 : 0);
        if (errorStep)
            QVERIFY(prompts.messages().at(0).contains(kLoadTag + " at line 108\r\r"));

        moveOver(w->findChild<QPushButton*>("PushButton2"));
        QCOMPARE(int(w->cursor().shape()), overButton);
        moveOver(w->findChild<QGroupBox*>("Frame1"));
        QCOMPARE(w->cursor().shape(), Qt::ArrowCursor);
        moveOver(w->findChild<QPushButton*>("PushButton7"));
        QCOMPARE(int(w->cursor().shape()), overButton);
        moveOver(w.get());
        QCOMPARE(w->cursor().shape(), Qt::ArrowCursor);

        // While busy, nothing changes the wait pointer.
        w->services().busy.setBusy(true);
        for (const char* name : {"PushButton1", "Frame2", "ListView1", "Form1"}) {
            QWidget* target = w->objectName() == name ? w.get() : w->findChild<QWidget*>(name);
            if (auto* list = qobject_cast<QTreeWidget*>(target))
                target = list->viewport();
            moveOver(target);
            QCOMPARE(w->cursor().shape(), Qt::WaitCursor);
        }
    }

    void handCursorHotSpotIsTheFingertip() {
        ScriptedPrompts prompts;
        auto w = start(prompts);
        moveOver(w->findChild<QPushButton*>("PushButton1"));
        QCOMPARE(w->cursor().hotSpot(), QPoint(6, 0));
        QVERIFY(!QImage(BuiltProgramFolder() + "/drag.ico").isNull());
    }

    // The options panel

    void typingStoresEveryKeystroke() {
        ScriptedPrompts prompts;
        auto w = start(prompts);
        auto* first = w->findChild<QLineEdit*>("Text1");
        QStringList seen;
        QSettings watcher(home_.settingsFile(), QSettings::IniFormat);
        connect(first, &QLineEdit::textChanged, this, [&] {
            watcher.sync();
            seen << watcher.value("First Number").toString();
        });
        first->selectAll();
        QTest::keyClick(first, Qt::Key_Delete);
        QTest::keyClicks(first, "12");
        QCOMPARE(seen, (QStringList{"", "1", "12"}));
        QTest::keyClicks(w->findChild<QLineEdit*>("Text4"), "px"); // letters are accepted silently
        QCOMPARE(stored(home_, "Font Size"), QString("10px"));
        first->clear();
        QVERIFY(prompts.shown.isEmpty());
        w.reset();

        ScriptedPrompts again;
        auto next = start(again);
        QCOMPARE(next->findChild<QLineEdit*>("Text1")->text(), QString(""));
        QCOMPARE(next->findChild<QLineEdit*>("Text4")->text(), QString("10px"));
    }

    void refusedFieldWriteKeepsTheText() {
        ScriptedPrompts prompts;
        auto w = start(prompts);
        QVERIFY(QFile::remove(home_.settingsFile()));
        QVERIFY(QDir().mkpath(home_.settingsFile())); // the store can't write its file now
        auto* size = w->findChild<QLineEdit*>("Text4");
        QTest::keyClicks(size, "5");
        QCOMPARE(size->text(), QString("105"));
        QVERIFY(prompts.shown.isEmpty());
        QVERIFY(QDir().rmdir(home_.settingsFile()));
    }

    void changeColour_data() {
        QTest::addColumn<QList<QColor>>("answers"); // an invalid colour stands for Cancel
        QTest::addColumn<QColor>("swatch");
        QTest::addColumn<QString>("storedValue");
        QTest::newRow("pure red") << QList<QColor>{QColor(255, 0, 0)} << QColor(255, 0, 0) << "255";
        QTest::newRow("pure blue") << QList<QColor>{QColor(0, 0, 255)} << QColor(0, 0, 255) << "16711680";
        QTest::newRow("cancel changes nothing")
            << QList<QColor>{QColor()} << QColor(Qt::black) << "<missing>";
        QTest::newRow("cancel after a choice keeps it")
            << QList<QColor>{QColor(0, 255, 0), QColor()} << QColor(0, 255, 0) << "65280";
    }
    void changeColour() {
        QFETCH(QList<QColor>, answers);
        QFETCH(QColor, swatch);
        QFETCH(QString, storedValue);
        ScriptedPrompts prompts;
        auto w = start(prompts);
        for (const QColor& answer : answers) {
            prompts.colours.enqueue(answer.isValid() ? std::optional<QColor>(answer) : std::nullopt);
            QTest::mouseClick(w->findChild<QPushButton*>("PushButton4"), Qt::LeftButton);
        }
        QCOMPARE(swatchColour(*w), swatch);
        QCOMPARE(stored(home_, "Font Color"), storedValue);
        QCOMPARE(prompts.ofKind("color").size(), answers.size());
        QVERIFY(prompts.messages().isEmpty());
    }

    void chooseOutputFolder_data() {
        QTest::addColumn<QString>("lastFolder");
        QTest::addColumn<QString>("lastFolderDot");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("expectedStart");
        QTest::addColumn<QString>("text5");
        QTest::newRow("folder gains a final /") << "/scan"
                                                << "<missing>"
                                                << "/data/x"
                                                << "/scan"
                                                << "/data/x/";
        QTest::newRow("root stays /") << ""
                                      << "<missing>"
                                      << "/"
                                      << ""
                                      << "/";
        QTest::newRow("starts in its own memory") << "/scan"
                                                  << "/out"
                                                  << "/data/y"
                                                  << "/out"
                                                  << "/data/y/";
        QTest::newRow("cancel changes nothing") << "/scan"
                                                << "<missing>"
                                                << ""
                                                << "/scan"
                                                << "<desktop>";
    }
    void chooseOutputFolder() {
        QFETCH(QString, lastFolder);
        QFETCH(QString, lastFolderDot);
        QFETCH(QString, answer);
        QFETCH(QString, expectedStart);
        QFETCH(QString, text5);
        if (!lastFolder.isEmpty())
            store(home_, "LastFolder", lastFolder);
        if (lastFolderDot != "<missing>")
            store(home_, "LastFolderDot", lastFolderDot);
        ScriptedPrompts prompts;
        auto w = start(prompts);
        prompts.folders.enqueue(answer);
        QTest::mouseClick(w->findChild<QPushButton*>("PushButton7"), Qt::LeftButton);
        const auto pickers = prompts.ofKind("folder");
        QCOMPARE(pickers.size(), 1);
        QCOMPARE(pickers.at(0).text, QString("Please select folder:"));
        QCOMPARE(pickers.at(0).preset, expectedStart);
        const QString expected = text5 == "<desktop>" ? home_.desktop() : text5;
        QCOMPARE(w->findChild<QLineEdit*>("Text5")->text(), expected);
        QCOMPARE(stored(home_, "Text5"), expected);
        QCOMPARE(stored(home_, "LastFolderDot"), answer.isEmpty() ? lastFolderDot : answer);
        QCOMPARE(stored(home_, "LastFolder"), lastFolder.isEmpty() ? QString("<missing>") : lastFolder);
    }

    void failingStepShowsTheBoxAndCarriesOn() {
        // The store reads but refuses the write of step 104; the folder is still shown (step 106).
        // Root writes anything, so the click is made as "nobody", to whom the store is read-only.
        ScriptedPrompts prompts;
        auto w = start(prompts);
        const QString storeFolder = home_.path() + "/.config/Quillane";
        const bool asRoot = ::geteuid() == 0;
        for (const QString& folder : {home_.path(), home_.path() + "/.config", storeFolder})
            ::chmod(QFile::encodeName(folder).constData(), 0755);
        ::chmod(QFile::encodeName(storeFolder).constData(), asRoot ? 0755 : 0555);
        ::chmod(QFile::encodeName(home_.settingsFile()).constData(), asRoot ? 0644 : 0444);
        prompts.folders.enqueue("/data/z");
        {
            const Unprivileged nobody;
            QTest::mouseClick(w->findChild<QPushButton*>("PushButton7"), Qt::LeftButton);
        }
        ::chmod(QFile::encodeName(storeFolder).constData(), 0700);
        ::chmod(QFile::encodeName(home_.settingsFile()).constData(), 0600);
        const QStringList boxes = prompts.messages();
        QCOMPARE(boxes.size(), 1);
        QVERIFY(boxes.at(0).endsWith("\r\nin Numbrel2021/08/31.Form1.PushButton7_Click at line 104\r\r"
                                     "Please email screenshot of this message to support@quillane.example"));
        QCOMPARE(w->findChild<QLineEdit*>("Text5")->text(), QString("/data/z/"));

        // The colour's store write fails at 104 as well; the swatch already shows the choice.
        QVERIFY(QFile::remove(home_.settingsFile()));
        QVERIFY(QDir().mkpath(home_.settingsFile()));
        prompts.colours.enqueue(QColor(255, 0, 0));
        QTest::mouseClick(w->findChild<QPushButton*>("PushButton4"), Qt::LeftButton);
        QVERIFY(QDir().rmdir(home_.settingsFile()));
        QCOMPARE(prompts.messages().size(), 2);
        QVERIFY(prompts.messages().at(1).contains("PushButton4_Click at line 104\r\r"));
        QCOMPARE(swatchColour(*w), QColor(255, 0, 0));
    }

    // A store that is there but can't be read is told once, at the first step that reads it; the
    // window starts with the defaults, and the store is left exactly as it was.
    void unreadableStoreIsReportedOnce_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        QTest::newRow("mode 000") << "mode 000"
                                  << "Permission denied";
        QTest::newRow("another owner's file") << "other owner"
                                              << "Permission denied";
        QTest::newRow("write-only") << "write-only"
                                    << "Permission denied";
        QTest::newRow("a folder in its place") << "folder"
                                               << "it is not a file";
        // Opening a FIFO would wait for a writer that never comes: the store is looked at first.
        QTest::newRow("a FIFO in its place") << "fifo"
                                             << "it is not a file";
        QTest::newRow("a link to a FIFO") << "link to fifo"
                                          << "it is not a file";
    }
    void unreadableStoreIsReportedOnce() {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        const QByteArray file = QFile::encodeName(home_.settingsFile());
        const QByteArray contents = "[General]\nFirst Number=7\nFont Size=22\nText5=/stored/out/\n";
        const bool special = kind == "folder" || kind.contains("fifo");
        if (kind == "folder") {
            QVERIFY(QDir().mkpath(home_.settingsFile()));
        } else if (kind == "fifo") {
            QVERIFY(QDir().mkpath(home_.path() + "/.config/Quillane"));
            QCOMPARE(::mkfifo(file.constData(), 0666), 0);
        } else if (kind == "link to fifo") {
            QVERIFY(QDir().mkpath(home_.path() + "/.config/Quillane"));
            const QString fifo = home_.path() + "/store.fifo";
            QFile::remove(fifo);
            QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0666), 0);
            QVERIFY(QFile::link(fifo, home_.settingsFile()));
        } else {
            QVERIFY(QDir().mkpath(home_.path() + "/.config/Quillane"));
            QFile f(home_.settingsFile());
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(contents);
        }
        // Root reads any file: the window starts as "nobody", to whom only the file's mode refuses.
        const bool asRoot = ::geteuid() == 0;
        for (const QString& folder :
             {home_.path(), home_.path() + "/.config", home_.path() + "/.config/Quillane"})
            ::chmod(QFile::encodeName(folder).constData(), asRoot ? 0755 : 0700);
        const uid_t owner = asRoot && kind != "other owner" ? Unprivileged::kNobody : ::geteuid();
        if (!special) {
            QCOMPARE(::chown(file.constData(), owner, -1), 0);
            ::chmod(file.constData(), kind == "mode 000" ? 0 : kind == "write-only" ? 0200 : 0600);
        }
        if (kind == "other owner" && !asRoot)
            QSKIP("another owner's file needs root to set up");
        ScriptedPrompts prompts;
        std::unique_ptr<Form1> w;
        {
            const Unprivileged nobody;
            // A hang here ends the test program instead of waiting for ctest's limit.
            ::alarm(60);
            w = start(prompts);
            QTest::keyClicks(w->findChild<QLineEdit*>("Text1"), "5"); // a later edit
            ::alarm(0);
        }
        const QString description = "The settings file " + home_.settingsFile() + " cannot be read (" +
                                    reason +
                                    "): the options start from their defaults, and changes are not saved.";
        QCOMPARE(prompts.messages(), QStringList{ErrorReportText(kLoadTag, description, 132)});
        QCOMPARE(prompts.shown.at(0).caption, QString("Application Error"));
        QCOMPARE(w->findChild<QLineEdit*>("Text1")->text(), QString("15"));
        QCOMPARE(w->findChild<QLineEdit*>("Text4")->text(), QString("10"));
        QCOMPARE(w->findChild<QLineEdit*>("Text5")->text(), home_.desktop());
        if (kind == "folder") {
            QVERIFY(IsFolder(home_.settingsFile()));
            QVERIFY(QDir().rmdir(home_.settingsFile()));
        } else if (special) {
            QVERIFY(QFile::remove(home_.settingsFile()));
        } else {
            ::chmod(file.constData(), 0600);
            QFile f(home_.settingsFile());
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), contents); // nothing written over what the store holds
        }
    }

    // With a store that can't be read, the commands that read a setting first still do their work: the
    // read gives the key's default, and the refusal was told once, at start-up.
    void unreadableStoreLeavesCommandsWorking() {
        if (::geteuid() != 0)
            QSKIP("a store only root can read needs root to set up");
        QVERIFY(QDir().mkpath(home_.path() + "/.config/Quillane"));
        {
            QFile f(home_.settingsFile());
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("[General]\nExtension=txt\nLastFolder=/stored\n");
        }
        for (const QString& folder :
             {home_.path(), home_.path() + "/.config", home_.path() + "/.config/Quillane"})
            ::chmod(QFile::encodeName(folder).constData(), 0755);
        ::chmod(QFile::encodeName(home_.settingsFile()).constData(), 0);
        QTemporaryDir tree;
        QFile::setPermissions(tree.path(), QFileDevice::Permissions(0x7755));
        QFile pdf(tree.path() + "/one.pdf");
        QVERIFY(pdf.open(QIODevice::WriteOnly));
        pdf.write("%PDF-1.4\n");
        pdf.close();
        QFile::setPermissions(pdf.fileName(), QFileDevice::Permissions(0x6644));
        ScriptedPrompts prompts;
        std::unique_ptr<Form1> w;
        {
            const Unprivileged nobody;
            w = start(prompts);
            // "...": the picker opens at the default start folder, and the choice is the output folder.
            prompts.folders.enqueue(tree.path());
            QTest::mouseClick(w->findChild<QPushButton*>("PushButton7"), Qt::LeftButton);
            // "Add All PDF File(s) In Folder": the default extension, the default start folder.
            prompts.inputAnswers.enqueue("pdf");
            prompts.folders.enqueue(tree.path());
            QTest::mouseClick(w->findChild<QPushButton*>("PushButton3"), Qt::LeftButton);
        }
        QCOMPARE(prompts.messages().size(), 1); // the start-up box, step 132
        QVERIFY(prompts.messages().at(0).contains(" at line 132"));
        const QList<ShownPrompt> pickers = prompts.ofKind("folder");
        QCOMPARE(pickers.size(), 2);
        QCOMPARE(pickers.at(0).preset, QString());
        QCOMPARE(pickers.at(1).preset, QString());
        QCOMPARE(prompts.ofKind("input").value(0).preset, QString("pdf"));
        QCOMPARE(w->findChild<QLineEdit*>("Text5")->text(), tree.path() + "/");
        QCOMPARE(w->findChild<QTreeWidget*>("ListView1")->topLevelItemCount(), 1);
        ::chmod(QFile::encodeName(home_.settingsFile()).constData(), 0600);
        QFile f(home_.settingsFile());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("[General]\nExtension=txt\nLastFolder=/stored\n"));
    }

    // Texts shown in the real boxes are plain text: a path holding markup shows as typed.
    void boxesShowPlainText_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("error report box") << "message";
        QTest::newRow("input box prompt") << "input";
    }
    void boxesShowPlainText() {
        QFETCH(QString, kind);
        const QString path = "/data/<b>bold</b> & <i>x</i>/<img src=a.png>.pdf";
        const QString description = "Permission denied: " + path;
        QString shownText;
        Qt::TextFormat shownFormat = Qt::RichText;
        QTimer::singleShot(0, [&] {
            QWidget* box = QApplication::activeModalWidget();
            QVERIFY(box);
            for (QLabel* label : box->findChildren<QLabel*>())
                if (label->text().contains("bold")) {
                    shownText = label->text();
                    shownFormat = label->textFormat();
                }
            if (auto* dialog = qobject_cast<QDialog*>(box))
                dialog->reject();
        });
        QtPrompts prompts;
        if (kind == "message")
            ReportError(prompts, kLoadTag, description, 132);
        else
            prompts.inputBox(description, "Numbrel", "pdf");
        QCOMPARE(shownFormat, Qt::PlainText);
        QVERIFY(shownText.startsWith(description));
    }

    void closingDuringACommandEndsTheProgram() {
        ScriptedPrompts prompts;
        auto w = start(prompts);
        int quits = 0;
        w->setQuitAction([&] { ++quits; });
        prompts.onShow = [&](const ShownPrompt& p) {
            if (p.kind == "color")
                w->close();
        };
        QTest::mouseClick(w->findChild<QPushButton*>("PushButton4"), Qt::LeftButton);
        QCOMPARE(quits, 1);
        prompts.onShow = nullptr;
        w->show();
        w->close(); // closing an idle window just closes it
        QCOMPARE(quits, 1);
    }
};

QTEST_MAIN(TestWindow)
#include "test_window.moc"
