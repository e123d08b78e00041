#include "app/CConverterDlg.h"

#include "controls/MessageBox.h"
#include "panes/CNewFolderDlg.h"
#include "panes/FileListHeader.h"
#include "panes/FileListModel.h"
#include "panes/Paths.h"
#include "platform/System.h"
#include "res/Strings.h"

#include <QComboBox>
#include <QDir>

#include <algorithm>

namespace {
// The designed widths of the name and size columns, in pixels.
constexpr int kNameWidth = 120;
constexpr int kSizeWidth = 60;
} // namespace

void CConverterDlg::ConnectPane(Pane &pane)
{
    const bool bSource = pane.GetSide() == Side::Source;
    connect(&pane, &Pane::folderChosen, this,
            [this, &pane](const QString &strPath) { ChooseFolder(pane, strPath); });
    connect(&pane, &Pane::commandChosen, this, &CConverterDlg::OnCommand);
    connect(&pane, &Pane::selectionChanged, this, [this, &pane] { OnPreviewSelection(pane); });
    if (bSource) {
        // Manual mode converts the selection, so Convert follows it and every new listing.
        connect(&pane, &Pane::selectionChanged, this, &CConverterDlg::UpdateConvertButton);
        connect(&pane, &Pane::listed, this, &CConverterDlg::UpdateConvertButton);
    }
}

void CConverterDlg::ChooseFolder(Pane &pane, const QString strPath)
{
    pane.SetFolder(strPath);
    // The target follows every folder the source is moved to.
    if (&pane == &m_src && m_bSameFolder)
        m_dst.SetFolder(strPath);
}

void CConverterDlg::InitListColumns()
{
    // The designed widths belong to the designed size, which the window still has here: name 120
    // and size 60 pixels, the time the rest of the source list, less a vertical scroll bar. Both
    // lists have the same size then. A side whose widths the user changed gets them back, as
    // they were at this size.
    m_nTemplateColumnSpace = m_lcSrcFiles->ColumnSpace();
    const QList<int> anDesigned
        = {kNameWidth, kSizeWidth, m_nTemplateColumnSpace - kNameWidth - kSizeWidth};
    for (Pane *pPane : {&m_src, &m_dst}) {
        const int *anStored = pPane->anColumnWidth;
        const bool bStored = std::all_of(anStored, anStored + FileListModel::ColumnCount,
                                         [](int nWidth) { return nWidth > 0; });
        pPane->GetControls().pList->SetColumnWidths(
            bStored ? QList<int>(anStored, anStored + FileListModel::ColumnCount) : anDesigned);
    }
    m_src.ResetSort();
    m_dst.ResetSort();
}

void CConverterDlg::FillFileList(QString &strFolder, QString strExt, int nSide)
{
    (nSide == 1 ? m_src : m_dst).FillFileList(strFolder, strExt);
}

void CConverterDlg::OnColumnclickSrcList(int nColumn)
{
    m_src.SortByHeader(nColumn);
}

void CConverterDlg::OnColumnclickDstList(int nColumn)
{
    m_dst.SortByHeader(nColumn);
}

void CConverterDlg::OnClickSrcList()
{
    UpdateConvertButton();
    m_src.UpdateSelectedCount();
}

void CConverterDlg::OnClickDstList()
{
    m_dst.UpdateSelectedCount();
}

void CConverterDlg::OnDblclkSrcList()
{
    m_src.OpenFirstSelected();
}

void CConverterDlg::OnDblclkDstList()
{
    m_dst.OpenFirstSelected();
}

void CConverterDlg::OnRclickSrcList(const QPoint &ptPos)
{
    m_src.ShowListMenu(ptPos);
}

void CConverterDlg::OnRclickDstList(const QPoint &ptPos)
{
    m_dst.ShowListMenu(ptPos);
}

// Convert is worked out again after every command of a list's menu, whatever it changed.
void CConverterDlg::OnDeleteSrcFiles()
{
    m_src.DeleteSelected();
    UpdateConvertButton();
}

