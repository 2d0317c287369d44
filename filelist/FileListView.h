#pragma once
// ListView1: the file list's control. It takes drops of files and folders from the file manager and
// lets the user move rows by dragging, and remove them with Delete or a double-click.

#include <QPersistentModelIndex>
#include <QTreeWidget>
#include <functional>

class FileListView : public QTreeWidget {
    Q_OBJECT
public:
    explicit FileListView(QWidget* parent = nullptr);

    // Set by the main window: whether rows must stay as they are (moves and removals are refused).
    void setBusyTest(std::function<bool()> isBusy) { isBusy_ = std::move(isBusy); }
    // Set by the main window: what a drop of local paths does.
    void setDropHandler(std::function<void(const QStringList&)> onDrop) { onDrop_ = std::move(onDrop); }

protected:
    // Row moving and removal (FileListView.cpp)
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    // Drops from the file manager (FileListViewDrop.cpp)
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // Row moving and removal (FileListView.cpp)
    void exchangeWithRowAt(const QModelIndex& hovered, int screenY);
    void removeSelectedRow();

    // Armed by any button press on the list, disarmed by the release that ends it.
    bool moving_ = false;
    // The row being dragged; it follows the dragged path from row to row. A persistent index turns
    // invalid when its row is removed, so a removed row counts as none.
    QPersistentModelIndex movedRow_;

    std::function<bool()> isBusy_ = [] { return false; };
    std::function<void(const QStringList&)> onDrop_;
};
