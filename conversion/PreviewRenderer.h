#pragma once

#include <QImage>
#include <QObject>
#include <QRect>
#include <QSizeF>
#include <QString>

#include <memory>
#include <optional>

class QThread;

// Reads and draws the page a preview shows, on a thread of its own, so that neither a large file
// nor a deep zoom holds up the windows. It holds one document at a time, the one loaded last;
// of the pictures asked for, only the latest of each layer is drawn, so that a burst of wheel
// turns costs one picture rather than one per turn.
class PreviewRenderer : public QObject
{
    Q_OBJECT

public:
    enum class Kind { Pdf, Svg, Htm };
    // The whole page, drawn once at the size that fits the window; and the part in view, drawn
    // again at each zoom beyond that size.
    enum Layer { PageLayer = 0, DetailLayer = 1 };

    struct PageInfo
    {
        QSizeF size; // in points (1/72 inch); its proportions at least
        bool bPrintedSize = false; // size is the size on paper, not only the proportions
        QString strScale; // the drawing's scale on the page, "1:50"; empty when not known
        QString strError; // why the file cannot be shown; empty when it can
    };

    explicit PreviewRenderer(QObject *pParent = nullptr);
    ~PreviewRenderer() override;

    // Reads the file strPath as kind and makes it the page of nSerial, in place of any load not
    // begun yet. A bTemporary file is removed once read, or when a newer load replaces it unread.
    // pKeep lives until the file is read: whatever gives the file the name strPath.
    void Load(int nSerial, Kind kind, const QString &strPath, bool bTemporary,
              std::shared_ptr<const void> pKeep = {});
    // Draws the part clip of the page of nSerial drawn at the size scaled, both in pixels of the
    // picture, in place of any picture of the same layer not begun yet.
    void Render(int nSerial, Layer layer, const QSize &scaled, const QRect &clip);

signals:
    void loaded(int nSerial, const PreviewRenderer::PageInfo &info);
    void rendered(int nSerial, int nLayer, const QImage &image, const QSize &scaled,
                  const QRect &clip);

private:
    struct LoadJob
    {
        int nSerial;
        Kind kind;
        QString strPath;
        bool bTemporary;
        std::shared_ptr<const void> pKeep;
    };
    struct RenderJob
    {
        int nSerial;
        QSize scaled;
        QRect clip;
    };
    class Document;
    struct State;

    static void Work(const std::shared_ptr<State> &pState);

    std::shared_ptr<State> m_pState;
    QThread *m_pThread = nullptr;
};
