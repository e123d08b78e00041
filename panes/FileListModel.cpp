#include "panes/FileListModel.h"

#include <QCollator>
#include <QFont>
#include <QLocale>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <iterator>
#include <numeric>
#include <system_error>
#include <thread>
#include <utility>

namespace {

const char *const kHeaderTexts[FileListModel::ColumnCount] = {"名前", "ｻｲｽﾞ", "更新日時"};

bool LocalTime(qint64 nSeconds, tm &tmLocal)
{
    const time_t t = time_t(nSeconds);
    return localtime_r(&t, &tmLocal) != nullptr;
}

// Orders exactly as the "%Y/%m/%d %H:%M" text does: by local calendar minute, so two changes
// within one minute are equal and the daylight-saving fall-back hour sorts as its text does.
qint64 MinuteKey(qint64 nSeconds)
{
    tm tmLocal;
    if (!LocalTime(nSeconds, tmLocal))
        return nSeconds / 60;
    const qint64 nYear = qint64(tmLocal.tm_year) + 1900;
    return (((nYear * 12 + tmLocal.tm_mon) * 31 + (tmLocal.tm_mday - 1)) * 24 + tmLocal.tm_hour)
        * 60
        + tmLocal.tm_min;
}

// Stable, so rows that compare equal keep the order they had.
template<class Key>
std::vector<quint32> SortedOrder(std::vector<std::pair<Key, quint32>> &aKeys, bool bAscending)
{
    if (bAscending) {
        std::stable_sort(aKeys.begin(), aKeys.end(),
                         [](const auto &a, const auto &b) { return a.first < b.first; });
    } else {
        std::stable_sort(aKeys.begin(), aKeys.end(),
                         [](const auto &a, const auto &b) { return b.first < a.first; });
    }
    std::vector<quint32> aOrder;
    aOrder.reserve(aKeys.size());
    for (const auto &key : aKeys)
        aOrder.push_back(key.second);
    return aOrder;
}

// Where the parts of nCount items begin and end: one part per processor, or a single part when
// the count is too small to be worth a thread.
std::vector<size_t> PartBounds(size_t nCount)
{
    const size_t nParts
        = nCount < 4096 ? 1 : std::clamp<size_t>(std::thread::hardware_concurrency(), 1, 4);
    std::vector<size_t> aBounds;
    for (size_t nPart = 0; nPart <= nParts; ++nPart)
        aBounds.push_back(nCount * nPart / nParts);
    return aBounds;
}

// Runs fnPart(nPart, nBegin, nEnd) for each part, the first on the calling thread; a part whose
// thread cannot be started runs on the calling thread as well.
template<class Fn>
void RunParts(const std::vector<size_t> &aBounds, Fn fnPart)
{
    std::vector<std::thread> aThreads;
    for (size_t nPart = 1; nPart + 1 < aBounds.size(); ++nPart) {
        try {
            aThreads.emplace_back(fnPart, nPart, aBounds[nPart], aBounds[nPart + 1]);
        } catch (const std::system_error &) {
            fnPart(nPart, aBounds[nPart], aBounds[nPart + 1]);
        }
    }
    fnPart(size_t(0), aBounds[0], aBounds[1]);
    for (std::thread &thread : aThreads)
        thread.join();
}

// The collation key of every name. Making the keys is the dearest part of sorting many names, so
// the work is spread over the processors.
std::vector<QCollatorSortKey> MakeNameKeys(const std::vector<FileRow> &aRows)
{
    const std::vector<size_t> aBounds = PartBounds(aRows.size());
    std::vector<std::vector<QCollatorSortKey>> aPartKeys(aBounds.size() - 1);
    RunParts(aBounds, [&](size_t nPart, size_t nBegin, size_t nEnd) {
        // A collator of its own: a collator is not meant to be used by two threads at once.
        const QCollator collator = FileListModel::NameCollator();
        std::vector<QCollatorSortKey> &aKeys = aPartKeys[nPart];
        aKeys.reserve(nEnd - nBegin);
        for (size_t i = nBegin; i < nEnd; ++i)
            aKeys.push_back(collator.sortKey(aRows[i].strName));
    });
    std::vector<QCollatorSortKey> aKeys = std::move(aPartKeys[0]);
    aKeys.reserve(aRows.size());
    for (size_t nPart = 1; nPart < aPartKeys.size(); ++nPart) {
        aKeys.insert(aKeys.end(), std::make_move_iterator(aPartKeys[nPart].begin()),
                     std::make_move_iterator(aPartKeys[nPart].end()));
    }
    return aKeys;
}

// The order of the rows by their names' keys. Each part is sorted on its own thread, then the
// parts are merged; a merge takes the earlier part first on ties, which keeps the sort stable.
std::vector<quint32> NameOrder(const std::vector<QCollatorSortKey> &aKeys, bool bAscending)
{
    std::vector<quint32> aOrder(aKeys.size());
    std::iota(aOrder.begin(), aOrder.end(), quint32(0));
    const auto less = [&aKeys, bAscending](quint32 a, quint32 b) {
        const int nCompare = aKeys[a].compare(aKeys[b]);
        return bAscending ? nCompare < 0 : nCompare > 0;
    };
    const std::vector<size_t> aBounds = PartBounds(aKeys.size());
    RunParts(aBounds, [&](size_t, size_t nBegin, size_t nEnd) {
        std::stable_sort(aOrder.begin() + qsizetype(nBegin), aOrder.begin() + qsizetype(nEnd),
                         less);
    });
    for (size_t i = 2; i < aBounds.size(); ++i) {
        std::inplace_merge(aOrder.begin(), aOrder.begin() + qsizetype(aBounds[i - 1]),
                           aOrder.begin() + qsizetype(aBounds[i]), less);
    }
    return aOrder;
}

} // namespace

