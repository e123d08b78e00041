#include "conversion/CTarskDocument.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QEventLoop>

namespace {

QString ProgId()
{
    return QString::fromUtf16(CTarskDocument::kProgId);
}

} // namespace

QString CTarskDocument::DescribeError(const QDBusMessage &reply)
{
    // The bus's own texts for a lost server or bus are English and say little to the user; a
    // Japanese sentence that says what happened comes first, the raw text after it.
    const QString strName = reply.errorName();
    const QString strMessage = reply.errorMessage();
    // A server may fail without a message; its error name still tells the user something.
    const QString strRaw = strMessage.isEmpty() ? strName : strMessage;
    QString strSentence;
    if (strName == QLatin1String("org.freedesktop.DBus.Error.Disconnected"))
        strSentence = QStringLiteral("セッション バスへの接続が切れました。");
    else if (strName == QLatin1String("org.freedesktop.DBus.Error.NoReply")
             && strMessage.contains(QLatin1String("disconnected")))
        strSentence = QStringLiteral("描画プログラムが応答せずに終了しました。");
    else if (strName == QLatin1String("org.freedesktop.DBus.Error.NoReply")
             || strName == QLatin1String("org.freedesktop.DBus.Error.Timeout"))
        strSentence = QStringLiteral("描画プログラムが時間内に応答しませんでした。");
    return strSentence.isEmpty() ? strRaw : strSentence + u'\n' + strRaw;
}

QDBusMessage CTarskDocument::CallWithGui(const QDBusConnection &bus, const QDBusMessage &message,
                                         int nTimeoutMs)
{
    // Not QDBus::BlockWithGui: in the Qt this is built with, a reply that lands between its check
    // and its hooking up the wake-up is never noticed, and the run waits out the whole timeout
    // for a drawing that was long converted. A watcher learns of an early reply under the call's
    // own lock, and its notice can only be taken once the loop runs.
    const QDBusPendingCall pending = bus.asyncCall(message, nTimeoutMs);
    QDBusPendingCallWatcher watcher(pending);
    if (!watcher.isFinished()) {
        QEventLoop loop;
        QObject::connect(&watcher, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
        loop.exec(QEventLoop::ExcludeUserInputEvents | QEventLoop::WaitForMoreEvents);
    }
    return watcher.reply();
}

CAutomationError::CAutomationError(const QString &strDescription)
    : m_strDescription(strDescription)
    , m_baWhat(strDescription.toUtf8())
{ }

CTarskDocument::CTarskDocument(std::optional<QDBusConnection> bus)
    : m_bus(std::move(bus))
{ }

CTarskDocument::~CTarskDocument()
{
    ReleaseDispatch();
}

bool CTarskDocument::CreateDispatch()
{
    ReleaseDispatch();
    QDBusConnection bus = m_bus ? *m_bus : QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    const auto askBus = [this, &bus](const QString &strMethod) {
        QDBusMessage message = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            QStringLiteral("org.freedesktop.DBus"), strMethod);
        message << ProgId();
        if (strMethod == QLatin1String("StartServiceByName"))
            message << 0u;
        return CallWithGui(bus, message, m_nTimeoutMs);
    };
    // The bus refuses to start a name that has no service file even when it is owned, so the
    // owner is asked about first; starting the program may take long, hence the long wait.
    const QDBusMessage owner = askBus(QStringLiteral("NameHasOwner"));
    const bool bOwned
        = owner.type() == QDBusMessage::ReplyMessage && owner.arguments().value(0).toBool();
    if (!bOwned
        && askBus(QStringLiteral("StartServiceByName")).type() != QDBusMessage::ReplyMessage)
        return false;
    m_connection = bus;
    return true;
}

void CTarskDocument::ReleaseDispatch()
{
    // The bus keeps no reference to release; dropping the connection ends what this object may
    // call, so that a released document cannot reach a later run's server by accident.
    m_connection.reset();
}

QDBusMessage CTarskDocument::Invoke(const QString &strMethod, const QVariantList &aArgs,
                                    const char *pszResultSignature)
{
    if (!m_connection)
        throw CAutomationError(QStringLiteral("%1 に接続していません。").arg(ProgId()));
    QDBusMessage call = QDBusMessage::createMethodCall(ProgId(), QStringLiteral("/Tarsk/Document"),
                                                       ProgId(), strMethod);
    call.setArguments(aArgs);
    const QDBusMessage reply = CallWithGui(*m_connection, call, m_nTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage)
        throw CAutomationError(DescribeError(reply));
    if (reply.signature() != QLatin1String(pszResultSignature))
        throw CAutomationError(QStringLiteral("%1.%2 の応答の型が違います (%3)。")
                                   .arg(ProgId(), strMethod, reply.signature()));
    return reply;
}

void CTarskDocument::Quit()
{
    Invoke(QStringLiteral("Quit"), {}, "");
}

void CTarskDocument::Open(const QString &strPath)
{
    Invoke(QStringLiteral("Open"), {strPath}, "");
}

void CTarskDocument::SaveAs(const QString &strPath)
{
    Invoke(QStringLiteral("SaveAs"), {strPath}, "");
}

int CTarskDocument::GetVersion()
{
    return Invoke(QStringLiteral("GetVersion"), {}, "i").arguments().constFirst().toInt();
}

QString CTarskDocument::GetAuthorName()
{
    return Invoke(QStringLiteral("GetAuthorName"), {}, "s").arguments().constFirst().toString();
}

void CTarskDocument::SetAuthorName(const QString &strName)
{
    Invoke(QStringLiteral("SetAuthorName"), {strName}, "");
}

QString CTarskDocument::GetAffiliation()
{
    return Invoke(QStringLiteral("GetAffiliation"), {}, "s").arguments().constFirst().toString();
}

void CTarskDocument::SetAffiliation(const QString &strAffiliation)
{
    Invoke(QStringLiteral("SetAffiliation"), {strAffiliation}, "");
}
