#pragma once

#include <QHeaderView>
#include <QIcon>

// The header of a file list: shows the sort arrow of the sorted column to the right of its text
// (up for ascending, down for descending) and no arrow on the other columns.
class FileListHeader : public QHeaderView
{
    Q_OBJECT

public:
    explicit FileListHeader(QWidget *parent = nullptr);

    // nImage: 1 the upward arrow (ascending), 0 the downward arrow (descending).
    void SetArrow(int nSection, int nImage);
    int ArrowSection() const { return m_nArrowSection; }
    int ArrowImage() const { return m_nArrowImage; }

protected:
    void paintSection(QPainter *painter, const QRect &rect, int logicalIndex) const override;

private:
    QIcon m_aArrows[2];
    int m_nArrowSection = -1;
    int m_nArrowImage = 0;
};
