#include "panes/Pane.h"

#include "controls/MessageBox.h"
#include "formats/FormatTable.h"
#include "panes/BrowseForFolder.h"
#include "panes/FileListHeader.h"
#include "panes/FileListModel.h"
#include "panes/FileListView.h"
#include "panes/Paths.h"
#include "platform/Desktop.h"
#include "platform/FileIcons.h"
#include "platform/FileNames.h"
#include "platform/FolderWatcher.h"
#include "platform/Trash.h"
#include "res/Resource.h"
#include "res/Strings.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QSet>
#include <QUrl>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int kMaxHistory = 10;

QString FormatCount(int nStringId, qsizetype nCount)
{
    return LoadString(nStringId).replace(u"%d"_s, QString::number(nCount));
}

// Takes strPath into a folder history: an earlier entry with the same text goes, and the folder
// goes on top only if it exists. Returns whether it exists.
bool TakeIntoHistory(QStringList &aHistory, const QString &strPath)
{
    // Exact and case-sensitive: "/x/Work" and "/x/work" are different folders here.
    const qsizetype nFound = aHistory.lastIndexOf(strPath);
    if (nFound >= 0)
        aHistory.removeAt(nFound);
    const bool bExists = IsExistingFolder(strPath);
    if (bExists) {
        if (aHistory.size() > kMaxHistory - 1)
            aHistory.erase(aHistory.begin() + (kMaxHistory - 1), aHistory.end());
        aHistory.prepend(strPath);
    }
    return bExists;
}

} // namespace

Pane::Pane(Side side, QWidget *pWindow, const QString &strDesktopDir,
           const QString &strDocumentsDir)
    : m_side(side)
    , m_pWindow(pWindow)
    , m_strDesktopDir(strDesktopDir)
    , m_strDocumentsDir(strDocumentsDir)
{ }

void Pane::Attach(const Controls &controls)
{
    m_controls = controls;
    m_pModel = new FileListModel(this);
    FileListView *pList = m_controls.pList;
    pList->setModel(m_pModel);
    // A click on a header sorts by that column (through the window's handler).
    pList->header()->setSectionsClickable(true);
    // The count line must tell the truth after keyboard selection too, not only after clicks.
    connect(pList->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        UpdateSelectedCount();
        emit selectionChanged();
    });
    m_pWatcher = new FolderWatcher(this);
    connect(m_pWatcher, &FolderWatcher::changed, this, &Pane::FollowDisk);
}

QList<int> Pane::SelectedRows() const
{
    // From the ranges rather than selectedRows(), which examines each row anew: every selection
    // here is of whole rows, and a list of 100,000 selected rows is read in a moment.
    QList<int> aRows;
    if (const QItemSelectionModel *pSelection = m_controls.pList->selectionModel()) {
        for (const QItemSelectionRange &range : pSelection->selection()) {
            for (int nRow = range.top(); nRow <= range.bottom(); ++nRow)
                aRows.append(nRow);
        }
    }
    std::sort(aRows.begin(), aRows.end());
    aRows.erase(std::unique(aRows.begin(), aRows.end()), aRows.end());
    return aRows;
}

void Pane::FillFileList(QString &strListFolder, const QString &strListExt)
{
    // When the folder cannot be made current, the current directory is still the folder listed
    // last, perhaps by the other pane: listing it would show another folder's files under this
    // pane's name. The list stays empty and strListFolder keeps naming the folder that failed.
    const bool bCurrent = !strListFolder.isEmpty() && QDir::setCurrent(strListFolder);
    if (bCurrent)
        strListFolder = QDir::currentPath();
    // Watched from before it is read: a change while it is read shows at the next listing.
    if (bCurrent && !strListExt.isEmpty())
        m_pWatcher->Watch(QFile::encodeName(strListFolder), FolderScan::EncodeSuffix(strListExt));
    else
        m_pWatcher->Watch({}, {});

    if (strListExt.isEmpty() || !bCurrent) {
        m_pModel->Clear();
        if (strListExt.isEmpty())
            return;
    } else {
        // The previous rows are let go while the folder is read, where freeing them costs no
        // time; so is the icon looked up.
        const QCollator collator = FileListModel::NameCollator();
        QIcon hIcon;
        FolderScan::Listing listing = FolderScan::ReadFolder(
            strListFolder, strListExt,
            nSortColumn == FileListModel::NameColumn ? &collator : nullptr, [&] {
                m_pModel->Clear();
                hIcon = FileIcons::ForExtension(strListExt);
            });
        m_pModel->SetFileIcon(hIcon);
        m_pModel->SetRows(std::move(listing.aRows), std::move(listing.aNameKeys));
    }

    SortFileList(nSortColumn);
    UpdateFileCount();
    UpdateSelectedCount();
    emit listed();
}

