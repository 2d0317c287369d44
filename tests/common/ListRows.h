#pragma once
#include <QStringList>

class QTreeWidget;

// The file list's rows, top to bottom, as the user reads them.
QStringList RowsOf(const QTreeWidget* list);
