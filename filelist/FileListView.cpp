#include "filelist/FileListView.h"

#include "sys/FileUtils.h"

#include <QGuiApplication>
#include <QHeaderView>
#include <QImageReader>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPixmap>
#include <QScreen>

namespace {
// Screen lines (pixels from the top of the screen) above which a drag scrolls up and from which it
// scrolls down; between them the list stays put.
constexpr int kScrollUpBelowLine = 305;
constexpr int kScrollDownFromLine = 365;

// The drag pointer, read when a row is clicked so that a replaced file takes effect at once.
std::optional<QCursor> loadDragPointer() {
    QImageReader reader(ProgramFolder() + QStringLiteral("/drag.ico"));
    const QImage image = reader.read();
    if (image.isNull())
        return std::nullopt;
    return QCursor(QPixmap::fromImage(image));
}

int lineOnScreen(const QPointF& globalPosition) {
    const QPoint global = globalPosition.toPoint();
    const QScreen* screen = QGuiApplication::screenAt(global);
    return global.y() - (screen ? screen->geometry().top() : 0);
}
} // namespace

FileListView::FileListView(QWidget* parent)
    : QTreeWidget(parent) {
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    header()->setStretchLastSection(false);
    setAcceptDrops(true);
    setDragEnabled(false);
    setMouseTracking(true);
}

void FileListView::mousePressEvent(QMouseEvent* event) {
    moving_ = true;
    QTreeWidget::mousePressEvent(event);

    const QModelIndex clicked = indexAt(event->position().toPoint());
    if (!clicked.isValid())
        return;
    // While a command runs rows don't move, and the list keeps showing the wait pointer.
    if (const auto pointer = isBusy_() ? std::nullopt : loadDragPointer())
        viewport()->setCursor(*pointer);
    // Rows are moved by hand below; the list must not start a drag-and-drop of its own.
    setDragEnabled(false);
    movedRow_ = clicked.siblingAtColumn(0);
}

void FileListView::mouseMoveEvent(QMouseEvent* event) {
    // A release can go astray, for instance to a message box that opened while the button was held;
    // a move without a button held then ends the drag instead of shuffling rows under a hovering pointer.
    if (moving_ && event->buttons() == Qt::NoButton) {
        moving_ = false;
        viewport()->unsetCursor();
    }
    if (!moving_) {
        QTreeWidget::mouseMoveEvent(event);
        return;
    }
    // While a row is being moved the list's own drag-selection stays out of the way: the selection
    // follows the moved path instead. A numbering run reads the rows one by one as it goes, so an
    // exchange during the run would number one file twice and skip another.
    const QModelIndex hovered = indexAt(event->position().toPoint());
    if (hovered.isValid() && !isBusy_())
        exchangeWithRowAt(hovered.siblingAtColumn(0), lineOnScreen(event->globalPosition()));
}

void FileListView::exchangeWithRowAt(const QModelIndex& hovered, int screenY) {
    if (!movedRow_.isValid())
        return;
    QTreeWidgetItem* moved = itemFromIndex(movedRow_);
    QTreeWidgetItem* target = itemFromIndex(hovered);
    if (!moved || !target || moved->text(0) == target->text(0))
        return;

    const QString movedText = moved->text(0);
    moved->setText(0, target->text(0));
    target->setText(0, movedText);

    // Selecting the row must not scroll by itself: only the screen-position rule below scrolls.
    const bool autoScrolling = hasAutoScroll();
    setAutoScroll(false);
    setCurrentItem(target);
    setAutoScroll(autoScrolling);
    movedRow_ = hovered;

    const int position = hovered.row() + 1;
    if (screenY < kScrollUpBelowLine) {
        if (position >= 2)
            scrollToItem(topLevelItem(position - 2));
    } else if (screenY >= kScrollDownFromLine) {
        if (position < topLevelItemCount())
            scrollToItem(topLevelItem(position));
    }
}

void FileListView::mouseReleaseEvent(QMouseEvent* event) {
    moving_ = false;
    // Back to the window's pointer: the arrow, or the wait pointer while a command runs.
    viewport()->unsetCursor();
    QTreeWidget::mouseReleaseEvent(event);
}

void FileListView::mouseDoubleClickEvent(QMouseEvent* event) {
    // The second press of a double-click is a press like any other.
    moving_ = true;
    QTreeWidget::mouseDoubleClickEvent(event);
    removeSelectedRow();
}

void FileListView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Delete) {
        removeSelectedRow();
        event->accept();
        return;
    }
    QTreeWidget::keyPressEvent(event);
}

void FileListView::removeSelectedRow() {
    if (isBusy_() || topLevelItemCount() == 0)
        return;
    const QList<QTreeWidgetItem*> selected = selectedItems();
    if (selected.isEmpty())
        return;
    delete takeTopLevelItem(indexOfTopLevelItem(selected.first()));
}
