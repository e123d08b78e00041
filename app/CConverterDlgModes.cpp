#include "app/CConverterDlg.h"

#include "app/ConversionPreview.h"
#include "res/Strings.h"

#include <QItemSelectionModel>
#include <QTreeView>

void CConverterDlg::ShowMode()
{
    CheckToolButton(ID_AUTO_MODE, m_nMode == 0);
    CheckToolButton(ID_MANUAL_MODE, m_nMode == 1);
    SetDlgItemText(IDC_STATUS,
                   LoadString(m_nMode == 0 ? IDS_AUTO_MODE_STATUS : IDS_MANUAL_MODE_STATUS));
    // Not yet made when the settings first show the mode.
    if (m_pPreview)
        m_pPreview->SetAutomatic(m_nMode == 0);
}

void CConverterDlg::OnAutoMode()
{
    m_nMode = 0;
    ShowMode();
    UpdateConvertButton();
}

void CConverterDlg::OnManualMode()
{
    m_nMode = 1;
    ShowMode();
    UpdateConvertButton();
}

void CConverterDlg::UpdateConvertButton()
{
    bool bEnable = false;
    if (m_dst.nExtIndex < 0) {
        bEnable = false;
    } else if (m_nMode == 0) {
        bEnable = true;
    } else {
        const QItemSelectionModel *selection = m_lcSrcFiles->selectionModel();
        bEnable = selection && selection->hasSelection();
    }
    EnableToolButton(ID_CONVERT, bEnable);
}
