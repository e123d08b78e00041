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
#include <QFontMetrics>
#include <QHeaderView>
#include <QStyle>
#include <QTreeView>

namespace {

// Sizes up to 13 digits and the time to the minute are always shown in full.
const QString kWidestSize = QStringLiteral("d,ddd,ddd,ddd,ddd");
const QString kWidestTime = QStringLiteral("dddd/dd/dd dd:dd");

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

void CConverterDlg::OnDeleteSrcFiles()
{
    m_src.DeleteSelected();
}

void CConverterDlg::OnDeleteDstFiles()
{
    m_dst.DeleteSelected();
}

void CConverterDlg::OnSelectAllSrc()
{
    m_src.SelectAll();
}

void CConverterDlg::OnSelectAllDst()
{
    m_dst.SelectAll();
}

void CConverterDlg::OnRefreshSrc()
{
    m_src.Refresh();
}

void CConverterDlg::OnRefreshDst()
{
    m_dst.Refresh();
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
