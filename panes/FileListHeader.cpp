#include "panes/FileListHeader.h"

#include "res/Icons.h"
#include "res/Resource.h"

#include <QPainter>
#include <QStyleOptionHeader>

namespace {
constexpr int kArrowSize = 8;
constexpr int kGap = 4;
} // namespace

FileListHeader::FileListHeader(QWidget *parent)
    : QHeaderView(Qt::Horizontal, parent)
{
    m_aArrows[0] = QIcon(IconPath(IDB_SORT_ARROWS, 0));
    m_aArrows[1] = QIcon(IconPath(IDB_SORT_ARROWS, 1));
    setSectionsClickable(true);
    setSectionsMovable(false);
    setHighlightSections(false);
    setStretchLastSection(false);
}

void FileListHeader::SetArrow(int nSection, int nImage)
{
    m_nArrowSection = nSection;
    m_nArrowImage = nImage ? 1 : 0;
    viewport()->update();
}

void FileListHeader::paintSection(QPainter *painter, const QRect &rect, int logicalIndex) const
{
    if (!rect.isValid())
        return;
    QStyleOptionHeader option;
    initStyleOptionForIndex(&option, logicalIndex);
    option.rect = rect;
    const QString text = option.text;
    const bool right = option.textAlignment & Qt::AlignRight;
    option.text.clear();
    option.sortIndicator = QStyleOptionHeader::None;
    painter->save();
    style()->drawControl(QStyle::CE_Header, &option, painter, this);

    // The text keeps its alignment; the arrow stands to its right, so a right-aligned text
    // moves left to make room for it.
    const bool arrow = logicalIndex == m_nArrowSection;
    const int margin = style()->pixelMetric(QStyle::PM_HeaderMargin, &option, this);
    const int arrowRoom = arrow ? kGap + kArrowSize : 0;
    QRect textRect = rect.adjusted(margin, 0, -margin, 0);
    if (right)
        textRect.setRight(textRect.right() - arrowRoom);
    const QString shown = fontMetrics().elidedText(
        text, Qt::ElideRight, qMax(0, textRect.width() - (right ? 0 : arrowRoom)));
    painter->setClipRect(rect);
    painter->setPen(option.palette.color(QPalette::ButtonText));
    painter->drawText(textRect, int(option.textAlignment | Qt::AlignVCenter), shown);
    if (arrow) {
        const int textWidth = fontMetrics().horizontalAdvance(shown);
        const int left = right ? textRect.right() + 1 + kGap : textRect.left() + textWidth + kGap;
        const QRect arrowRect(left, rect.center().y() - kArrowSize / 2 + 1, kArrowSize, kArrowSize);
        m_aArrows[m_nArrowImage].paint(painter, arrowRect);
    }
    painter->restore();
}
