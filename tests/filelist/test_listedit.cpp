// The user's editing of the file list on the real window offscreen: moving rows by dragging, the drag
// pointer, Delete and double-click, "Clear List", and adding files through the file-open dialog.

#include "ListRows.h"
#include "ScriptedPrompts.h"
#include "TestHome.h"
#include "app/Form1.h"
#include "core/AppTitle.h"
#include "sys/FileUtils.h"

#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

namespace {
// Screen lines for moves that must not scroll, and for moves above and below the scrolling band.
constexpr int kQuietLine = 330;
constexpr int kHighLine = 100;
constexpr int kLowLine = 400;

int selectedRow(const QTreeWidget* list) {
    const auto selected = list->selectedItems();
    return selected.isEmpty() ? -1 : list->indexOfTopLevelItem(selected.first());
}

int topRow(const QTreeWidget* list) {
    return list->indexOfTopLevelItem(list->itemAt(QPoint(5, 2)));
}

using Rows = QList<int>;
} // namespace

class TestListEdit : public QObject {
    Q_OBJECT
    TestHome home_;
    std::unique_ptr<ScriptedPrompts> prompts_;
    std::unique_ptr<Form1> window_;
    QTreeWidget* list_ = nullptr;

    QWidget* viewport() const { return list_->viewport(); }

    void fill(const QStringList& rows) {
        for (const QString& row : rows)
            window_->services().files.AppendPath(row);
    }

    // Row -1 stands for the empty space below the last row.
    QPoint pointAt(int row) const {
        if (row < 0) {
            const QRect last = list_->visualItemRect(list_->topLevelItem(list_->topLevelItemCount() - 1));
            return {last.left() + 20, last.bottom() + 12};
        }
        return list_->visualItemRect(list_->topLevelItem(row)).center();
    }

    void press(int row) { QTest::mousePress(viewport(), Qt::LeftButton, {}, pointAt(row)); }
    void release(int row) { QTest::mouseRelease(viewport(), Qt::LeftButton, {}, pointAt(row)); }

