#include "conversion/PreviewRenderer.h"

#include <QBuffer>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QPainter>
#include <QPdfDocument>
#include <QRegularExpression>
#include <QSvgRenderer>
#include <QThread>
#include <QWaitCondition>
#include <QXmlStreamReader>

#include <string_view>

namespace {

// A preview holds its file in memory; a file beyond this is no drawing anybody reads on screen.
constexpr qint64 kMaxFileBytes = 256 * 1024 * 1024;
// A picture beyond this many pixels is never asked for by a window on any screen.
constexpr qint64 kMaxPicturePixels = 64 * 1024 * 1024;

constexpr double kPointsPerMm = 72 / 25.4;

// The length of an SVG width or height in points, when its unit says how long it is on paper.
std::optional<double> PrintedLength(const QString &text)
{
    static const QRegularExpression re(QStringLiteral("^\\s*([0-9.]+(?:[eE][-+]?[0-9]+)?)\\s*"
                                                      "(mm|cm|in|pt|pc)\\s*$"));
    const QRegularExpressionMatch match = re.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    bool bOk = false;
    const double dValue = match.captured(1).toDouble(&bOk);
    if (!bOk || !(dValue > 0) || dValue > 1e7)
        return std::nullopt;
    const QString strUnit = match.captured(2);
    const double dPerUnit = strUnit == u"mm" ? kPointsPerMm
        : strUnit == u"cm"                   ? 10 * kPointsPerMm
        : strUnit == u"in"                   ? 72
        : strUnit == u"pc"                   ? 12
                                             : 1;
    return dValue * dPerUnit;
}

bool IsPdfSpace(char c)
{
    return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == '\0';
}

// The number at the end of text before nEnd, and where it begins; -1 when none is there.
qint64 NumberBefore(const QByteArray &text, qsizetype nEnd, qsizetype *pBegin)
{
    qsizetype nBegin = nEnd;
    while (nBegin > 0 && nEnd - nBegin < 10 && text.at(nBegin - 1) >= '0'
           && text.at(nBegin - 1) <= '9')
        --nBegin;
    *pBegin = nBegin;
    return nBegin == nEnd ? -1 : text.mid(nBegin, nEnd - nBegin).toLongLong();
}

// Whether the page tree leads back into itself, as far as its objects stand in the file
// uncompressed. The PDF library Qt brings walks such a tree for good, holding the drawing thread
// and every PDF after it.
bool HasPageTreeCycle(const QByteArray &pdf)
{
    QHash<qint64, QList<qint64>> kids;
    // Each object's body is looked at once: the scan goes on after its end.
    for (qsizetype nFrom = 0, nAt; (nAt = pdf.indexOf("obj", nFrom)) >= 0;) {
        nFrom = nAt + 3;
        // "12 0 obj": the object's number, its generation, the keyword.
        qsizetype nBegin = nAt;
        while (nBegin > 0 && IsPdfSpace(pdf.at(nBegin - 1)))
            --nBegin;
        if (nBegin == nAt || NumberBefore(pdf, nBegin, &nBegin) < 0)
            continue;
        while (nBegin > 0 && IsPdfSpace(pdf.at(nBegin - 1)))
            --nBegin;
        const qint64 nObject = NumberBefore(pdf, nBegin, &nBegin);
        if (nObject < 0)
            continue;
        const qsizetype nEnd = pdf.indexOf("endobj", nAt);
        if (nEnd < 0)
            break;
        nFrom = nEnd + 6;
        const std::string_view body(pdf.constData() + nAt, size_t(nEnd - nAt));
        const size_t nKids = body.find("/Kids");
        const size_t nOpen = nKids == body.npos ? body.npos : body.find('[', nKids);
        const size_t nClose = nOpen == body.npos ? body.npos : body.find(']', nOpen);
        if (nClose == body.npos)
            continue;
        // "3 0 R 4 0 R": every R follows its object's number and generation.
        const QByteArray array(body.data() + nOpen, qsizetype(nClose - nOpen));
        QList<qint64> &aKids = kids[nObject];
        aKids.clear();
        for (qsizetype nR = array.indexOf('R'); nR >= 0; nR = array.indexOf('R', nR + 1)) {
            qsizetype nNumber = nR;
            while (nNumber > 0 && IsPdfSpace(array.at(nNumber - 1)))
                --nNumber;
            if (NumberBefore(array, nNumber, &nNumber) < 0)
                continue;
            while (nNumber > 0 && IsPdfSpace(array.at(nNumber - 1)))
                --nNumber;
            const qint64 nKid = NumberBefore(array, nNumber, &nNumber);
            if (nKid >= 0)
                aKids.append(nKid);
        }
    }
    // Depth first from every node: a node met again while still on the path closes a cycle.
    enum Mark { OnPath = 1, Done = 2 };
    QHash<qint64, int> marks;
    for (auto it = kids.cbegin(); it != kids.cend(); ++it) {
        if (marks.value(it.key()))
            continue;
        QList<std::pair<qint64, qsizetype>> path {{it.key(), 0}};
        marks[it.key()] = OnPath;
        while (!path.isEmpty()) {
            auto &[nNode, nNext] = path.last();
            const QList<qint64> aNext = kids.value(nNode);
            if (nNext == aNext.size()) {
                marks[nNode] = Done;
                path.removeLast();
                continue;
            }
            const qint64 nKid = aNext.at(nNext++);
            const int nMark = marks.value(nKid);
            if (nMark == OnPath)
                return true;
            if (nMark == 0 && kids.contains(nKid)) {
                marks[nKid] = OnPath;
                path.append({nKid, 0});
            }
        }
    }
    return false;
}

} // namespace

