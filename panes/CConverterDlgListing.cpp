#include "app/CConverterDlg.h"

#include "panes/FileListHeader.h"
#include "panes/FileListModel.h"
#include "platform/FileIcons.h"
#include "platform/FolderScan.h"
#include "res/Strings.h"

#include <QDir>
#include <QFontMetrics>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QStyle>
#include <QTreeView>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

// Sizes up to 13 digits and the time to the minute are always shown in full.
const QString kWidestSize = QStringLiteral("d,ddd,ddd,ddd,ddd");
const QString kWidestTime = QStringLiteral("dddd/dd/dd dd:dd");

QString FormatCount(int nStringId, qsizetype nCount)
{
    return LoadString(nStringId).replace(u"%d"_s, QString::number(nCount));
}

struct Listing
{
    std::vector<FileRow> aRows;
    std::vector<QCollatorSortKey> aNameKeys; // empty unless asked for
};

// Reading a large folder mostly waits for the file system. So the folder is read on a second
// thread, while this one runs fnMeanwhile and turns each batch of entries into rows, and the
// names into collation keys (the dearest part of sorting by name), as the batches come in: when
// the last entry has been read, little work is left.
Listing ReadFolder(const QString &strFolder, const QString &strExt, bool bNameKeys,
                   const std::function<void()> &fnMeanwhile)
{
    constexpr size_t kBatch = 2048;
    const QByteArray folder = FolderScan::EncodeFolder(strFolder);
    const QByteArray suffix = FolderScan::EncodeSuffix(strExt);
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<FolderScan::Batch> aQueue;
    bool bDone = false;
    const auto read = [&] {
        FolderScan::ReadEntries(folder, suffix, kBatch, [&](FolderScan::Batch &&batch) {
            {
                const std::lock_guard<std::mutex> lock(mutex);
                aQueue.push_back(std::move(batch));
            }
            ready.notify_one();
        });
        {
            const std::lock_guard<std::mutex> lock(mutex);
            bDone = true;
        }
        ready.notify_one();
    };
    std::thread reader;
    try {
        reader = std::thread(read);
    } catch (const std::system_error &) {
        read();
    }
    fnMeanwhile();

    const QCollator collator = FileListModel::NameCollator();
    Listing listing;
    const size_t nExpected = FolderScan::EstimateEntries(folder);
    listing.aRows.reserve(nExpected);
    if (bNameKeys)
        listing.aNameKeys.reserve(nExpected);
    for (;;) {
        FolderScan::Batch batch;
        {
            std::unique_lock<std::mutex> lock(mutex);
            ready.wait(lock, [&] { return bDone || !aQueue.empty(); });
            if (aQueue.empty())
                break;
            batch = std::move(aQueue.front());
            aQueue.pop_front();
        }
        const size_t nFirst = listing.aRows.size();
        FolderScan::AppendRows(batch, listing.aRows);
        if (bNameKeys) {
            for (size_t i = nFirst; i < listing.aRows.size(); ++i)
                listing.aNameKeys.push_back(collator.sortKey(listing.aRows[i].strName));
        }
    }
    if (reader.joinable())
        reader.join();
    return listing;
}

// The width of strPattern with every "d" the widest digit of the font: no size or time text of
// that pattern is wider.
int WidestDigitText(const QFontMetrics &fm, const QString &strPattern)
{
    int nWidest = 0;
    for (char16_t c = u'0'; c <= u'9'; ++c)
        nWidest = qMax(nWidest, fm.horizontalAdvance(QString(strPattern).replace(u'd', QChar(c))));
    return nWidest;
}

} // namespace

int CConverterDlg::ColumnWidthFor(QTreeView *pList, int nColumn)
{
    // Measured in the font the list paints with: the same columns in another font (the Japanese
    // fonts are wide) would cut the minutes off the time or the last digits off a size.
    const int nMargin
        = 2 * (pList->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, pList) + 1);
    int nWidth = 0;
    if (nColumn == FileListModel::SizeColumn)
        nWidth = WidestDigitText(pList->fontMetrics(), kWidestSize) + nMargin;
    else if (nColumn == FileListModel::TimeColumn)
        nWidth = WidestDigitText(pList->fontMetrics(), kWidestTime) + nMargin;
    if (auto *pHeader = qobject_cast<FileListHeader *>(pList->header()))
        nWidth = qMax(nWidth, pHeader->SectionWidthFor(nColumn));
    return nWidth;
}