    // A move with the button held, at a chosen line of the screen.
    void dragOver(int row, int screenLine = kQuietLine, Qt::MouseButtons buttons = Qt::LeftButton) {
        const QPoint local = pointAt(row);
        const QPointF global(viewport()->mapToGlobal(local).x(), screenLine);
        QMouseEvent move(QEvent::MouseMove, local, global, Qt::NoButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(viewport(), &move);
    }

private slots:
    void init() {
        home_.clearSettings();
        OverrideProgramFolder(BuiltProgramFolder());
        prompts_ = std::make_unique<ScriptedPrompts>();
        window_ = std::make_unique<Form1>(*prompts_);
        window_->Form_Load();
        window_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
        list_ = window_->findChild<QTreeWidget*>("ListView1");
        QVERIFY(list_);
    }

    void cleanup() {
        window_.reset();
        prompts_.reset();
    }

    void dragMovesRows_data() {
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<int>("clickedBefore"); // a full click before the drag, or -1
        QTest::addColumn<int>("pressed");       // -1: empty space
        QTest::addColumn<Rows>("path");         // rows the pointer enters; -1: empty space
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<int>("expectedSelected");

        const QStringList abcd{"A", "B", "C", "D"};
        QTest::newRow("slow drag from row 1 to row 4")
            << abcd << -1 << 0 << Rows{1, 2, 3} << QStringList{"B", "C", "D", "A"} << 3;
        QTest::newRow("landing on row 4 directly")
            << abcd << -1 << 0 << Rows{3} << QStringList{"D", "B", "C", "A"} << 3;
        QTest::newRow("down one row") << abcd << -1 << 1 << Rows{2} << QStringList{"A", "C", "B", "D"} << 2;
        QTest::newRow("down and back up") << abcd << -1 << 0 << Rows{1, 2, 1, 0} << abcd << 0;
        QTest::newRow("upwards") << abcd << -1 << 3 << Rows{2, 1} << QStringList{"A", "D", "B", "C"} << 1;
        QTest::newRow("over empty space") << abcd << -1 << 0 << Rows{-1, -1} << abcd << 0;
        QTest::newRow("staying on the pressed row") << abcd << -1 << 2 << Rows{2, 2} << abcd << 2;
        // The duplicate is passed over without an exchange, so the moved row stays where it was.
        QTest::newRow("over an equal path") << QStringList{"A", "B", "A", "C"} << -1 << 0 << Rows{2, 3}
                                            << QStringList{"C", "B", "A", "A"} << 3;
        QTest::newRow("no row clicked yet") << abcd << -1 << -1 << Rows{0, 1, 2, -1} << abcd << -1;
        QTest::newRow("press on empty space moves the last clicked row")
            << abcd << 1 << -1 << Rows{2, 3} << QStringList{"A", "C", "D", "B"} << 3;
    }

    void dragMovesRows() {
        QFETCH(QStringList, rows);
        QFETCH(int, clickedBefore);
        QFETCH(int, pressed);
        QFETCH(Rows, path);
        QFETCH(QStringList, expected);
        QFETCH(int, expectedSelected);
        fill(rows);

        if (clickedBefore >= 0) {
            press(clickedBefore);
            release(clickedBefore);
        }
        press(pressed);
        for (int row : path)
            dragOver(row);
        release(path.last());

        QCOMPARE(RowsOf(list_), expected);
        QCOMPARE(selectedRow(list_), expectedSelected);
        // Moving ended with the release: further moves change nothing.
        dragOver(0, kQuietLine, Qt::NoButton);
        dragOver(list_->topLevelItemCount() - 1, kQuietLine, Qt::NoButton);
        QCOMPARE(RowsOf(list_), expected);
    }

    void removedMovedRowCountsAsNone_data() {
        QTest::addColumn<bool>("byClearList");
        QTest::newRow("removed with Delete") << false;
        QTest::newRow("removed with Clear List") << true;
    }

    void removedMovedRowCountsAsNone() {
        QFETCH(bool, byClearList);
        fill({"A", "B", "C", "D"});
        press(0);
        release(0);
        if (byClearList) {
            QTest::mouseClick(window_->findChild<QPushButton*>("PushButton5"), Qt::LeftButton);
            fill({"A", "B", "C", "D"});
        } else {
            QTest::keyClick(list_, Qt::Key_Delete);
        }
        const QStringList before = RowsOf(list_);
        press(-1);
        dragOver(0);
        dragOver(1);
        dragOver(2);
        release(2);
        QCOMPARE(RowsOf(list_), before);
    }

    void dragPointerDuringTheDrag() {
        fill({"A", "B"});
        QVERIFY(QFile::exists(ProgramFolder() + "/drag.ico"));
        press(0);
        QCOMPARE(viewport()->cursor().shape(), Qt::BitmapCursor);
        QCOMPARE(viewport()->cursor().pixmap().size(), QSize(32, 32));
        dragOver(1);
        QCOMPARE(viewport()->cursor().shape(), Qt::BitmapCursor);
        release(1);
        QCOMPARE(viewport()->cursor().shape(), Qt::ArrowCursor);

        // A press on empty space arms moving but is no row click: the pointer stays.
        press(-1);
        QCOMPARE(viewport()->cursor().shape(), Qt::ArrowCursor);
        release(-1);

        // While a command runs, the list keeps the window's wait pointer.
        window_->services().busy.setBusy(true);
        press(0);
        QCOMPARE(viewport()->cursor().shape(), Qt::WaitCursor);
        release(0);
        QCOMPARE(viewport()->cursor().shape(), Qt::WaitCursor);
        window_->services().busy.setBusy(false);
    }

    // A numbering run reads the rows as it goes: an exchange meanwhile would number one file twice
    // and skip another.
    void rowsStayWhileBusy() {
        fill({"A", "B", "C", "D"});
        press(0);
        window_->services().busy.setBusy(true);
        dragOver(1);
        dragOver(2);
        QCOMPARE(RowsOf(list_), (QStringList{"A", "B", "C", "D"}));
        window_->services().busy.setBusy(false);
        dragOver(3);
        release(3);
        QCOMPARE(RowsOf(list_), (QStringList{"D", "B", "C", "A"}));
    }

    // The release went to a message box that opened meanwhile: hovering must not move rows.
    void lostReleaseEndsTheDrag() {
        fill({"A", "B", "C"});
        press(0);
        dragOver(1, kQuietLine, Qt::NoButton);
        dragOver(2, kQuietLine, Qt::NoButton);
        QCOMPARE(RowsOf(list_), (QStringList{"A", "B", "C"}));
        QCOMPARE(viewport()->cursor().shape(), Qt::ArrowCursor);
    }

    void missingDragPointerKeepsThePointer() {
        QTemporaryDir emptyProgramFolder;
        OverrideProgramFolder(emptyProgramFolder.path());
        fill({"A", "B"});
        press(0);
        QCOMPARE(viewport()->cursor().shape(), Qt::ArrowCursor);
        dragOver(1);
        release(1);
        QCOMPARE(RowsOf(list_), (QStringList{"B", "A"}));
    }

    void scrollsByScreenLine_data() {
        QTest::addColumn<int>("firstShown"); // -1: scrolled to the bottom
        QTest::addColumn<int>("pressed");    // counted from the first row shown; negative: from the last
        QTest::addColumn<int>("hovered");
        QTest::addColumn<int>("screenLine");
        QTest::addColumn<int>("expectedScroll"); // rows the view moved down (negative: up)

        QTest::newRow("high, exchange at row 1") << 0 << 1 << 0 << kHighLine << 0;
        QTest::newRow("high, exchange at row 5") << 4 << 1 << 0 << kHighLine << -1;
        QTest::newRow("high edge 304") << 4 << 1 << 0 << 304 << -1;
        QTest::newRow("band 305") << 4 << 1 << 0 << 305 << 0;
        QTest::newRow("band 364") << 4 << -2 << -1 << 364 << 0;
        QTest::newRow("low edge 365") << 0 << -2 << -1 << 365 << 1;
        QTest::newRow("low, exchange at the last row") << -1 << -2 << -1 << kLowLine << 0;
        QTest::newRow("no exchange, no scroll") << 4 << 0 << 0 << kHighLine << 0;
    }

    void scrollsByScreenLine() {
        QFETCH(int, firstShown);
        QFETCH(int, pressed);
        QFETCH(int, hovered);
        QFETCH(int, screenLine);
        QFETCH(int, expectedScroll);
        QStringList rows;
        for (int i = 1; i <= 30; ++i)
            rows.append(QStringLiteral("/docs/file%1.pdf").arg(i, 2, 10, QLatin1Char('0')));
        fill(rows);
        if (firstShown < 0) {
            list_->scrollToBottom();
        } else {
            list_->scrollToItem(list_->topLevelItem(firstShown), QAbstractItemView::PositionAtTop);
            QCOMPARE(topRow(list_), firstShown);
        }
        const int rowHeight = list_->visualItemRect(list_->topLevelItem(0)).height();
        const int fullyShown = viewport()->height() / rowHeight;
        QVERIFY(fullyShown >= 3);
        const int before = topRow(list_);
        const int lastShown = std::min(before + fullyShown, list_->topLevelItemCount()) - 1;
        if (firstShown < 0)
            QCOMPARE(lastShown, list_->topLevelItemCount() - 1);
        auto absolute = [&](int offset) { return offset >= 0 ? before + offset : lastShown + 1 + offset; };

        press(absolute(pressed));
        dragOver(absolute(hovered), screenLine);
        release(absolute(hovered));
        QCOMPARE(topRow(list_) - before, expectedScroll);
    }

    void removal_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("busy");
        QTest::addColumn<int>("selected"); // -1: no row selected
        QTest::addColumn<QStringList>("expected");

        const QStringList abc{"A", "B", "C"};
        QTest::newRow("Delete") << "delete" << false << 1 << QStringList{"A", "C"};
        QTest::newRow("Delete on the last row") << "delete" << false << 2 << QStringList{"A", "B"};
        QTest::newRow("Shift+Delete") << "shift-delete" << false << 0 << QStringList{"B", "C"};
        QTest::newRow("double-click") << "double-click" << false << 1 << QStringList{"A", "C"};
        QTest::newRow("Delete while busy") << "delete" << true << 1 << abc;
        QTest::newRow("double-click while busy") << "double-click" << true << 1 << abc;
        QTest::newRow("Backspace") << "backspace" << false << 1 << abc;
        QTest::newRow("a letter") << "letter" << false << 1 << abc;
        QTest::newRow("Delete without a selected row") << "delete" << false << -1 << abc;
    }

