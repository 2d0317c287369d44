#pragma once
// The file list: the rows of ListView1, top to bottom, each the full path of one file. New rows go to
// the end, duplicates are allowed, and the order is the processing order.

#include <QString>

class QTreeWidget;

class FileList {
public:
    explicit FileList(QTreeWidget* view)
        : view_(view) {}

    // Adds a row at the end with the path exactly as given; tests nothing.
    void AppendPath(const QString& path);
    int EntryCount() const;
    // The text of the row at position (1 to EntryCount), counted from the top.
    QString EntryText(int position) const;
    // True when some row's text equals text exactly (letter case included).
    bool ListContainsText(const QString& text) const;

    QTreeWidget* view() const { return view_; }

private:
    QTreeWidget* view_;
};
