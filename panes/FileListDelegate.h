#pragma once

#include <QStyledItemDelegate>

// Paints the rows of a file list as the style does, and shows a text that its column cuts short
// in full as a tooltip: two long names that differ only at their end look alike in the list.
class FileListDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override;

    // Whether the text of index does not fit the text area of option's rectangle.
    bool IsElided(const QStyleOptionViewItem &option, const QModelIndex &index) const;
};