void Pane::UpdateFileCount()
{
    m_controls.pFileCount->setText(FormatCount(IDS_FILE_COUNT, m_pModel->rowCount()));
}

void Pane::UpdateSelectedCount()
{
    const qsizetype nSelected = SelectedRows().size();
    m_controls.pSelectedCount->setText(nSelected > 0 ? FormatCount(IDS_SELECTED_COUNT, nSelected)
                                                     : QString());
}

void Pane::SortFileList(int nColumn)
{
    if (nColumn < 0 || nColumn >= FileListModel::ColumnCount)
        return;
    const int nFlag = anSortDir[nColumn];
    m_pModel->Sort(nColumn, nFlag != 0);
    // Only the sorted column's flag means anything; clearing the others makes a click on another
    // column sort it ascending.
    for (int j = 0; j < FileListModel::ColumnCount; ++j) {
        if (j != nColumn)
            anSortDir[j] = 0;
    }
    if (auto *pHeader = qobject_cast<FileListHeader *>(m_controls.pList->header()))
        pHeader->SetArrow(nColumn, nFlag);
}

void Pane::SortByHeader(int nColumn)
{
    if (nColumn < 0 || nColumn >= FileListModel::ColumnCount)
        return;
    nSortColumn = nColumn;
    anSortDir[nColumn] = anSortDir[nColumn] ? 0 : 1;
    SortFileList(nSortColumn);
}

void Pane::ResetSort()
{
    nSortColumn = FileListModel::NameColumn;
    anSortDir[0] = 1;
    anSortDir[1] = 0;
    anSortDir[2] = 0;
}

void Pane::SetFolder(QString strPath)
{
    // The list still shows a refused folder's rows, while every file command would build its
    // paths from the next entry (or from the documents folder, when no entry is left): listing
    // that folder keeps the two in line.
    const bool bRefusedCurrent = !aHistory.isEmpty() && aHistory.first() == strPath;
    const bool bExists = TakeIntoHistory(aHistory, strPath);
    RefillFolderCombo(bExists || bRefusedCurrent);
}

void Pane::RefillFolderCombo(bool bList)
{
    // The rest of the window relies on an entry 0; the documents folder is what a first start
    // shows too.
    if (aHistory.isEmpty())
        aHistory.append(m_strDocumentsDir);
    QComboBox *pCombo = m_controls.pFolderCombo;
    pCombo->clear();
    for (const QString &strEntry : std::as_const(aHistory))
        pCombo->addItem(FolderDisplayName(strEntry, m_strDesktopDir, m_strDocumentsDir));
    // Whatever was typed into the field gives way to the current folder's name.
    ShowCurrentFolder();
    strFolder = aHistory.first();
    if (bList)
        FillFileList();
}

void Pane::ChooseHistoryEntry()
{
    const int k = m_controls.pFolderCombo->currentIndex();
    // Entry 0 is the folder already shown.
    if (k <= 0 || k >= aHistory.size())
        return;
    // A copy: choosing it rearranges the history.
    const QString strPath = aHistory.at(k);
    emit folderChosen(strPath);
}

void Pane::Browse()
{
    QString strPath;
    if (BrowseForFolder(m_pWindow, strFolder, strPath) == 1)
        emit folderChosen(strPath);
}

