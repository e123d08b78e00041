#pragma once

#include "platform/FolderScan.h"

#include <QAbstractTableModel>
#include <QCollator>
#include <QIcon>
#include <QSet>
#include <QString>

#include <vector>

// The rows of one pane's file list: name (with the file-type icon), size, time of last change.
// Built for 100,000 rows: no per-row allocations beyond the name, no per-row icon look-ups.
class FileListModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { NameColumn = 0, SizeColumn = 1, TimeColumn = 2, ColumnCount = 3 };

    explicit FileListModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // Replaces all rows (a model reset: nothing of the previous rows survives, selection included,
    // but the marks).
    // aNameKeys, when given, holds NameCollator()'s key of each row's name, in row order, made
    // by whoever had the time; otherwise the first sort by name makes them.
    void SetRows(std::vector<FileRow> rows, std::vector<QCollatorSortKey> aNameKeys = {});
    void Clear();
    // The icon of every row: all rows of a listing share the pane's extension, so one icon
    // serves them all.
    void SetFileIcon(const QIcon &icon);
    const FileRow &Row(int nRow) const { return m_aRows[size_t(nRow)]; }
    const QIcon &FileIcon() const { return m_hFileIcon; }

    // Marks the rows whose name is in setNames (those an automatic run would convert): the name
    // in bold and markedIcon for the icon. The marks go with the names: a new listing keeps the
    // marks of the names it still holds until they are set anew.
    void SetMarkedNames(QSet<QString> setNames, const QIcon &markedIcon);
    bool IsMarked(int nRow) const;

    // Stable sort by a column. Rows move with their persistent indexes, so a selection made in
    // a view follows its rows.
    void Sort(int nColumn, bool bAscending);

    // Names are ordered as the user's locale orders them (in Japanese when the process has only
    // the C locale), case deciding only between names that differ in nothing else.
    static QCollator NameCollator();

    // "1,234,567" and "2026/12/06 13:34" (local time), as the list shows them.
    static QString SizeText(qint64 nSize);
    static QString TimeText(qint64 nModified);

private:
    void ApplyOrder(const std::vector<quint32> &aOrder);

    std::vector<FileRow> m_aRows;
    // Empty, or the collation key of each row's name, kept in step with m_aRows: made once per
    // listing, they serve every later sort by name.
    std::vector<QCollatorSortKey> m_aNameKeys;
    QIcon m_hFileIcon;
    QSet<QString> m_setMarked;
    QIcon m_hMarkedIcon;
};

// Inserts thousands separators into a number text: "1234567" → "1,234,567", "-1234" → "-1,234",
// "1234.5" → "1,234.5"; blanks are passed over, a "-" never gets a "," after it.
void InsertThousandsSeparators(QString &strNumber);
