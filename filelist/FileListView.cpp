#include "filelist/FileListView.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>

FileListView::FileListView(QWidget* parent) : QTreeWidget(parent)
{
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    header()->setStretchLastSection(false);
    setAcceptDrops(true);
    setDragEnabled(false);
    setMouseTracking(true);
}

void FileListView::mousePressEvent(QMouseEvent* event) { QTreeWidget::mousePressEvent(event); }
void FileListView::mouseMoveEvent(QMouseEvent* event) { QTreeWidget::mouseMoveEvent(event); }
void FileListView::mouseReleaseEvent(QMouseEvent* event) { QTreeWidget::mouseReleaseEvent(event); }
void FileListView::mouseDoubleClickEvent(QMouseEvent* event) { QTreeWidget::mouseDoubleClickEvent(event); }
void FileListView::keyPressEvent(QKeyEvent* event) { QTreeWidget::keyPressEvent(event); }
