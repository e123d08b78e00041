#pragma once

#include <QTreeView>

// The file list of a pane. Besides the view's own signals, which only tell of clicks on a row, it
// tells of a click and a double click anywhere in it, the empty area below the rows included: the
// count line and the Convert button follow any click, and a double click opens the first selected
// file wherever it lands.
class FileListView : public QTreeView
{
    Q_OBJECT

public:
    using QTreeView::QTreeView;

signals:
    // A left click was released in the list; the selection has followed it.
    void listClicked();
    // A left double click in the list, reported once the selection has followed it.
    void listDoubleClicked();

protected:
    void mouseReleaseEvent(QMouseEvent *pEvent) override;
    void mouseDoubleClickEvent(QMouseEvent *pEvent) override;
};