    void removal() {
        QFETCH(QString, action);
        QFETCH(bool, busy);
        QFETCH(int, selected);
        QFETCH(QStringList, expected);
        fill({"A", "B", "C"});
        if (selected >= 0)
            list_->setCurrentItem(list_->topLevelItem(selected));
        else
            list_->clearSelection();
        window_->services().busy.setBusy(busy);

        if (action == "delete")
            QTest::keyClick(list_, Qt::Key_Delete);
        else if (action == "shift-delete")
            QTest::keyClick(list_, Qt::Key_Delete, Qt::ShiftModifier);
        else if (action == "backspace")
            QTest::keyClick(list_, Qt::Key_Backspace);
        else if (action == "letter")
            QTest::keyClick(list_, Qt::Key_X);
        else if (action == "double-click")
            QTest::mouseDClick(viewport(), Qt::LeftButton, {}, pointAt(selected));

        QCOMPARE(RowsOf(list_), expected);
        QCOMPARE(prompts_->shown.size(), 0);
        window_->services().busy.setBusy(false);
    }

    void deleteOnEmptyList() {
        QTest::keyClick(list_, Qt::Key_Delete);
        QTest::mouseDClick(viewport(), Qt::LeftButton, {}, QPoint(20, 20));
        QCOMPARE(list_->topLevelItemCount(), 0);
    }

