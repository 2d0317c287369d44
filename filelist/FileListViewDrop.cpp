#include "filelist/FileListView.h"

#include <QDragEnterEvent>
#include <QDropEvent>

void FileListView::dragEnterEvent(QDragEnterEvent* event) { event->ignore(); }
void FileListView::dragMoveEvent(QDragMoveEvent* event) { event->ignore(); }
void FileListView::dropEvent(QDropEvent* event) { event->ignore(); }