void Pane::ShowCurrentFolder()
{
    QComboBox *pCombo = m_controls.pFolderCombo;
    if (pCombo->count() == 0)
        return;
    pCombo->setCurrentIndex(0);
    pCombo->setEditText(pCombo->itemText(0));
}

void Pane::EnableFolderChoice(bool bEnable)
{
    m_controls.pFolderCombo->setEnabled(bEnable);
    m_controls.pBrowseButton->setEnabled(bEnable);
}

void Pane::OpenFirstSelected()
{
    const QList<int> aRows = SelectedRows();
    if (!aRows.isEmpty()) {
        const FileRow &row = m_pModel->Row(aRows.first());
        QString strPath = strFolder;
        JoinPath(strPath, row.strName);
        // The desktop says nothing when it cannot open a file, so the user is told here, and why.
        const Desktop::FileOpening opening
            = Desktop::Current().OpenFile(Platform::JoinRawPath(strFolder, row.RawName()));
        QString strReason;
        switch (opening.failure) {
        case Desktop::OpenFailure::None:
            break;
        case Desktop::OpenFailure::Missing:
            strReason = LoadString(IDS_OPEN_MISSING);
            break;
        case Desktop::OpenFailure::NoProgram: {
            // A drawing format is named as the program names it; any other file as the desktop
            // does.
            const QString strFormat
                = GetFormatDescription(QFileInfo(row.strName).suffix().toUpper());
            strReason = LoadString(IDS_OPEN_NO_PROGRAM)
                            .arg(strFormat.isEmpty() ? opening.strTypeName : strFormat,
                                 opening.strMimeType);
            break;
        }
        case Desktop::OpenFailure::NotStarted:
            strReason = LoadString(IDS_OPEN_NOT_STARTED);
            break;
        }
        if (!strReason.isEmpty())
            AfxMessageBox(LoadString(IDS_OPEN_FAILED).arg(strPath, strReason), QMessageBox::Ok,
                          QMessageBox::Warning, QMessageBox::NoButton, m_pWindow);
    }
    UpdateSelectedCount();
}

void Pane::ShowListMenu(const QPoint &ptPos)
{
    const bool bSource = m_side == Side::Source;
    const bool bSelected = !SelectedRows().isEmpty();
    QMenu menu(m_pWindow);
    menu.setObjectName(QString::number(bSource ? IDR_SRC_LIST_MENU : IDR_DST_LIST_MENU));
    const auto add = [&](int nId, const char *pszText) {
        QAction *pAction = menu.addAction(QString::fromUtf8(pszText));
        pAction->setObjectName(QString::number(nId));
        connect(pAction, &QAction::triggered, this, [this, nId] { emit commandChosen(nId); });
        return pAction;
    };
    QAction *pPreview = menu.addAction(LoadString(IDS_PREVIEW_MENU));
    const int nPreviewId = bSource ? ID_PREVIEW_SRC : ID_PREVIEW_DST;
    pPreview->setObjectName(QString::number(nPreviewId));
    pPreview->setEnabled(bSelected);
    connect(pPreview, &QAction::triggered, this,
            [this, nPreviewId] { emit commandChosen(nPreviewId); });
    menu.addSeparator();
    add(bSource ? ID_DELETE_SRC_FILES : ID_DELETE_DST_FILES, "ファイルを削除(&D)")
        ->setEnabled(bSelected);
    menu.addSeparator();
    add(bSource ? ID_SELECT_ALL_SRC : ID_SELECT_ALL_DST, "すべて選択(&A)")
        ->setEnabled(bSelected || m_pModel->rowCount() > 0);
    menu.addSeparator();
    add(bSource ? ID_REFRESH_SRC : ID_REFRESH_DST, "最新の情報に更新(&R)");
    menu.exec(m_controls.pList->viewport()->mapToGlobal(ptPos));
}

