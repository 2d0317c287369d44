#include "ListRows.h"

#include <QTreeWidget>

QStringList RowsOf(const QTreeWidget* list) {
    QStringList rows;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        rows.append(list->topLevelItem(i)->text(0));
    return rows;
}
