#include "app/PreviewCanvas.h"

#include "conversion/PreviewRenderer.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <cmath>

namespace {

constexpr double kMargin = 12; // pixels around a fitted page
constexpr double kMinZoom = 0.25; // of the fitted size
constexpr double kMaxZoom = 64; // of the fitted size
// The page's long side in picture pixels at the deepest zoom: beyond it the numbers the PDF
// library draws with lose their precision.
constexpr double kMaxPageSide = 100000;
// Pixels of the page that panning always leaves in view, so that it cannot be lost.
constexpr double kKeepInView = 48;
// The part in view is drawn with this much of the window around it on each side, so that a
// short pan shows sharp lines at once.
constexpr double kDetailMargin = 0.25;
const QColor kGround(0x80, 0x80, 0x80);

} // namespace

PreviewCanvas::PreviewCanvas(PreviewRenderer &renderer, QWidget *pParent)
    : QWidget(pParent)
    , m_renderer(renderer)
{
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(160, 120);
    connect(&m_renderer, &PreviewRenderer::rendered, this, &PreviewCanvas::OnRendered);
}

void PreviewCanvas::SetPage(int nSerial, const QSizeF &size)
{
    // What was shown stays until the new page's picture comes, rather than a blank page between
    // two drawings while the arrow keys move through a list.
    if (!m_page.image.isNull()) {
        m_imgStale = m_page.image;
        m_rcStale = PageRect();
    }
    m_nSerial = nSerial;
    m_strMessage.clear();
    m_sizePage = size.isValid() && !size.isEmpty() ? size : QSizeF(595, 842);
    m_page = {};
    m_detail = {};
    m_sizePageAsked = QSize();
    m_sizeDetailAsked = QSize();
    m_rcDetailAsked = QRect();
    setCursor(Qt::OpenHandCursor);
    Fit();
}

void PreviewCanvas::SetMessage(const QString &strMessage)
{
    m_strMessage = strMessage;
    m_sizePage = QSizeF();
    m_page = {};
    m_detail = {};
    m_imgStale = QImage();
    unsetCursor();
    update();
}

double PreviewCanvas::FitScale() const
{
    if (m_sizePage.isEmpty())
        return 1;
    const double dWidth = qMax(1.0, width() - 2 * kMargin);
    const double dHeight = qMax(1.0, height() - 2 * kMargin);
    return qMin(dWidth / m_sizePage.width(), dHeight / m_sizePage.height());
}

void PreviewCanvas::Fit()
{
    m_dScale = FitScale();
    m_ptOrigin
        = QRectF(rect()).center() - QPointF(m_sizePage.width(), m_sizePage.height()) * m_dScale / 2;
    m_bFitted = true;
    Changed();
}

void PreviewCanvas::ZoomBy(double dFactor, const QPointF &ptAt)
{
    if (m_sizePage.isEmpty() || !(dFactor > 0))
        return;
    const double dFit = FitScale();
    const double dLongest = qMax(m_sizePage.width(), m_sizePage.height()) * devicePixelRatioF();
    const double dMax = qMax(dFit, qMin(dFit * kMaxZoom, kMaxPageSide / dLongest));
    const double dScale = qBound(dFit * kMinZoom, m_dScale * dFactor, dMax);
    m_ptOrigin = ptAt - (ptAt - m_ptOrigin) * (dScale / m_dScale);
    m_dScale = dScale;
    m_bFitted = false;
    Changed();
}

QRectF PreviewCanvas::PageRect() const
{
    return QRectF(m_ptOrigin, m_sizePage * m_dScale);
}

QSize PreviewCanvas::ScaledPage() const
{
    return (m_sizePage * m_dScale * devicePixelRatioF()).toSize().expandedTo(QSize(1, 1));
}

