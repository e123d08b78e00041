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

QDBusMessage CTarskDocument::Await(const QDBusPendingCall &call) const
{
    if (m_wait == Wait::Block) {
        QDBusPendingCall pending = call;
        pending.waitForFinished();
        return pending.reply();
    }
    // Not QDBus::BlockWithGui: in the Qt this is built with, a reply that lands between its check
    // and its hooking up the wake-up is never noticed, and the run waits out the whole timeout
    // for a drawing that was long converted. A watcher learns of an early reply under the call's
    // own lock, and its notice can only be taken once the loop runs.
    QDBusPendingCallWatcher watcher(call);
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

CTarskDocument::CTarskDocument(std::optional<QDBusConnection> bus, Wait wait)
    : m_bus(std::move(bus))
    , m_wait(wait)
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
        return Await(bus.asyncCall(message, m_nTimeoutMs));
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

CTarskDocument::Pending CTarskDocument::Send(std::vector<Call> aCalls)
{
    if (!m_connection)
        throw CAutomationError(QStringLiteral("%1 に接続していません。").arg(ProgId()));
    Pending pending;
    for (Call &call : aCalls) {
        QDBusMessage message = QDBusMessage::createMethodCall(
            ProgId(), QStringLiteral("/Tarsk/Document"), ProgId(), call.strMethod);
        message.setArguments(call.aArgs);
        pending.m_aReplies.push_back(m_connection->asyncCall(message, m_nTimeoutMs));
        pending.m_aCalls.push_back(std::move(call));
    }
    return pending;
}

std::vector<QDBusMessage> CTarskDocument::Finish(const Pending &pending) const
{
    std::vector<QDBusMessage> aReplies;
    aReplies.reserve(pending.m_aReplies.size());
    for (const QDBusPendingCall &call : pending.m_aReplies)
        aReplies.push_back(Await(call));
    // In the order of the calls: a failing Open is reported as itself, not as the author data
    // it left without a drawing.
    for (size_t i = 0; i < aReplies.size(); ++i) {
        const QDBusMessage &reply = aReplies[i];
        const Call &call = pending.m_aCalls[i];
        if (reply.type() != QDBusMessage::ReplyMessage)
            throw CAutomationError(DescribeError(reply));
        if (reply.signature() != QLatin1String(call.pszResultSignature))
            throw CAutomationError(QStringLiteral("%1.%2 の応答の型が違います (%3)。")
                                       .arg(ProgId(), call.strMethod, reply.signature()));
    }
    return aReplies;
}

QDBusMessage CTarskDocument::Invoke(const QString &strMethod, const QVariantList &aArgs,
                                    const char *pszResultSignature)
{
    return Finish(Send({{strMethod, aArgs, pszResultSignature}})).front();
}

void CTarskDocument::Quit()
{
    Invoke(QStringLiteral("Quit"), {}, "");
}

void CTarskDocument::Open(const QString &strPath)
{
    Invoke(QStringLiteral("Open"), {strPath}, "");
}

CTarskDocument::Pending CTarskDocument::SendOpen(const QString &strPath,
                                                 const std::optional<QString> &strAuthorName,
                                                 const std::optional<QString> &strAffiliation)
{
    std::vector<Call> aCalls {{QStringLiteral("Open"), {strPath}, ""}};
    if (strAuthorName)
        aCalls.push_back({QStringLiteral("SetAuthorName"), {*strAuthorName}, ""});
    if (strAffiliation)
        aCalls.push_back({QStringLiteral("SetAffiliation"), {*strAffiliation}, ""});
    return Send(std::move(aCalls));
}

CTarskDocument::Pending CTarskDocument::SendSaveAs(const QString &strPath)
{
    return Send({{QStringLiteral("SaveAs"), {strPath}, ""}});
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
