#include "app/CConverterDlg.h"

#include "app/MessageBox.h"
#include "panes/BrowseForFolder.h"
#include "panes/CNewFolderDlg.h"
#include "panes/Paths.h"
#include "platform/System.h"
#include "res/Strings.h"

#include <QComboBox>
#include <QDir>

namespace {

constexpr int kMaxHistory = 10;

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

// Whether the rebuilt combo must list its new entry 0 after strPath was refused.
bool RefusedCurrentFolder(const QStringList &aHistoryBefore, const QString &strPath)
{
    // The list still shows the refused folder's rows, while every file command would build
    // its paths from the next entry (or from the documents folder, when no entry is left):
    // listing that folder keeps the two in line.
    return !aHistoryBefore.isEmpty() && aHistoryBefore.first() == strPath;
}

void RefillFolderCombo(CConverterDlg &dlg, QComboBox *pCombo, Pane &pane, int nSide, bool bList)
{
    // The rest of the window relies on an entry 0; the documents folder is what a first start
    // shows too.
    if (pane.aHistory.isEmpty())
        pane.aHistory.append(dlg.m_strMyDocumentsDir);
    pCombo->clear();
    for (const QString &strEntry : std::as_const(pane.aHistory))
        pCombo->addItem(dlg.FolderDisplayName(strEntry));
    pCombo->setCurrentIndex(0);
    // Whatever was typed into the field gives way to the current folder's name.
    pCombo->setEditText(pCombo->itemText(0));
    pane.strFolder = pane.aHistory.first();
    if (bList)
        dlg.FillFileList(pane.strFolder, pane.strExt, nSide);
}

// By value: the path may be an entry of the history that SetSrcFolder rearranges.
void ChooseSrcFolder(CConverterDlg &dlg, const QString strPath)
{
    dlg.SetSrcFolder(strPath);
    if (dlg.m_bSameFolder)
        dlg.SetDstFolder(strPath);
}

} // namespace

QString CConverterDlg::GetSpecialFolderPath(int nFolder) const
{
    // 0 is the desktop, 5 the personal documents folder.
    return Platform::SpecialFolderPath(nFolder == 0 ? Platform::SpecialFolder::Desktop
                                                    : Platform::SpecialFolder::Documents);
}

QString CConverterDlg::FolderDisplayName(const QString &strPath) const
{
    QString strName = strPath;
    // An empty special path would match between every two characters.
    if (!m_strMyDocumentsDir.isEmpty() && strName.contains(m_strMyDocumentsDir))
        strName.replace(m_strMyDocumentsDir, QStringLiteral("ﾏｲ ﾄﾞｷｭﾒﾝﾄ"));
    else if (!m_strDesktopDir.isEmpty())
        strName.replace(m_strDesktopDir, QStringLiteral("ﾃﾞｽｸﾄｯﾌﾟ"));
    return strName;
}

void CConverterDlg::SetSrcFolder(QString strPath)
{
    const bool bRefusedCurrent = RefusedCurrentFolder(m_src.aHistory, strPath);
    const bool bExists = TakeIntoHistory(m_src.aHistory, strPath);
    RefillSrcFolderCombo(bExists || bRefusedCurrent);
}

void CConverterDlg::SetDstFolder(QString strPath)
{
    const bool bRefusedCurrent = RefusedCurrentFolder(m_dst.aHistory, strPath);
    const bool bExists = TakeIntoHistory(m_dst.aHistory, strPath);
    RefillDstFolderCombo(bExists || bRefusedCurrent);
}

void CConverterDlg::RefillSrcFolderCombo(bool bList)
{
    RefillFolderCombo(*this, m_cbSrcFolder, m_src, 1, bList);
}

void CConverterDlg::RefillDstFolderCombo(bool bList)
{
    RefillFolderCombo(*this, m_cbDstFolder, m_dst, 2, bList);
}

void CConverterDlg::OnSelchangeSrcFolder()
{
    const int k = m_cbSrcFolder->currentIndex();
    // Entry 0 is the folder already shown.
    if (k <= 0 || k >= m_src.aHistory.size())
        return;
    ChooseSrcFolder(*this, m_src.aHistory.at(k));
}

void CConverterDlg::OnSelchangeDstFolder()
{
    const int k = m_cbDstFolder->currentIndex();
    if (k <= 0 || k >= m_dst.aHistory.size())
        return;
    SetDstFolder(m_dst.aHistory.at(k));
}

void CConverterDlg::OnBrowseSrcFolder()
{
    QString strPath;
    if (BrowseForFolder(this, m_src.strFolder, strPath) == 1)
        ChooseSrcFolder(*this, strPath);
}

void CConverterDlg::OnBrowseDstFolder()
{
    QString strPath;
    if (BrowseForFolder(this, m_dst.strFolder, strPath) == 1)
        SetDstFolder(strPath);
}

void CConverterDlg::OnTypedFolder(int nComboId, const QString &strFolder)
{
    // Taken literally: a display name typed back is not a path and is refused.
    if (nComboId == 1003)
        ChooseSrcFolder(*this, strFolder);
    else if (nComboId == 1007)
        SetDstFolder(strFolder);
}

void CConverterDlg::OnSameFolder()
{
    m_bSameFolder = !m_bSameFolder;
    ApplySameFolder(true);
}

void CConverterDlg::ApplySameFolder(bool bFollow)
{
    CheckToolButton(1018, m_bSameFolder);
    if (bFollow && m_bSameFolder && m_dst.strFolder != m_src.strFolder)
        SetDstFolder(m_src.strFolder);
    // While the target follows the source, nothing may move it elsewhere.
    m_cbDstFolder->setEnabled(!m_bSameFolder);
    if (QWidget *browse = GetDlgItem(1009))
        browse->setEnabled(!m_bSameFolder);
    EnableToolButton(1024, !m_bSameFolder);
}

void CConverterDlg::OnCreateFolder()
{
    CNewFolderDlg dlg(this);
    if (dlg.exec() != QDialog::Accepted)
        return;
    const auto fail = [this] {
        AfxMessageBox(LoadString(302), QMessageBox::Ok, QMessageBox::Warning, QMessageBox::NoButton,
                      this);
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
