#include "conversion/CTarskDocument.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QEventLoop>

namespace {

QString ProgId()
{
    return QString::fromUtf16(CTarskDocument::kProgId);
}

// The bus's own texts for a lost server or bus are English and say little to the user; a
// Japanese sentence that says what happened comes first, the raw text after it.
QString DescribeError(const QDBusMessage &reply)
{
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

} // namespace

std::vector<QDBusMessage> CTarskDocument::CallAll(const QDBusConnection &bus,
                                                  const std::vector<QDBusMessage> &aMessages) const
{
    std::vector<QDBusPendingCall> aPending;
    aPending.reserve(aMessages.size());
    for (const QDBusMessage &message : aMessages)
        aPending.push_back(bus.asyncCall(message, m_nTimeoutMs));
    std::vector<QDBusMessage> aReplies;
    aReplies.reserve(aPending.size());
    for (QDBusPendingCall &pending : aPending) {
        if (m_wait == Wait::Block) {
            pending.waitForFinished();
            aReplies.push_back(pending.reply());
            continue;
        }
        // Not QDBus::BlockWithGui: in the Qt this is built with, a reply that lands between its
        // check and its hooking up the wake-up is never noticed, and the run waits out the whole
        // timeout for a drawing that was long converted. A watcher learns of an early reply
        // under the call's own lock, and its notice can only be taken once the loop runs.
        QDBusPendingCallWatcher watcher(pending);
        if (!watcher.isFinished()) {
            QEventLoop loop;
            QObject::connect(&watcher, &QDBusPendingCallWatcher::finished, &loop,
                             &QEventLoop::quit);
            loop.exec(QEventLoop::ExcludeUserInputEvents | QEventLoop::WaitForMoreEvents);
        }
        aReplies.push_back(watcher.reply());
    }
    return aReplies;
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
        return CallAll(bus, {message}).front();
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

std::vector<QDBusMessage> CTarskDocument::InvokeAll(const std::vector<Call> &aCalls)
{
    if (!m_connection)
        throw CAutomationError(QStringLiteral("%1 に接続していません。").arg(ProgId()));
    std::vector<QDBusMessage> aMessages;
    aMessages.reserve(aCalls.size());
    for (const Call &call : aCalls) {
        aMessages.push_back(QDBusMessage::createMethodCall(
            ProgId(), QStringLiteral("/Tarsk/Document"), ProgId(), call.strMethod));
        aMessages.back().setArguments(call.aArgs);
    }
    // Every answer is taken before any error is thrown, so that none is left to be mistaken
    // for the answer to a later call.
    const std::vector<QDBusMessage> aReplies = CallAll(*m_connection, aMessages);
    for (size_t i = 0; i < aCalls.size(); ++i) {
        const QDBusMessage &reply = aReplies[i];
        if (reply.type() != QDBusMessage::ReplyMessage)
            throw CAutomationError(DescribeError(reply));
        if (reply.signature() != QLatin1String(aCalls[i].pszResultSignature))
            throw CAutomationError(QStringLiteral("%1.%2 の応答の型が違います (%3)。")
                                       .arg(ProgId(), aCalls[i].strMethod, reply.signature()));
    }
    return aReplies;
}

QDBusMessage CTarskDocument::Invoke(const QString &strMethod, const QVariantList &aArgs,
                                    const char *pszResultSignature)
{
    return InvokeAll({{strMethod, aArgs, pszResultSignature}}).front();
}

void CTarskDocument::Quit()
{
    Invoke(QStringLiteral("Quit"), {}, "");
}

void CTarskDocument::Open(const QString &strPath)
{
    Invoke(QStringLiteral("Open"), {strPath}, "");
}

void CTarskDocument::OpenWithAuthor(const QString &strPath,
                                    const std::optional<QString> &strAuthorName,
                                    const std::optional<QString> &strAffiliation)
{
    std::vector<Call> aCalls {{QStringLiteral("Open"), {strPath}, ""}};
    if (strAuthorName)
        aCalls.push_back({QStringLiteral("SetAuthorName"), {*strAuthorName}, ""});
    if (strAffiliation)
        aCalls.push_back({QStringLiteral("SetAffiliation"), {*strAffiliation}, ""});
    InvokeAll(aCalls);
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
