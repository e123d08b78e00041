#include "conversion/PreviewLoader.h"

#include "conversion/CTarskDocument.h"
#include "formats/FormatTable.h"
#include "platform/FileNames.h"
#include "res/Resource.h"
#include "res/Strings.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDir>
#include <QFile>

namespace {

QString ProgId()
{
    return QString::fromUtf16(CTarskDocument::kProgId);
}

} // namespace

// The request under way: the drawing being opened, then its PDF being saved.
struct PreviewLoader::Flight
{
    int nSerial;
    Item item;
    std::shared_ptr<Platform::Utf8PathBridge> pSource;
    QString strTarget; // empty while the drawing is being opened
    std::unique_ptr<QDBusPendingCallWatcher> pWatcher;
};

PreviewLoader::PreviewLoader(PreviewRenderer &renderer, QObject *pParent)
    : QObject(pParent)
    , m_renderer(renderer)
    , m_temp(QDir::tempPath() + QStringLiteral("/norvale-preview-XXXXXX"))
{ }

PreviewLoader::~PreviewLoader()
{
    Close();
}

void PreviewLoader::Close()
{
    m_pFlight.reset();
    m_pending.reset();
    // The drawing program sees its client leave and drops the drawing it kept for it.
    if (m_bus) {
        m_bus.reset();
        QDBusConnection::disconnectFromBus(m_strConnection);
    }
}

bool PreviewLoader::IsDrawingFormat(const QString &strExt)
{
    for (const char *pszExt : g_aszSrcExt) {
        if (strExt.compare(QLatin1String(pszExt), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

int PreviewLoader::Request(const Item &item)
{
    m_pending = std::make_pair(++m_nSerial, item);
    Pump();
    return m_nSerial;
}

void PreviewLoader::SetHeld(bool bHeld)
{
    m_bHeld = bHeld;
    Pump();
}

void PreviewLoader::Pump()
{
    while (!m_bHeld && !m_pFlight && m_pending) {
        const auto [nSerial, item] = *std::exchange(m_pending, std::nullopt);
        Start(nSerial, item);
    }
}

void PreviewLoader::Start(int nSerial, const Item &item)
{
    const QString strExt = item.strExt.toUpper();
    const bool bDrawing = IsDrawingFormat(strExt);
    std::optional<PreviewRenderer::Kind> kind;
    if (strExt == u"PDF")
        kind = PreviewRenderer::Kind::Pdf;
    else if (strExt == u"SVG")
        kind = PreviewRenderer::Kind::Svg;
    else if (strExt == u"HTM")
        kind = PreviewRenderer::Kind::Htm;
    if (!kind && !bDrawing) {
        Fail(nSerial, LoadString(IDS_PREVIEW_UNSUPPORTED).arg(strExt));
        return;
    }
    // Neither Qt nor D-Bus carries a name that is not UTF-8: such a file is reached through a
    // link with a name that is.
    auto pSource = std::make_shared<Platform::Utf8PathBridge>(item.baPath,
                                                              Platform::Utf8PathBridge::Use::Read);
    if (pSource->Path().isEmpty()) {
        Fail(nSerial, QStringLiteral("ファイル名を扱えませんでした。"));
        return;
    }
    if (kind) {
        m_renderer.Load(nSerial, *kind, pSource->Path(), false, pSource);
        return;
    }
    if (!m_temp.isValid()) {
        Fail(nSerial,
             QStringLiteral("一時フォルダーを作成できません。\n%1").arg(m_temp.errorString()));
        return;
    }
    if (!m_bus) {
        // A connection of the preview's own: the drawing program keeps one current drawing per
        // connection, and a run's must not be the one the preview opens.
        static int s_nConnections = 0;
        m_strConnection = QStringLiteral("norvale-preview-%1").arg(++s_nConnections);
        m_bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, m_strConnection);
    }
    m_pFlight.reset(new Flight {nSerial, item, std::move(pSource), QString(), nullptr});
    Send(QStringLiteral("Open"), m_pFlight->pSource->Path());
}

void PreviewLoader::Fail(int nSerial, const QString &strMessage)
{
    // Never from inside Request: its caller learns the serial number only when it returns.
    QMetaObject::invokeMethod(
        this, [this, nSerial, strMessage] { emit failed(nSerial, strMessage); },
        Qt::QueuedConnection);
}

void PreviewLoader::Send(const QString &strMethod, const QString &strArgument)
{
    QDBusMessage call = QDBusMessage::createMethodCall(ProgId(), QStringLiteral("/Tarsk/Document"),
                                                       ProgId(), strMethod);
    call << strArgument;
    // The bus starts the drawing program when it is not running, as for a run.
    m_pFlight->pWatcher = std::make_unique<QDBusPendingCallWatcher>(
        m_bus->asyncCall(call, CTarskDocument::kCallTimeoutMs));
    connect(m_pFlight->pWatcher.get(), &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher *pWatcher) { OnAnswer(pWatcher->reply()); });
}

void PreviewLoader::OnAnswer(const QDBusMessage &reply)
{
    // The watcher is deleted later: this runs inside its signal.
    std::unique_ptr<Flight> pFlight = std::move(m_pFlight);
    pFlight->pWatcher.release()->deleteLater();
    const bool bSaved = !pFlight->strTarget.isEmpty();
    const bool bFailed = reply.type() != QDBusMessage::ReplyMessage;
    // A newer request waits: what this one brings is of no use any more.
    if (m_pending) {
        if (bSaved)
            QFile::remove(pFlight->strTarget);
    } else if (bFailed) {
        if (bSaved)
            QFile::remove(pFlight->strTarget);
        const bool bNoProgram
            = reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown")
            || !m_bus->isConnected();
        emit failed(pFlight->nSerial,
                    bNoProgram ? LoadString(IDS_SERVER_UNAVAILABLE)
                               : CTarskDocument::DescribeError(reply));
    } else if (bSaved) {
        m_renderer.Load(pFlight->nSerial, PreviewRenderer::Kind::Pdf, pFlight->strTarget, true);
    } else if (m_bHeld) {
        // A run has the drawing program now; this drawing is opened again after it.
        m_pending = std::make_pair(pFlight->nSerial, pFlight->item);
    } else {
        pFlight->strTarget
            = m_temp.filePath(QStringLiteral("preview-%1.pdf").arg(pFlight->nSerial));
        m_pFlight = std::move(pFlight);
        Send(QStringLiteral("SaveAs"), m_pFlight->strTarget);
        return;
    }
    Pump();
}
