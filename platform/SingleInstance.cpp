#include "platform/SingleInstance.h"

#include <QDateTime>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>

namespace {
constexpr int kConnectTimeoutMs = 2000;
// A starting instance creates its lock file empty and fills it in a moment later.
constexpr qint64 kLockSettleMs = 5000;
const QByteArray kActivateVerb = QByteArrayLiteral("activate");
// A request is a verb and an activation token; anything longer is not one of ours.
constexpr qint64 kMaxRequestBytes = 4096;
} // namespace

SingleInstance::SingleInstance(const QString &name, const QString &folder, QObject *parent)
    : QObject(parent)
{
    // Without a folder there is no safe place for the lock; Acquire() then fails.
    if (!folder.isEmpty()) {
        m_strLockPath = folder + QLatin1Char('/') + name + QStringLiteral(".lock");
        m_strSocketPath = folder + QLatin1Char('/') + name + QStringLiteral(".socket");
    }
}

SingleInstance::~SingleInstance()
{
    // A successor may take the lock the moment it is released and listen on the same path;
    // closing our server afterwards would delete its socket file.
    delete m_pServer;
    m_pServer = nullptr;
    m_pLock.reset();
}

SingleInstance::Role SingleInstance::Acquire(const QString &activationToken)
{
    if (m_strLockPath.isEmpty())
        return Role::Failed;
    m_pLock = std::make_unique<QLockFile>(m_strLockPath);
    // Never stale by age: a live instance may run for days. A dead owner is still detected.
    m_pLock->setStaleLockTime(0);
    bool locked = m_pLock->tryLock(0);
    if (!locked && m_pLock->error() == QLockFile::LockFailedError && RemoveOrphanedLock())
        locked = m_pLock->tryLock(0);
    if (!locked) {
        const bool held = m_pLock->error() == QLockFile::LockFailedError;
        m_pLock.reset();
        if (!held)
            return Role::Failed;
        // While the running instance is still starting it has no socket yet; this start then
        // ends without an effect, as it would find no window to bring forward.
        SendActivation(m_strSocketPath, activationToken);
        return Role::Secondary;
    }

    // We hold the lock, so a socket file left behind belongs to a dead instance.
    QLocalServer::removeServer(m_strSocketPath);
    m_pServer = new QLocalServer(this);
    m_pServer->setSocketOptions(QLocalServer::UserAccessOption);
    if (m_pServer->listen(m_strSocketPath)) {
        connect(m_pServer, &QLocalServer::newConnection, this, &SingleInstance::ReadRequest);
    }
    // Without a socket this instance still runs; later starts just cannot raise it.
    return Role::Primary;
}

bool SingleInstance::RemoveOrphanedLock()
{
    // QLockFile judges a lock by the process named in it, so with no stale time a lock it cannot
    // read, or one naming another machine, would block every start for good. The running owner
    // always holds a file lock on its lock file, and removeStaleLockFile() succeeds only when
    // nobody does; only the moment between creating and locking the file needs the age check.
    const qint64 age
        = QFileInfo(m_strLockPath).lastModified().msecsTo(QDateTime::currentDateTime());
    if (qAbs(age) < kLockSettleMs)
        return false;
    return m_pLock->removeStaleLockFile();
}

void SingleInstance::ReadRequest()
{
    while (QLocalSocket *socket = m_pServer->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            // The request is two lines: the verb and the token (possibly empty). A client that
            // sends more without finishing them is dropped, so nobody can make this process
            // buffer without limit.
            const qint64 available = socket->bytesAvailable();
            const QByteArray pending = socket->peek(qMin(available, kMaxRequestBytes));
            if (pending.count('\n') < 2) {
                if (available >= kMaxRequestBytes)
                    socket->abort();
                return;
            }
            const QByteArray verb = socket->readLine().trimmed();
            if (verb != kActivateVerb)
                return;
            const QByteArray token = socket->readLine().trimmed();
            emit activationRequested(QString::fromUtf8(token));
        });
    }
}

bool SingleInstance::SendActivation(const QString &socketPath, const QString &activationToken)
{
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(kConnectTimeoutMs))
        return false;
    socket.write(kActivateVerb + '\n' + activationToken.toUtf8() + '\n');
    const bool written = socket.waitForBytesWritten(kConnectTimeoutMs);
    socket.disconnectFromServer();
    return written;
}