void CConverterDlg::OnDeleteDstFiles()
{
    m_dst.DeleteSelected();
    UpdateConvertButton();
}

void CConverterDlg::OnSelectAllSrc()
{
    m_src.SelectAll();
    UpdateConvertButton();
}

void CConverterDlg::OnSelectAllDst()
{
    m_dst.SelectAll();
    UpdateConvertButton();
}

void CConverterDlg::OnRefreshSrc()
{
    m_src.Refresh();
    UpdateConvertButton();
}

void CConverterDlg::OnRefreshDst()
{
    m_dst.Refresh();
    UpdateConvertButton();
}

QString CConverterDlg::GetSpecialFolderPath(int nFolder) const
{
    return Platform::SpecialFolderPath(nFolder == CSIDL_DESKTOP
                                           ? Platform::SpecialFolder::Desktop
                                           : Platform::SpecialFolder::Documents);
}

QString CConverterDlg::FolderDisplayName(const QString &strPath) const
{
    return ::FolderDisplayName(strPath, m_strDesktopDir, m_strMyDocumentsDir);
}

void CConverterDlg::SetSrcFolder(QString strPath)
{
    m_src.SetFolder(strPath);
}

void CConverterDlg::SetDstFolder(QString strPath)
{
    m_dst.SetFolder(strPath);
}

void CConverterDlg::OnSelchangeSrcFolder()
{
    m_src.ChooseHistoryEntry();
}

void CConverterDlg::OnSelchangeDstFolder()
{
    m_dst.ChooseHistoryEntry();
}

void CConverterDlg::OnBrowseSrcFolder()
{
    m_src.Browse();
}

void CConverterDlg::OnBrowseDstFolder()
{
    m_dst.Browse();
}

void CConverterDlg::OnEditchangeSrcFolder()
{
    m_nEditFolderId = IDC_SRC_FOLDER;
}

void CConverterDlg::OnEditchangeDstFolder()
{
    m_nEditFolderId = IDC_DST_FOLDER;
}

void CConverterDlg::OnKillfocusSrcFolder()
{
    m_nEditFolderId = 0;
    m_src.ShowCurrentFolder();
}

void CConverterDlg::OnKillfocusDstFolder()
{
    m_nEditFolderId = 0;
    m_dst.ShowCurrentFolder();
}

void CConverterDlg::OnTypedFolder(int nComboId, const QString &strFolder)
{
    // Taken literally: a display name typed back is not a path and is refused.
    if (nComboId == IDC_SRC_FOLDER)
        ChooseFolder(m_src, strFolder);
    else if (nComboId == IDC_DST_FOLDER)
        ChooseFolder(m_dst, strFolder);
}

void CConverterDlg::OnSameFolder()
{
    m_bSameFolder = !m_bSameFolder;
    ApplySameFolder(true);
}

void CConverterDlg::ApplySameFolder(bool bFollow)
{
    CheckToolButton(ID_SAME_FOLDER, m_bSameFolder);
    if (bFollow && m_bSameFolder && m_dst.strFolder != m_src.strFolder)
        SetDstFolder(m_src.strFolder);
    // While the target follows the source, nothing may move it elsewhere.
    m_dst.EnableFolderChoice(!m_bSameFolder);
    EnableToolButton(ID_CREATE_FOLDER, !m_bSameFolder);
}

void CConverterDlg::OnCreateFolder()
{
    CNewFolderDlg dlg(this);
    if (dlg.exec() != QDialog::Accepted)
        return;
    const auto fail = [this] {
        AfxMessageBox(LoadString(IDS_CREATE_FOLDER_FAILED), QMessageBox::Ok, QMessageBox::Warning,
                      QMessageBox::NoButton, this);
    };
    // A "/" would make a path below the target folder, not one new folder inside it.
    if (dlg.m_strName.contains(QLatin1Char('/'))) {
        fail();
        return;
    }
    QString strPath = m_dst.strFolder;
    JoinPath(strPath, dlg.m_strName);
    if (!QDir().mkdir(strPath)) {
        fail();
        return;
    }
    SetDstFolder(strPath);
}
