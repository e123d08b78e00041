#include "panes/FileListView.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QStyle>

int FileListView::ColumnSpace() const
{
    return contentsRect().width() - style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
}

void FileListView::SetColumnWidths(const QList<int> &anWidths)
{
    QHeaderView *pHeader = header();
    // The widths are exact; a stretched last column would override them.
    pHeader->setStretchLastSection(false);
    if (m_nColumnSpace < 0)
        connect(pHeader, &QHeaderView::sectionResized, this, &FileListView::OnSectionResized);
    m_nColumnSpace = ColumnSpace();
    m_bFitting = true;
    for (int i = 0; i < anWidths.size() && i < pHeader->count(); ++i)
        pHeader->resizeSection(i, anWidths.at(i));
    m_bFitting = false;
    m_nNameWidth = anWidths.value(0, pHeader->sectionSize(0));
    ApplyNameWidth();
}

QList<int> FileListView::ColumnWidthsAt(int nSpace) const
{
    QList<int> anWidths;
    const QHeaderView *pHeader = header();
    for (int i = 0; i < pHeader->count(); ++i)
        anWidths.append(pHeader->sectionSize(i));
    if (!anWidths.isEmpty() && m_nColumnSpace >= 0)
        anWidths[0] = m_nNameWidth + nSpace - m_nColumnSpace;
    return anWidths;
}

void FileListView::resizeEvent(QResizeEvent *pEvent)
{
    QTreeView::resizeEvent(pEvent);
    if (m_nColumnSpace < 0)
        return;
    const int nSpace = ColumnSpace();
    m_nNameWidth += nSpace - m_nColumnSpace;
    m_nColumnSpace = nSpace;
    ApplyNameWidth();
}

void FileListView::OnSectionResized(int nColumn, int, int nNewSize)
{
    // The user's own width is the name's width from now on.
    if (nColumn == 0 && !m_bFitting)
        m_nNameWidth = nNewSize;
}

void FileListView::ApplyNameWidth()
{
    m_bFitting = true;
    header()->resizeSection(0, qMax(m_nNameWidth, header()->minimumSectionSize()));
    m_bFitting = false;
}

void FileListView::mouseReleaseEvent(QMouseEvent *pEvent)
{
    const bool bLeft = pEvent->button() == Qt::LeftButton;
    QTreeView::mouseReleaseEvent(pEvent);
    if (bLeft)
        emit listClicked();
}

void FileListView::mouseDoubleClickEvent(QMouseEvent *pEvent)
{
    const bool bLeft = pEvent->button() == Qt::LeftButton;
    QTreeView::mouseDoubleClickEvent(pEvent);
    // Queued: whatever the rest of the double click does to the selection is done by then.
    if (bLeft)
        QMetaObject::invokeMethod(
            this, [this] { emit listDoubleClicked(); }, Qt::QueuedConnection);
}