void CConverterDlg::InitListColumns()
{
    // Both lists have the same size, so the source list's client width serves for both. The
    // list is still empty here and shows no scroll bar, so its client width is its contents
    // rectangle, which is valid before the window is first laid out (the viewport is not).
    // Size and time get what their longest texts need; the name takes the rest, so that no
    // horizontal scroll bar hides a column, and shows a name it cuts short in full as a tooltip.
    const int nClientWidth = m_lcSrcFiles->contentsRect().width();
    const int nScrollBar
        = m_lcSrcFiles->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, m_lcSrcFiles);
    const int nSizeWidth = ColumnWidthFor(m_lcSrcFiles, FileListModel::SizeColumn);
    const int nTimeWidth = ColumnWidthFor(m_lcSrcFiles, FileListModel::TimeColumn);
    const int nNameWidth = qMax(nClientWidth - nScrollBar - nSizeWidth - nTimeWidth,
                                ColumnWidthFor(m_lcSrcFiles, FileListModel::NameColumn));
    for (QTreeView *pList : {m_lcSrcFiles, m_lcDstFiles}) {
        QHeaderView *pHeader = pList->header();
        // The computed widths are exact; a stretched last column would override them.
        pHeader->setStretchLastSection(false);
        pHeader->resizeSection(FileListModel::NameColumn, nNameWidth);
        pHeader->resizeSection(FileListModel::SizeColumn, nSizeWidth);
        pHeader->resizeSection(FileListModel::TimeColumn, nTimeWidth);
    }
    for (Pane *pPane : {&m_src, &m_dst}) {
        pPane->nSortColumn = FileListModel::NameColumn;
        pPane->anSortDir[0] = 1;
        pPane->anSortDir[1] = 0;
        pPane->anSortDir[2] = 0;
    }
}

void CConverterDlg::FillFileList(QString &strFolder, QString strExt, int nSide)
{
    // When the folder cannot be made current, the current directory is still the folder listed
    // last, perhaps by the other pane: listing it would show another folder's files under this
    // pane's name. The list stays empty and strFolder keeps naming the folder that failed.
    const bool bCurrent = !strFolder.isEmpty() && QDir::setCurrent(strFolder);
    if (bCurrent)
        strFolder = QDir::currentPath();

    Pane &pane = nSide == 1 ? m_src : m_dst;
    QTreeView *pList = nSide == 1 ? m_lcSrcFiles : m_lcDstFiles;
    FileListModel *pModel = ListModel(nSide);

    if (strExt.isEmpty() || !bCurrent) {
        pModel->Clear();
        if (strExt.isEmpty())
            return;
    } else {
        // The previous rows are let go while the folder is read, where freeing them costs no
        // time.
        QIcon hIcon;
        Listing listing
            = ReadFolder(strFolder, strExt, pane.nSortColumn == FileListModel::NameColumn, [&] {
                  pModel->Clear();
                  hIcon = FileIcons::ForExtension(strExt);
              });
        pModel->SetFileIcon(hIcon);
        pModel->SetRows(std::move(listing.aRows), std::move(listing.aNameKeys));
    }

    SortFileList(pane.nSortColumn, pane.anSortDir, pList);
    UpdateFileCount(nSide);
    UpdateSelectedCount(nSide);
}

void CConverterDlg::UpdateFileCount(int nSide)
{
    SetDlgItemText(nSide == 1 ? 1042 : 1043, FormatCount(307, ListModel(nSide)->rowCount()));
}

void CConverterDlg::UpdateSelectedCount(int nSide)
{
    const QTreeView *pList = nSide == 1 ? m_lcSrcFiles : m_lcDstFiles;
    const QItemSelectionModel *pSelection = pList->selectionModel();
    const qsizetype nSelected = pSelection ? pSelection->selectedRows().size() : 0;
    SetDlgItemText(nSide == 1 ? 1044 : 1045,
                   nSelected > 0 ? FormatCount(308, nSelected) : QString());
}

void CConverterDlg::SortFileList(int nColumn, int *anSortDir, QTreeView *pList)
{
    if (nColumn < 0 || nColumn >= FileListModel::ColumnCount)
        return;
    const int nFlag = anSortDir[nColumn];
    if (auto *pModel = qobject_cast<FileListModel *>(pList->model()))
        pModel->Sort(nColumn, nFlag != 0);

    // Only the sorted column's flag means anything; clearing the others makes a click on another
    // column sort it ascending.
    for (int j = 0; j < FileListModel::ColumnCount; ++j) {
        if (j != nColumn)
            anSortDir[j] = 0;
    }
    if (auto *pHeader = qobject_cast<FileListHeader *>(pList->header()))
        pHeader->SetArrow(nColumn, nFlag);
}

FileListModel *CConverterDlg::ListModel(int nSide) const
{
    return nSide == 1 ? m_pSrcModel : m_pDstModel;
}
