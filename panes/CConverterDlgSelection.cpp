#include "app/CConverterDlg.h"

void CConverterDlg::OnColumnclickSrcList(int nColumn)
{
    m_src.nSortColumn = nColumn;
    m_src.anSortDir[nColumn] = m_src.anSortDir[nColumn] ? 0 : 1;
    SortFileList(m_src.nSortColumn, m_src.anSortDir, m_lcSrcFiles);
}

void CConverterDlg::OnColumnclickDstList(int nColumn)
{
    m_dst.nSortColumn = nColumn;
    m_dst.anSortDir[nColumn] = m_dst.anSortDir[nColumn] ? 0 : 1;
    SortFileList(m_dst.nSortColumn, m_dst.anSortDir, m_lcDstFiles);
}

void CConverterDlg::OnClickSrcList()
{
    UpdateConvertButton();
    UpdateSelectedCount(1);
}

void CConverterDlg::OnClickDstList()
{
    UpdateSelectedCount(2);
}

void CConverterDlg::OnSelectionChanged(int nSide)
{
    // The count line and Convert must tell the truth after keyboard selection too, not only
    // after the clicks that the lists report.
    if (nSide == 1)
        UpdateConvertButton();
    UpdateSelectedCount(nSide);
}