FileListModel::FileListModel(QObject *parent)
    : QAbstractTableModel(parent)
{ }

int FileListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_aRows.size());
}

int FileListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant FileListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || size_t(index.row()) >= m_aRows.size())
        return {};
    const FileRow &row = m_aRows[size_t(index.row())];
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case NameColumn:
            return row.strName;
        case SizeColumn:
            return SizeText(row.nSize);
        case TimeColumn:
            return TimeText(row.nModified);
        }
        break;
    case Qt::DecorationRole:
        if (index.column() == NameColumn)
            return !m_setMarked.isEmpty() && m_setMarked.contains(row.strName) ? m_hMarkedIcon
                                                                               : m_hFileIcon;
        break;
    case Qt::FontRole:
        if (index.column() == NameColumn && !m_setMarked.isEmpty()
            && m_setMarked.contains(row.strName)) {
            QFont font;
            font.setBold(true);
            return font;
        }
        break;
    case Qt::TextAlignmentRole:
        return QVariant::fromValue((index.column() == SizeColumn ? Qt::AlignRight : Qt::AlignLeft)
                                   | Qt::AlignVCenter);
    }
    return {};
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount)
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return QString::fromUtf8(kHeaderTexts[section]);
    case Qt::TextAlignmentRole:
        return QVariant::fromValue((section == SizeColumn ? Qt::AlignRight : Qt::AlignLeft)
                                   | Qt::AlignVCenter);
    }
    return {};
}

void FileListModel::SetRows(std::vector<FileRow> rows, std::vector<QCollatorSortKey> aNameKeys)
{
    beginResetModel();
    m_aRows = std::move(rows);
    m_aNameKeys = std::move(aNameKeys);
    if (m_aNameKeys.size() != m_aRows.size())
        m_aNameKeys.clear();
    endResetModel();
}

QCollator FileListModel::NameCollator()
{
    // The C locale (a login without a language, or LANG=C.UTF-8) has no collation of its own and
    // would order by code point, "B" before "a". The interface is Japanese, so is the fallback.
    QLocale locale;
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::Japanese, QLocale::Japan);
    QCollator collator {locale};
    collator.setCaseSensitivity(Qt::CaseSensitive);
    return collator;
}

void FileListModel::Clear()
{
    SetRows({});
}

void FileListModel::SetFileIcon(const QIcon &icon)
{
    m_hFileIcon = icon;
    if (!m_aRows.empty())
        emit dataChanged(index(0, NameColumn), index(rowCount() - 1, NameColumn),
                         {Qt::DecorationRole});
}

void FileListModel::SetMarkedNames(QSet<QString> setNames, const QIcon &markedIcon)
{
    if (setNames.isEmpty() && m_setMarked.isEmpty())
        return;
    m_setMarked = std::move(setNames);
    m_hMarkedIcon = markedIcon;
    if (!m_aRows.empty())
        emit dataChanged(index(0, NameColumn), index(rowCount() - 1, NameColumn),
                         {Qt::DecorationRole, Qt::FontRole});
}

