#include "filelist/FileList.h"

#include <QTreeWidget>

void FileList::AppendPath(const QString& path) {
    auto* row = new QTreeWidgetItem(QStringList{path});
    row->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren);
    view_->addTopLevelItem(row);
}

int FileList::EntryCount() const {
    return view_->topLevelItemCount();
}

QString FileList::EntryText(int position) const {
    const QTreeWidgetItem* row = view_->topLevelItem(position - 1);
    return row ? row->text(0) : QString();
}

bool FileList::ListContainsText(const QString& text) const {
    for (int i = 0; i < view_->topLevelItemCount(); ++i)
        if (view_->topLevelItem(i)->text(0) == text)
            return true;
    return false;
}