bool Pane::DeleteFiles(const QList<QByteArray> &aPaths)
{
    const QString strQuestion = aPaths.size() == 1
        ? u"'%1' をごみ箱に移動しますか？"_s.arg(
            Platform::DisplayFileName(aPaths.first().mid(aPaths.first().lastIndexOf('/') + 1)))
        : u"これらの %1 個のファイルをごみ箱に移動しますか？"_s.arg(aPaths.size());
    if (AfxMessageBox(strQuestion, QMessageBox::Yes | QMessageBox::No, QMessageBox::Question,
                      QMessageBox::No, m_pWindow)
        != QMessageBox::Yes)
        return false;

    const std::vector<Platform::TrashFailure> failures = Platform::MoveToTrash(aPaths);
    if (!failures.empty()) {
        QString strText = u"次のファイルをごみ箱に移動できませんでした。\n"_s;
        for (const Platform::TrashFailure &failure : failures)
            strText += u"\n%1\n    %2"_s.arg(failure.strPath, failure.strReason);
        AfxMessageBox(strText, QMessageBox::Ok, QMessageBox::Warning, QMessageBox::NoButton,
                      m_pWindow);
    }
    return true;
}

void Pane::DeleteSelected()
{
    // A list of paths, not one separated text: a name may hold any byte but "/". The bytes are
    // the folder's own, so that a name that is not UTF-8 never sends a look-alike to the trash.
    QList<QByteArray> aPaths;
    for (const int nRow : SelectedRows())
        aPaths.append(Platform::JoinRawPath(strFolder, m_pModel->Row(nRow).RawName()));
    if (!aPaths.isEmpty()) {
        DeleteFiles(aPaths);
        FillFileList();
    }
}

void Pane::SelectAll()
{
    // The count line follows through selectionChanged.
    m_controls.pList->selectAll();
}

void Pane::Refresh()
{
    FillFileList();
}

void Pane::HoldFollowing(bool bHold)
{
    m_pWatcher->Hold(bHold);
}

void Pane::FollowDisk()
{
    // Rows are known by their names as the folder holds them: a name that is not UTF-8 by its
    // bytes, any other by its text, which costs no conversion per row.
    QSet<QString> setNames;
    QSet<QByteArray> setRawNames;
    const QList<int> aSelected = SelectedRows();
    setNames.reserve(aSelected.size());
    for (const int nRow : aSelected) {
        const FileRow &row = m_pModel->Row(nRow);
        if (row.baRawName.isEmpty())
            setNames.insert(row.strName);
        else
            setRawNames.insert(row.baRawName);
    }
    const auto wasSelected = [&](const FileRow &row) {
        return row.baRawName.isEmpty() ? setNames.contains(row.strName)
                                       : setRawNames.contains(row.baRawName);
    };
    FileListView *pList = m_controls.pList;
    const QModelIndex current = pList->currentIndex();
    const FileRow currentRow = current.isValid() ? m_pModel->Row(current.row()) : FileRow();
    const int nScrolled = pList->verticalScrollBar()->value();

    FillFileList();

    QItemSelectionModel *pSelection = pList->selectionModel();
    QItemSelection selection;
    const int nRows = m_pModel->rowCount();
    bool bCurrentFound = currentRow.strName.isEmpty();
    int nRangeEnd = -1;
    for (int i = 0; i < nRows && (!bCurrentFound || !aSelected.isEmpty()); ++i) {
        const FileRow &row = m_pModel->Row(i);
        if (!bCurrentFound && row.strName == currentRow.strName
            && row.baRawName == currentRow.baRawName) {
            pSelection->setCurrentIndex(m_pModel->index(i, 0), QItemSelectionModel::NoUpdate);
            bCurrentFound = true;
        }
        // Neighbouring rows join one range, so that selecting many rows stays cheap.
        if (!aSelected.isEmpty() && i > nRangeEnd && wasSelected(row)) {
            nRangeEnd = i;
            while (nRangeEnd + 1 < nRows && wasSelected(m_pModel->Row(nRangeEnd + 1)))
                ++nRangeEnd;
            selection.select(m_pModel->index(i, 0),
                             m_pModel->index(nRangeEnd, FileListModel::ColumnCount - 1));
        }
    }
    if (!selection.isEmpty())
        pSelection->select(selection, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    pList->verticalScrollBar()->setValue(nScrolled);
}
