#pragma once

#include <QList>
#include <QTreeView>

// The file list of a pane. Besides the view's own signals, which only tell of clicks on a row, it
// tells of a click and a double click anywhere in it, the empty area below the rows included: the
// count line and the Convert button follow any click, and a double click opens the first selected
// file wherever it lands. When the list grows or shrinks with the window, the name column takes
// the difference: names are what a wider window is for, while size and time have their width.
class FileListView : public QTreeView
{
    Q_OBJECT

public:
    using QTreeView::QTreeView;

    // The width the columns share without a horizontal scroll bar: inside the frame, less a
    // vertical scroll bar whether one is shown or not, so that the columns stay put when it comes
    // and goes.
    int ColumnSpace() const;
    // Gives the columns these widths at the present column space.
    void SetColumnWidths(const QList<int> &anWidths);
    // The widths the columns would have at nSpace: only the name's differs.
    QList<int> ColumnWidthsAt(int nSpace) const;

signals:
    // A left click was released in the list; the selection has followed it.
    void listClicked();
    // A left double click in the list, reported once the selection has followed it.
    void listDoubleClicked();

protected:
    void mouseReleaseEvent(QMouseEvent *pEvent) override;
    void mouseDoubleClickEvent(QMouseEvent *pEvent) override;
    void resizeEvent(QResizeEvent *pEvent) override;

private:
    void OnSectionResized(int nColumn, int nOldSize, int nNewSize);
    void ApplyNameWidth();

    // The column space the widths belong to; -1 until they are first set.
    int m_nColumnSpace = -1;
    // The name column's width at that space. It may be narrower than the header allows, after
    // the list shrank, so that growing back gives the width it had.
    int m_nNameWidth = 0;
    bool m_bFitting = false;
};