    void deleteRemovesOneRowPerPress() {
        fill({"A", "B", "C", "D"});
        list_->setCurrentItem(list_->topLevelItem(1));
        QTest::keyClick(list_, Qt::Key_Delete);
        QTest::keyClick(list_, Qt::Key_Delete);
        QCOMPARE(RowsOf(list_), (QStringList{"A", "D"}));
    }

    void clearList_data() {
        QTest::addColumn<bool>("busy");
        QTest::addColumn<int>("expectedRows");
        QTest::newRow("idle") << false << 0;
        QTest::newRow("busy") << true << 3;
    }

    void clearList() {
        QFETCH(bool, busy);
        QFETCH(int, expectedRows);
        fill({"A", "B", "A"});
        window_->services().busy.setBusy(busy);
        QTest::mouseClick(window_->findChild<QPushButton*>("PushButton5"), Qt::LeftButton);
        QCOMPARE(list_->topLevelItemCount(), expectedRows);
        QCOMPARE(list_->headerItem()->text(0), QString("PDF File(s)"));
        QCOMPARE(prompts_->shown.size(), 0);
        window_->services().busy.setBusy(false);
    }

    void addByDialog_data() {
        QTest::addColumn<QStringList>("listed");
        QTest::addColumn<QList<QStringList>>("selections");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("cancel") << QStringList{} << QList<QStringList>{{}} << QStringList{};
        QTest::newRow("one file") << QStringList{} << QList<QStringList>{{"/home/ann/Docs/a.pdf"}}
                                  << QStringList{"/home/ann/Docs/a.pdf"};
        QTest::newRow("one file is taken as given")
            << QStringList{} << QList<QStringList>{{"/home//ann/a.pdf"}} << QStringList{"/home//ann/a.pdf"};
        QTest::newRow("two files in the dialog's order")
            << QStringList{} << QList<QStringList>{{"/home/ann/Docs/b.pdf", "/home/ann/Docs/a.pdf"}}
            << QStringList{"/home/ann/Docs/b.pdf", "/home/ann/Docs/a.pdf"};
        QTest::newRow("two files in the root")
            << QStringList{} << QList<QStringList>{{"/a.pdf", "/b.pdf"}} << QStringList{"/a.pdf", "/b.pdf"};
        QTest::newRow("doubled separators are cleaned")
            << QStringList{} << QList<QStringList>{{"//srv/share//a.pdf", "//srv/share//b.pdf"}}
            << QStringList{"/srv/share/a.pdf", "/srv/share/b.pdf"};
        QTest::newRow("names without .pdf are taken")
            << QStringList{} << QList<QStringList>{{"/d/x.txt", "/d/y"}} << QStringList{"/d/x.txt", "/d/y"};
        QTest::newRow("a listed file is appended again")
            << QStringList{"/d/a.pdf"} << QList<QStringList>{{"/d/a.pdf"}, {"/d/a.pdf", "/d/b.pdf"}}
            << QStringList{"/d/a.pdf", "/d/a.pdf", "/d/a.pdf", "/d/b.pdf"};
    }

