#pragma once

#include <QStyledItemDelegate>

// Paints the rows of a file list as the style does, a name cut short in its middle so that its
// extension stays in sight, and shows a text that its column cuts short in full as a tooltip:
// two long names that differ only near their end look alike in the list.
class FileListDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override;

    // Whether the text of index does not fit the text area of option's rectangle.
    bool IsElided(const QStyleOptionViewItem &option, const QModelIndex &index) const;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override;
};