void PreviewCanvas::Changed()
{
    if (m_sizePage.isEmpty()) {
        update();
        return;
    }
    const QSizeF sizeShown = m_sizePage * m_dScale;
    const double dKeepX = qMin(kKeepInView, sizeShown.width());
    const double dKeepY = qMin(kKeepInView, sizeShown.height());
    m_ptOrigin.setX(qBound(dKeepX - sizeShown.width(), m_ptOrigin.x(), width() - dKeepX));
    m_ptOrigin.setY(qBound(dKeepY - sizeShown.height(), m_ptOrigin.y(), height() - dKeepY));

    const double dRatio = devicePixelRatioF();
    const QSize sizeFitted = (m_sizePage * FitScale() * dRatio).toSize().expandedTo(QSize(1, 1));
    if (sizeFitted != m_sizePageAsked) {
        m_sizePageAsked = sizeFitted;
        m_renderer.Render(m_nSerial, PreviewRenderer::PageLayer, sizeFitted,
                          QRect(QPoint(), sizeFitted));
    }
    const QSize sizeScaled = ScaledPage();
    if (sizeScaled.width() > sizeFitted.width() * 1.05) {
        const QRect rcPage(QPoint(), sizeScaled);
        const QRectF rcView(-m_ptOrigin * dRatio, QSizeF(size()) * dRatio);
        const QRect rcVisible = rcView.toAlignedRect() & rcPage;
        if (sizeScaled != m_sizeDetailAsked || !m_rcDetailAsked.contains(rcVisible)) {
            const QRect rcWanted
                = rcView
                      .adjusted(-rcView.width() * kDetailMargin, -rcView.height() * kDetailMargin,
                                rcView.width() * kDetailMargin, rcView.height() * kDetailMargin)
                      .toAlignedRect()
                & rcPage;
            m_sizeDetailAsked = sizeScaled;
            m_rcDetailAsked = rcWanted;
            m_renderer.Render(m_nSerial, PreviewRenderer::DetailLayer, sizeScaled, rcWanted);
        }
    }
    update();
}

void PreviewCanvas::OnRendered(int nSerial, int nLayer, const QImage &image, const QSize &scaled,
                               const QRect &clip)
{
    if (nSerial != m_nSerial || m_sizePage.isEmpty())
        return;
    if (nLayer == PreviewRenderer::PageLayer) {
        m_page = {image, scaled, clip};
        m_imgStale = QImage();
    } else {
        m_detail = {image, scaled, clip};
    }
    update();
}

void PreviewCanvas::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), kGround);
    if (!m_strMessage.isEmpty()) {
        painter.setPen(Qt::white);
        painter.drawText(rect().adjusted(16, 16, -16, -16), Qt::AlignCenter | Qt::TextWordWrap,
                         m_strMessage);
        return;
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    if (m_page.image.isNull() && !m_imgStale.isNull()) {
        painter.drawImage(m_rcStale, m_imgStale);
        return;
    }
    if (m_sizePage.isEmpty())
        return;
    const QRectF rcPage = PageRect();
    painter.fillRect(rcPage.translated(2, 2), QColor(0, 0, 0, 80));
    painter.fillRect(rcPage, Qt::white);
    if (m_page.image.isNull())
        return;
    painter.drawImage(rcPage, m_page.image);
    if (!m_detail.image.isNull() && m_detail.scaled == ScaledPage()) {
        const double dRatio = devicePixelRatioF();
        painter.drawImage(QRectF(m_ptOrigin + QPointF(m_detail.clip.topLeft()) / dRatio,
                                 QSizeF(m_detail.clip.size()) / dRatio),
                          m_detail.image);
    }
    if (m_nShownSerial != m_nSerial) {
        m_nShownSerial = m_nSerial;
        emit pictureShown(m_nSerial);
    }
}

void PreviewCanvas::resizeEvent(QResizeEvent *)
{
    if (m_bFitted)
        Fit();
    else
        Changed();
}

void PreviewCanvas::wheelEvent(QWheelEvent *pEvent)
{
    // One notch of a wheel is 120; touchpads send fractions of it.
    const double dNotches = pEvent->angleDelta().y() / 120.0;
    if (dNotches != 0)
        ZoomBy(std::pow(1.25, dNotches), pEvent->position());
    pEvent->accept();
}

void PreviewCanvas::mousePressEvent(QMouseEvent *pEvent)
{
    if (pEvent->button() != Qt::LeftButton || m_sizePage.isEmpty())
        return QWidget::mousePressEvent(pEvent);
    m_ptDrag = pEvent->position();
    setCursor(Qt::ClosedHandCursor);
}

void PreviewCanvas::mouseMoveEvent(QMouseEvent *pEvent)
{
    if (!m_ptDrag)
        return QWidget::mouseMoveEvent(pEvent);
    m_ptOrigin += pEvent->position() - *m_ptDrag;
    m_ptDrag = pEvent->position();
    m_bFitted = false;
    Changed();
}

void PreviewCanvas::mouseReleaseEvent(QMouseEvent *pEvent)
{
    if (pEvent->button() != Qt::LeftButton || !m_ptDrag)
        return QWidget::mouseReleaseEvent(pEvent);
    m_ptDrag.reset();
    setCursor(Qt::OpenHandCursor);
}

void PreviewCanvas::mouseDoubleClickEvent(QMouseEvent *pEvent)
{
    if (pEvent->button() == Qt::LeftButton)
        Fit();
}
