#include "filelist/FileListView.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

namespace {
// The paths of a drop from the file manager, in its order; empty unless every item is a local file or
// folder.
QStringList localPaths(const QMimeData* data) {
    if (!data || !data->hasUrls())
        return {};
    QStringList paths;
    for (const QUrl& url : data->urls()) {
        if (!url.isLocalFile())
            return {};
        QString path = url.toLocalFile();
        // A folder arrives without a final "/", unless it is the root.
        while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
            path.chop(1);
        if (path.isEmpty())
            return {};
        paths.append(path);
    }
    return paths;
}

// Leaves the effect as the source offered it for local files and refuses anything else.
void judge(QDropEvent* event) {
    if (localPaths(event->mimeData()).isEmpty())
        event->ignore();
    else
        event->acceptProposedAction();
}
} // namespace

void FileListView::dragEnterEvent(QDragEnterEvent* event) {
    judge(event);
}

void FileListView::dragMoveEvent(QDragMoveEvent* event) {
    judge(event);
}

void FileListView::dropEvent(QDropEvent* event) {
    const QStringList paths = localPaths(event->mimeData());
    if (paths.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    if (onDrop_)
        onDrop_(paths);
}
