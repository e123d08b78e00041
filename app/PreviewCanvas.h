#pragma once

#include <QImage>
#include <QPointF>
#include <QRect>
#include <QSizeF>
#include <QString>
#include <QWidget>

#include <optional>

class PreviewRenderer;

// The page of the preview window on a grey ground: fitted to the window at first, zoomed with the
// wheel around the pointer, panned by dragging, fitted again by a double click. The picture
// comes from the renderer in two layers: the whole page at the fitted size, shown at once and
// scaled meanwhile, and, when zoomed in beyond it, the part in view drawn sharp at the zoom
// shown.
class PreviewCanvas : public QWidget
{
    Q_OBJECT

public:
    explicit PreviewCanvas(PreviewRenderer &renderer, QWidget *pParent = nullptr);

    // The page of nSerial, size in points: fitted, and its picture asked for.
    void SetPage(int nSerial, const QSizeF &size);
    // A text instead of a page.
    void SetMessage(const QString &strMessage);

    void Fit();
    // Zooms by dFactor keeping the point ptAt of the widget where it is.
    void ZoomBy(double dFactor, const QPointF &ptAt);
    void ZoomBy(double dFactor) { ZoomBy(dFactor, QRectF(rect()).center()); }

    // Widget pixels per point: how large the page is shown.
    double Scale() const { return m_dScale; }
    // The scale that fits the page to the widget.
    double FitScale() const;
    // The serial number of the page shown, and of the page whose picture has been painted (0
    // before any).
    int Serial() const { return m_nSerial; }
    int ShownSerial() const { return m_nShownSerial; }
    const QString &Message() const { return m_strMessage; }

signals:
    // The picture of the page of nSerial has been painted for the first time.
    void pictureShown(int nSerial);

protected:
    void paintEvent(QPaintEvent *pEvent) override;
    void resizeEvent(QResizeEvent *pEvent) override;
    void wheelEvent(QWheelEvent *pEvent) override;
    void mousePressEvent(QMouseEvent *pEvent) override;
    void mouseMoveEvent(QMouseEvent *pEvent) override;
    void mouseReleaseEvent(QMouseEvent *pEvent) override;
    void mouseDoubleClickEvent(QMouseEvent *pEvent) override;

private:
    struct Picture
    {
        QImage image;
        QSize scaled; // the page's size in the image's pixels
        QRect clip; // the part of that page the image holds
    };

    void OnRendered(int nSerial, int nLayer, const QImage &image, const QSize &scaled,
                    const QRect &clip);
    // Keeps the page within reach and asks for the pictures the zoom shown needs.
    void Changed();
    QRectF PageRect() const;
    // The page in pixels of a picture at the zoom shown.
    QSize ScaledPage() const;

    PreviewRenderer &m_renderer;
    int m_nSerial = 0;
    int m_nShownSerial = 0;
    QString m_strMessage;
    QSizeF m_sizePage; // points
    double m_dScale = 1;
    QPointF m_ptOrigin; // the page's top left corner in the widget
    bool m_bFitted = true; // follows the widget's size until zoomed or panned
    std::optional<QPointF> m_ptDrag;
    Picture m_page;
    Picture m_detail;
    // The picture of the page before, where it was, until the new page's picture comes.
    QImage m_imgStale;
    QRectF m_rcStale;
    QSize m_sizePageAsked;
    QSize m_sizeDetailAsked;
    QRect m_rcDetailAsked;
};
