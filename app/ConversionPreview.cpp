#include "app/ConversionPreview.h"

#include "conversion/ConversionEngine.h"
#include "panes/FileListModel.h"
#include "panes/Pane.h"
#include "platform/FileNames.h"

#include <QFile>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QThread>
#include <QTimer>

#include <tuple>
#include <utility>
#include <vector>

ConversionPreview::ConversionPreview(const Pane &src, const Pane &dst, QObject *pParent)
    : QObject(pParent)
    , m_src(src)
    , m_dst(dst)
    , m_pGeneration(std::make_shared<std::atomic<quint64>>(0))
{
    for (const Pane *pPane : {&src, &dst})
        connect(pPane->Model(), &QAbstractItemModel::modelReset, this, &ConversionPreview::Renew);
}

ConversionPreview::~ConversionPreview()
{
    ++*m_pGeneration;
    if (m_pWorker) {
        m_pWorker->wait();
        delete m_pWorker;
    }
}

void ConversionPreview::SetAutomatic(bool bAutomatic)
{
    m_bAutomatic = bAutomatic;
    Renew();
}

void ConversionPreview::Renew()
{
    ++*m_pGeneration;
    if (!m_bAutomatic || m_dst.strExt.isEmpty() || ListingKey() != m_strMarkedKey) {
        m_src.Model()->SetMarkedNames({}, QIcon());
        m_strMarkedKey.clear();
    }
    if (!m_bAutomatic || m_dst.strExt.isEmpty() || m_src.Model()->rowCount() == 0)
        return;
    // After the listing's own paint: the worker is started from the event loop, once however
    // many listings came in a row.
    if (!m_bStartPending) {
        m_bStartPending = true;
        QTimer::singleShot(0, this, &ConversionPreview::Start);
    }
}

void ConversionPreview::Start()
{
    m_bStartPending = false;
    if (m_pWorker) {
        // The running worker sees the new generation and stops; then the marks start again.
        if (m_pWorker->isRunning()) {
            m_bStartPending = true;
            return;
        }
        delete m_pWorker;
        m_pWorker = nullptr;
    }
    if (!m_bAutomatic || m_dst.strExt.isEmpty())
        return;

    const FileListModel *pModel = m_src.Model();
    // Names as the file system holds them, so that a name that is not UTF-8 finds its target.
    std::vector<std::tuple<QString, QByteArray, qint64>> aSources;
    aSources.reserve(size_t(pModel->rowCount()));
    for (int i = 0; i < pModel->rowCount(); ++i) {
        const FileRow &row = pModel->Row(i);
        aSources.emplace_back(row.strName, row.RawName(), row.nModified);
    }
    const quint64 nGeneration = *m_pGeneration;
    const QString strKey = ListingKey();
    const auto pGeneration = m_pGeneration;
    const QByteArray dstFolder = QFile::encodeName(m_dst.strFolder);
    const QString strExtLower = m_dst.strExt.toLower();
    m_pWorker = QThread::create([=, aSources = std::move(aSources)] {
        QSet<QString> setNames;
        // The run converts only the first drawing, in list order, of those with one target.
        QSet<QByteArray> setTargets;
        for (const auto &[strName, rawName, nModified] : aSources) {
            if (*pGeneration != nGeneration)
                return;
            const QByteArray targetName = ConversionEngine::TargetName(rawName, strExtLower);
            if (targetName.isEmpty() || setTargets.contains(targetName))
                continue;
            setTargets.insert(targetName);
            if (ConversionEngine::NeedsConversion(Platform::JoinRawPath(dstFolder, targetName),
                                                  nModified))
                setNames.insert(strName);
        }
        QMetaObject::invokeMethod(
            this, [this, nGeneration, strKey, setNames] { Apply(nGeneration, strKey, setNames); },
            Qt::QueuedConnection);
    });
    connect(m_pWorker, &QThread::finished, this, [this] {
        if (m_bStartPending)
            Start();
    });
    m_pWorker->start(QThread::LowPriority);
}

void ConversionPreview::Apply(quint64 nGeneration, const QString &strKey,
                              const QSet<QString> &setNames)
{
    if (nGeneration != *m_pGeneration)
        return;
    m_strMarkedKey = strKey;
    FileListModel *pModel = m_src.Model();
    pModel->SetMarkedNames(setNames, WithEmblem(pModel->FileIcon()));
    emit marksApplied(int(setNames.size()));
}

QString ConversionPreview::ListingKey() const
{
    return m_src.strFolder + u'\n' + m_src.strExt + u'\n' + m_dst.strFolder + u'\n' + m_dst.strExt;
}

QIcon ConversionPreview::WithEmblem(const QIcon &fileIcon)
{
    QIcon icon;
    for (const int nSize : {16, 24, 32}) {
        QPixmap pixmap = fileIcon.pixmap(nSize, nSize);
        if (pixmap.isNull()) {
            pixmap = QPixmap(nSize, nSize);
            pixmap.fill(Qt::transparent);
        }
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        // A green disc with a white arrow, bottom right: "will be converted".
        const qreal d = nSize * 0.55;
        const QRectF disc(nSize - d, nSize - d, d, d);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0x2e, 0x9e, 0x3e));
        painter.drawEllipse(disc);
        QPainterPath arrow;
        const QPointF c = disc.center();
        const qreal a = d * 0.28;
        arrow.moveTo(c.x() - a, c.y() - a * 0.45);
        arrow.lineTo(c.x(), c.y() - a * 0.45);
        arrow.lineTo(c.x(), c.y() - a);
        arrow.lineTo(c.x() + a, c.y());
        arrow.lineTo(c.x(), c.y() + a);
        arrow.lineTo(c.x(), c.y() + a * 0.45);
        arrow.lineTo(c.x() - a, c.y() + a * 0.45);
        arrow.closeSubpath();
        painter.setBrush(Qt::white);
        painter.drawPath(arrow);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}