// One page in memory, as its format's library reads it.
class PreviewRenderer::Document
{
public:
    // Empty, with the reason in pInfo, when the bytes are no page of kind.
    static std::unique_ptr<Document> Read(QByteArray baData, Kind kind, PageInfo *pInfo);

    QImage Draw(const QSize &scaled, const QRect &clip);

private:
    QByteArray m_baData;
    QBuffer m_buffer;
    std::unique_ptr<QPdfDocument> m_pPdf;
    std::unique_ptr<QSvgRenderer> m_pSvg;
};

std::unique_ptr<PreviewRenderer::Document>
PreviewRenderer::Document::Read(QByteArray baData, Kind kind, PageInfo *pInfo)
{
    auto pDoc = std::make_unique<Document>();
    if (kind == Kind::Pdf) {
        if (HasPageTreeCycle(baData)) {
            pInfo->strError = QStringLiteral("PDF のページの構成が壊れています。");
            return nullptr;
        }
        pDoc->m_baData = std::move(baData);
        pDoc->m_buffer.setData(pDoc->m_baData);
        pDoc->m_buffer.open(QIODevice::ReadOnly);
        pDoc->m_pPdf = std::make_unique<QPdfDocument>();
        // A buffer that holds the whole file is read at once: no event loop is needed.
        pDoc->m_pPdf->load(&pDoc->m_buffer);
        if (pDoc->m_pPdf->status() != QPdfDocument::Status::Ready
            || pDoc->m_pPdf->pageCount() < 1) {
            pInfo->strError = QStringLiteral("PDF として読み込めません。");
            return nullptr;
        }
        pInfo->size = pDoc->m_pPdf->pagePointSize(0);
        pInfo->bPrintedSize = true;
        // The drawing server names the scale in the document's information, which an update at
        // the end of the file adds: the last entry is the one in force.
        const qsizetype nAt = pDoc->m_baData.lastIndexOf("/NorvaleScale (");
        if (nAt >= 0) {
            static const QRegularExpression re(QStringLiteral("^\\(([0-9]{1,16}:[0-9]{1,16})\\)"));
            const QRegularExpressionMatch match
                = re.match(QString::fromLatin1(pDoc->m_baData.mid(nAt + 14, 40)));
            if (match.hasMatch())
                pInfo->strScale = match.captured(1);
        }
    } else {
        if (kind == Kind::Htm) {
            // Our HTML page carries its drawing as one inline SVG; HTML of any other making
            // (VML among it) holds none.
            const qsizetype nBegin = baData.indexOf("<svg");
            const qsizetype nEnd = baData.lastIndexOf("</svg>");
            if (nBegin < 0 || nEnd < nBegin) {
                pInfo->strError = QStringLiteral("このファイルには SVG の図がありません。");
                return nullptr;
            }
            baData = baData.mid(nBegin, nEnd + 6 - nBegin);
        }
        pDoc->m_pSvg = std::make_unique<QSvgRenderer>(baData);
        const QRectF rcView = pDoc->m_pSvg->viewBoxF();
        if (!pDoc->m_pSvg->isValid() || rcView.isEmpty()) {
            pInfo->strError = QStringLiteral("SVG として読み込めません。");
            return nullptr;
        }
        // The size on paper is the root's width and height in a unit of length; without them
        // the view box gives the proportions alone.
        pInfo->size = rcView.size();
        QXmlStreamReader xml(baData);
        while (!xml.atEnd() && xml.readNext() != QXmlStreamReader::StartElement) { }
        const std::optional<double> dWidth
            = PrintedLength(xml.attributes().value(QLatin1String("width")).toString());
        const std::optional<double> dHeight
            = PrintedLength(xml.attributes().value(QLatin1String("height")).toString());
        if (dWidth && dHeight) {
            pInfo->size = QSizeF(*dWidth, *dHeight);
            pInfo->bPrintedSize = true;
        }
    }
    return pDoc;
}

QImage PreviewRenderer::Document::Draw(const QSize &scaled, const QRect &clip)
{
    // On white, as on paper: neither format has to paint its page's ground.
    QImage image(clip.size(), QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    if (m_pPdf) {
        QPdfDocumentRenderOptions options;
        options.setScaledSize(scaled);
        options.setScaledClipRect(clip);
        painter.drawImage(0, 0, m_pPdf->render(0, clip.size(), options));
    } else {
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::TextAntialiasing);
        painter.translate(-clip.topLeft());
        m_pSvg->render(&painter, QRectF(QPointF(), QSizeF(scaled)));
    }
    return image;
}

