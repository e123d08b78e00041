#include "controls/CIconButton.h"

#include <QPainter>

CIconButton::CIconButton(QWidget *parent)
    : QWidget(parent)
{
    // Decoration only: no tab stop, and disabled so a click falls through to nothing.
    setFocusPolicy(Qt::NoFocus);
    setEnabled(false);
}

void CIconButton::SetIconSize()
{
    resize(kIconSize, kIconSize);
}

void CIconButton::SetIcon(const QIcon &hIcon)
{
    m_hIcon = hIcon;
    update();
}

QSize CIconButton::sizeHint() const
{
    return QSize(kIconSize, kIconSize);
}

void CIconButton::paintEvent(QPaintEvent *)
{
    if (m_hIcon.isNull())
        return;
    // Normal mode on purpose: the widget is disabled only to refuse input, and the greyed-out
    // pixmap Qt would pick for a disabled widget is not what the user should see.
    const QPixmap pixmap = m_hIcon.pixmap(QSize(kIconSize, kIconSize), devicePixelRatioF(),
                                          QIcon::Normal, QIcon::Off);
    if (pixmap.isNull())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawPixmap(QRect(0, 0, kIconSize, kIconSize), pixmap);
}
