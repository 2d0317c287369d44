#pragma once
// ListView1: the file list's control. It takes drops of files and folders from the file manager and
// lets the user move rows by dragging, and remove them with Delete or a double-click.

#include <QTreeWidget>
#include <functional>

class FileListView : public QTreeWidget {
    Q_OBJECT
public:
    explicit FileListView(QWidget* parent = nullptr);

    // Set by the main window: whether a long command runs (removals are refused then).
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
    std::function<bool()> isBusy_ = [] { return false; };
    std::function<void(const QStringList&)> onDrop_;
};
