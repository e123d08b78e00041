#include "app/CConverterDlg.h"

#include "conversion/CAuthorDlg.h"
#include "formats/FormatTable.h"

#include <QComboBox>

void CConverterDlg::UpdateAuthorLine()
{
    // Older drawing programs take no author data: the line and the command stay as they are.
    if (m_nCadVersion < 600)
        return;
    QString strLine;
    bool bAvailable = false;
    const QString strExt = m_cbDstExt->currentText();
    for (int i = 0; i < int(std::size(g_aszAuthorExt)); ++i) {
        if (strExt != QLatin1String(g_aszAuthorExt[i]))
            continue;
        // The first two take a name and an affiliation; the mode is kept for other targets.
        m_bCadAuthorMode = i < 2;
        strLine = m_bCadAuthorMode ? m_strCadUserName + QLatin1Char('@') + m_strAffiliation
                                   : m_strAuthorName;
        bAvailable = true;
        break;
    }
    SetDlgItemText(IDC_AUTHOR_LINE, strLine);
    EnableToolButton(ID_AUTHOR_NAME, bAvailable);
}

void CConverterDlg::OnAuthorName()
{
    CAuthorDlg dlg(this);
    dlg.m_bAffiliation = m_bCadAuthorMode;
    dlg.m_strUser = m_strLogonName;
    dlg.m_strAuthor = m_bCadAuthorMode ? m_strCadUserName : m_strAuthorName;
    if (m_bCadAuthorMode)
        dlg.m_strAffil = m_strAffiliation;
    if (dlg.DoModal() != CAuthorDlg::IDOK)
        return;
    if (m_bCadAuthorMode) {
        m_strCadUserName = dlg.m_strAuthor;
        m_strAffiliation = dlg.m_strAffil;
    } else {
        m_strAuthorName = dlg.m_strAuthor;
    }
    UpdateAuthorLine();
}
