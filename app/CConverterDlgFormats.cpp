#include "app/CConverterDlg.h"

#include "controls/CIconButton.h"
#include "formats/FormatTable.h"
#include "panes/FileListModel.h"
#include "platform/FileIcons.h"

#include <QComboBox>

QIcon CConverterDlg::GetExtIcon(const QString &strExt) const
{
    return FileIcons::ForExtension(strExt);
}

void CConverterDlg::UpdateSrcExt()
{
    m_src.strExt = m_cbSrcExt->itemText(m_src.nExtIndex);
    m_btnSrcIcon->SetIcon(GetExtIcon(m_src.strExt));
    SetDlgItemText(IDC_SRC_FORMAT, GetFormatDescription(m_src.strExt));
}

void CConverterDlg::UpdateDstExt()
{
    QString strDescription;
    if (m_dst.nExtIndex >= 0) {
        m_dst.strExt = m_cbDstExt->itemText(m_dst.nExtIndex);
        m_btnDstIcon->SetIcon(GetExtIcon(m_dst.strExt));
        strDescription = GetFormatDescription(m_dst.strExt);
    } else {
        m_dst.strExt.clear();
        m_btnDstIcon->SetIcon(m_hIconBlank);
    }
    SetDlgItemText(IDC_DST_FORMAT, strDescription);
}

void CConverterDlg::FillDstExtCombo(bool bReset)
{
    m_cbDstExt->clear();
    for (const FormatEntry &format : g_aFormats) {
        const QString strExt = QString::fromLatin1(format.szExt);
        if (format.bTarget && strExt != m_src.strExt)
            m_cbDstExt->addItem(strExt);
    }
    // A stored index beyond this list (a hand-edited settings file) means no target yet.
    if (bReset || m_dst.nExtIndex >= m_cbDstExt->count())
        m_dst.nExtIndex = -1;
    m_cbDstExt->setCurrentIndex(m_dst.nExtIndex);
    UpdateDstExt();
    UpdateAuthorLine();
}

void CConverterDlg::OnSelendokSrcExt()
{
    const int nIndex = m_cbSrcExt->currentIndex();
    if (nIndex == m_src.nExtIndex)
        return;
    m_src.nExtIndex = nIndex;
    UpdateSrcExt();
    FillDstExtCombo(true);
    m_src.FillFileList();
    // The target rows go, but its count lines keep their texts until it is listed again.
    m_dst.Model()->Clear();
    UpdateConvertButton();
}

void CConverterDlg::OnSelendokDstExt()
{
    const int nIndex = m_cbDstExt->currentIndex();
    if (nIndex == m_dst.nExtIndex)
        return;
    m_dst.nExtIndex = nIndex;
    UpdateDstExt();
    m_dst.FillFileList();
    UpdateConvertButton();
    UpdateAuthorLine();
}