    void addByDialog() {
        QFETCH(QStringList, listed);
        QFETCH(QList<QStringList>, selections);
        QFETCH(QStringList, expected);
        fill(listed);
        auto* button = window_->findChild<QPushButton*>("PushButton1");
        for (const QStringList& selection : selections) {
            prompts_->fileSelections.enqueue(selection);
            QTest::mouseClick(button, Qt::LeftButton);
        }
        QCOMPARE(RowsOf(list_), expected);
        const auto dialogs = prompts_->ofKind("files");
        QCOMPARE(dialogs.size(), selections.size());
        for (const ShownPrompt& dialog : dialogs) {
            QCOMPARE(dialog.text, QString("Add File(s) - Hold Ctrl to select multiple files"));
            QCOMPARE(dialog.filter, QString("PDF Files (*.pdf)"));
        }
        QCOMPARE(prompts_->messages(), QStringList{});
    }

    void selectionTooLargeForTheDialog_data() {
        QTest::addColumn<int>("lastNameLength");
        QTest::addColumn<bool>("accepted");
        // "/d", then 299 names of 99 characters and one more name, each after one separator:
        // 2 + 299 * 100 + 1 + last = 30000 for a last name of 97 characters.
        QTest::newRow("exactly 30000 characters") << 97 << true;
        QTest::newRow("30001 characters") << 98 << false;
    }

    void selectionTooLargeForTheDialog() {
        QFETCH(int, lastNameLength);
        QFETCH(bool, accepted);
        QStringList selection;
        for (int i = 0; i < 299; ++i)
            selection.append("/d/" + QString::number(i).rightJustified(95, 'n') + ".pdf");
        selection.append("/d/" + QString(lastNameLength - 4, 'z') + ".pdf");
        fill({"/kept.pdf"});
        prompts_->fileSelections.enqueue(selection);
        QTest::mouseClick(window_->findChild<QPushButton*>("PushButton1"), Qt::LeftButton);

        if (accepted) {
            QCOMPARE(list_->topLevelItemCount(), 301);
            QCOMPARE(list_->topLevelItem(300)->text(0), selection.last());
            QCOMPARE(prompts_->messages(), QStringList{});
            return;
        }
        QCOMPARE(RowsOf(list_), QStringList{"/kept.pdf"});
        const auto messages = prompts_->ofKind("message");
        QCOMPARE(messages.size(), 1);
        QCOMPARE(
            messages.first().text,
            QString(
                "You've selected too many files to add.\r\rPlease try adding via the \"Add All\" button."));
        QCOMPARE(messages.first().caption, ApplicationTitle());
        QCOMPARE(messages.first().style, int(Prompts::OkOnly));
    }
};

QTEST_MAIN(TestListEdit)
#include "test_listedit.moc"