bool FileListModel::IsMarked(int nRow) const
{
    return nRow >= 0 && size_t(nRow) < m_aRows.size()
        && m_setMarked.contains(m_aRows[size_t(nRow)].strName);
}

void FileListModel::Sort(int nColumn, bool bAscending)
{
    const size_t nRows = m_aRows.size();
    if (nRows < 2)
        return;

    std::vector<quint32> aOrder;
    if (nColumn == NameColumn) {
        if (m_aNameKeys.size() != nRows)
            m_aNameKeys = MakeNameKeys(m_aRows);
        aOrder = NameOrder(m_aNameKeys, bAscending);
    } else {
        std::vector<std::pair<qint64, quint32>> aKeys;
        aKeys.reserve(nRows);
        for (size_t i = 0; i < nRows; ++i) {
            const FileRow &row = m_aRows[i];
            aKeys.emplace_back(nColumn == SizeColumn ? row.nSize : MinuteKey(row.nModified),
                               quint32(i));
        }
        aOrder = SortedOrder(aKeys, bAscending);
    }
    ApplyOrder(aOrder);
}

void FileListModel::ApplyOrder(const std::vector<quint32> &aOrder)
{
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);

    // In place, cycle by cycle: row i receives the row that was at aOrder[i]. Swapping moves no
    // text and touches no reference count, and no second set of rows is ever allocated.
    std::vector<bool> abPlaced(aOrder.size());
    for (size_t nStart = 0; nStart < aOrder.size(); ++nStart) {
        size_t j = nStart;
        while (!abPlaced[j]) {
            abPlaced[j] = true;
            const size_t nFrom = aOrder[j];
            if (nFrom == nStart)
                break;
            using std::swap;
            swap(m_aRows[j], m_aRows[nFrom]);
            if (!m_aNameKeys.empty())
                swap(m_aNameKeys[j], m_aNameKeys[nFrom]);
            j = nFrom;
        }
    }

    // The selection and the current row are persistent indexes; they must land on their rows'
    // new places.
    const QModelIndexList aFrom = persistentIndexList();
    if (!aFrom.isEmpty()) {
        std::vector<quint32> aNewRow(aOrder.size());
        for (size_t i = 0; i < aOrder.size(); ++i)
            aNewRow[aOrder[i]] = quint32(i);
        QModelIndexList aTo;
        aTo.reserve(aFrom.size());
        for (const QModelIndex &from : aFrom)
            aTo.append(index(int(aNewRow[size_t(from.row())]), from.column()));
        changePersistentIndexList(aFrom, aTo);
    }

    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

QString FileListModel::SizeText(qint64 nSize)
{
    QString strSize = QString::number(nSize);
    InsertThousandsSeparators(strSize);
    return strSize;
}

QString FileListModel::TimeText(qint64 nModified)
{
    tm tmLocal;
    if (!LocalTime(nModified, tmLocal))
        return {};
    char szText[64];
    std::snprintf(szText, sizeof szText, "%04lld/%02d/%02d %02d:%02d",
                  static_cast<long long>(tmLocal.tm_year) + 1900, tmLocal.tm_mon + 1,
                  tmLocal.tm_mday, tmLocal.tm_hour, tmLocal.tm_min);
    return QString::fromLatin1(szText);
}

void InsertThousandsSeparators(QString &strNumber)
{
    // Built from the right end, as the grouping is counted from there.
    QString strResult;
    strResult.reserve(strNumber.size() + strNumber.size() / 3 + 1);
    qsizetype i = strNumber.size() - 1;
    const qsizetype nDot = strNumber.lastIndexOf(QLatin1Char('.'));
    if (nDot >= 0) {
        for (; i >= nDot; --i)
            strResult.append(strNumber.at(i));
    }
    if (i >= 0) {
        strResult.append(strNumber.at(i));
        --i;
    }
    int nCounted = 0;
    for (; i >= 0; --i) {
        const QChar c = strNumber.at(i);
        if (c == QLatin1Char(' ')) {
            strResult.append(c);
            continue;
        }
        ++nCounted;
        if (nCounted == 3 && c != QLatin1Char('-')) {
            strResult.append(QLatin1Char(','));
            nCounted = 0;
        }
        strResult.append(c);
    }
    std::reverse(strResult.begin(), strResult.end());
    strNumber = strResult;
}