// What the window's thread and the drawing thread share. The drawing thread holds it too, so that
// a file that keeps a library busy for good (a hostile PDF, say) cannot hold up the program's
// end: the thread is then left to finish on its own, with nobody to tell.
struct PreviewRenderer::State
{
    QMutex mutex;
    QWaitCondition wake;
    bool bStop = false;
    PreviewRenderer *pOwner = nullptr; // null once it is gone
    std::optional<LoadJob> load;
    std::optional<RenderJob> render[2];
};

PreviewRenderer::PreviewRenderer(QObject *pParent)
    : QObject(pParent)
    , m_pState(std::make_shared<State>())
{
    m_pState->pOwner = this;
    m_pThread = QThread::create([pState = m_pState] { Work(pState); });
    m_pThread->start(QThread::LowPriority);
}

PreviewRenderer::~PreviewRenderer()
{
    std::optional<LoadJob> unread;
    {
        QMutexLocker lock(&m_pState->mutex);
        m_pState->bStop = true;
        m_pState->pOwner = nullptr;
        unread.swap(m_pState->load);
        m_pState->wake.wakeAll();
    }
    if (unread && unread->bTemporary)
        QFile::remove(unread->strPath);
    constexpr int kStopWaitMs = 2000;
    if (m_pThread->wait(QDeadlineTimer(kStopWaitMs)))
        delete m_pThread;
    else
        connect(m_pThread, &QThread::finished, m_pThread, &QObject::deleteLater);
}

void PreviewRenderer::Load(int nSerial, Kind kind, const QString &strPath, bool bTemporary,
                           std::shared_ptr<const void> pKeep)
{
    std::optional<LoadJob> replaced;
    {
        QMutexLocker lock(&m_pState->mutex);
        replaced.swap(m_pState->load);
        m_pState->load = LoadJob {nSerial, kind, strPath, bTemporary, std::move(pKeep)};
        m_pState->wake.wakeAll();
    }
    if (replaced && replaced->bTemporary)
        QFile::remove(replaced->strPath);
}

void PreviewRenderer::Render(int nSerial, Layer layer, const QSize &scaled, const QRect &clip)
{
    const QRect rcPage(QPoint(), scaled);
    const QRect rcClip = clip & rcPage;
    if (rcClip.isEmpty() || qint64(rcClip.width()) * rcClip.height() > kMaxPicturePixels)
        return;
    QMutexLocker lock(&m_pState->mutex);
    m_pState->render[layer] = RenderJob {nSerial, scaled, rcClip};
    m_pState->wake.wakeAll();
}

void PreviewRenderer::Work(const std::shared_ptr<State> &pState)
{
    State &state = *pState;
    // Hands fn to the owner's thread, unless the owner is gone; under the lock, so that it
    // cannot go while the call is posted (its end drops what is posted to it).
    const auto post = [&state](auto fn) {
        QMutexLocker lock(&state.mutex);
        if (state.pOwner)
            QMetaObject::invokeMethod(
                state.pOwner, [pOwner = state.pOwner, fn] { fn(pOwner); }, Qt::QueuedConnection);
    };
    std::unique_ptr<Document> pDoc;
    int nDocSerial = 0;
    for (;;) {
        std::optional<LoadJob> load;
        std::optional<RenderJob> render;
        int nLayer = PageLayer;
        {
            QMutexLocker lock(&state.mutex);
            while (!state.bStop && !state.load && !state.render[PageLayer]
                   && !state.render[DetailLayer])
                state.wake.wait(&state.mutex);
            if (state.bStop)
                return;
            // A new page first: every picture asked for until then is of a page on its way out.
            if (state.load)
                load.swap(state.load);
            else if (state.render[PageLayer])
                render.swap(state.render[PageLayer]);
            else
                render.swap(state.render[(nLayer = DetailLayer)]);
        }
        if (load) {
            pDoc.reset();
            nDocSerial = load->nSerial;
            PageInfo info;
            QFile file(load->strPath);
            // A FIFO under a drawing's name would hold this thread for good.
            if (!QFileInfo(load->strPath).isFile())
                info.strError = QStringLiteral("通常のファイルではありません。");
            else if (!file.open(QIODevice::ReadOnly))
                info.strError = file.errorString();
            else if (file.size() > kMaxFileBytes)
                info.strError = QStringLiteral("ファイルが大きすぎます。");
            else
                pDoc = Document::Read(file.readAll(), load->kind, &info);
            file.close();
            if (load->bTemporary)
                file.remove();
            post([nSerial = load->nSerial, info](PreviewRenderer *pOwner) {
                emit pOwner->loaded(nSerial, info);
            });
        } else if (render && pDoc && render->nSerial == nDocSerial) {
            const QImage image = pDoc->Draw(render->scaled, render->clip);
            post([nSerial = render->nSerial, nLayer, image, scaled = render->scaled,
                  clip = render->clip](PreviewRenderer *pOwner) {
                emit pOwner->rendered(nSerial, nLayer, image, scaled, clip);
            });
        }
    }
}
