#include "controls/CPathLabel.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>

CPathLabel::CPathLabel(bool bPathEllipsis, QWidget *parent)
    : QWidget(parent)
    , m_bPathEllipsis(bPathEllipsis)
{ }

void CPathLabel::setText(const QString &text)
{
    // Repaint even for an unchanged text: callers use setText to refresh after the palette or the
    // font changed behind the label's back.
    m_strText = text;
    update();
}

QString CPathLabel::ElidePath(const QString &text, const QFontMetrics &fm, int width)
{
    if (fm.horizontalAdvance(text) <= width)
        return text;

    const QString dots = QStringLiteral("...");
    const qsizetype sep
        = std::max(text.lastIndexOf(QLatin1Char('/')), text.lastIndexOf(QLatin1Char('\\')));
    const QString tail = sep >= 0 ? text.mid(sep) : QString();
    // Without a separator, or when not even the file name fits, a path ellipsis has nothing
    // sensible to keep; the middle ellipsis still shows both ends and tells the user the text was
    // shortened, which a clipped or empty label would not.
    if (sep < 0 || fm.horizontalAdvance(dots + tail) > width)
        return fm.elidedText(text, Qt::ElideMiddle, width);

    const auto candidate = [&](qsizetype keep) {
        return text.left(keep) + dots + tail;
    };
    const auto fits = [&](qsizetype keep) {
        return fm.horizontalAdvance(candidate(keep)) <= width;
    };

    // The width grows with the kept start, so a binary search finds the longest start that fits
    // in O(log n) measurements instead of trimming one character per measurement.
    qsizetype lo = 0; // known to fit (checked above)
    qsizetype hi = sep; // the whole start plus the dots is wider than the text, which did not fit
    while (hi - lo > 1) {
        const qsizetype mid = lo + (hi - lo) / 2;
        if (fits(mid))
            lo = mid;
        else
            hi = mid;
    }
    qsizetype keep = lo;
    // Kerning can make the width not quite monotonic; make sure of the result, and never leave
    // half of a surrogate pair behind.
    while (keep > 0 && (text.at(keep - 1).isHighSurrogate() || !fits(keep)))
        --keep;
    return candidate(keep);
}

QString CPathLabel::DisplayText(int width) const
{
    const QFontMetrics fm = fontMetrics();
    if (m_bPathEllipsis)
        return ElidePath(m_strText, fm, width);
    return fm.elidedText(m_strText, Qt::ElideRight, width);
}

QSize CPathLabel::sizeHint() const
{
    const QFontMetrics fm = fontMetrics();
    return QSize(fm.horizontalAdvance(m_strText), fm.height());
}

void CPathLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Button));
    painter.setPen(palette().color(QPalette::WindowText));
    painter.setFont(font());
    // Drawing at a point rather than into a rectangle keeps '&' literal: no mnemonic handling and
    // no line breaking.
    painter.drawText(QPoint(0, painter.fontMetrics().ascent()), DisplayText(width()));
}
