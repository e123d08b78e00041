#include "panes/FileListView.h"

#include <QMouseEvent>

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
