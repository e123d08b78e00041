#include "server/service/DocumentServer.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <unistd.h>

// Every automation call passes through one of these: it counts the call, keeps the server
// alive, applies the configured delay and adds the time spent to the statistics.
class DocumentServer::CallScope
{
public:
    explicit CallScope(DocumentServer &server)
        : m_server(server)
    {
        m_timer.start();
        ++m_server.m_nCalls;
        m_server.m_idleTimer.start();
        if (m_server.m_settings.delayMs > 0)
            QThread::msleep(static_cast<unsigned long>(m_server.m_settings.delayMs));
    }
    ~CallScope() { m_server.m_busyNanoseconds += m_timer.nsecsElapsed(); }

private:
    DocumentServer &m_server;
    QElapsedTimer m_timer;
};

DocumentServer::DocumentServer(const QDBusConnection &connection, const ServerSettings &settings,
                               QObject *parent)
    : QObject(parent)
    , m_connection(connection)
    , m_settings(settings)
    , m_backend(DocumentBackend::create(settings.backend))
{
    m_idleTimer.setSingleShot(true);
    m_idleTimer.setInterval(qMax(0, m_settings.idleMs));
    connect(&m_idleTimer, &QTimer::timeout, this, &DocumentServer::shutDown);
}

bool DocumentServer::start(QString *errorMessage)
{
    if (!m_connection.isConnected()) {
        *errorMessage = m_connection.lastError().message();
        return false;
    }
    if (!m_connection.registerObject(objectPath(), this, QDBusConnection::ExportAllSlots)) {
        *errorMessage = QStringLiteral("cannot export %1").arg(objectPath());
        return false;
    }
    // A client that ends without Quit (killed, crashed) must not keep its drawing here for ever;
    // watched before any client can reach the server.
    m_connection.connect(QStringLiteral("org.freedesktop.DBus"),
                         QStringLiteral("/org/freedesktop/DBus"),
                         QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameOwnerChanged"),
                         this, SLOT(nameOwnerChanged(QString, QString, QString)));
    if (!m_connection.registerService(serviceName())) {
        *errorMessage = QStringLiteral("cannot own %1: %2")
                            .arg(serviceName(), m_connection.lastError().message());
        return false;
    }
    // Nobody can call a server whose bus has gone, so it leaves with the bus.
    m_connection.connect(QString(), QStringLiteral("/org/freedesktop/DBus/Local"),
                         QStringLiteral("org.freedesktop.DBus.Local"),
                         QStringLiteral("Disconnected"), this, SLOT(busLost()));
    m_idleTimer.start();
    return true;
}

DocumentServer::Session *DocumentServer::session()
{
    const auto found = m_sessions.find(message().service());
    return found == m_sessions.end() ? nullptr : &found->second;
}

void DocumentServer::nameOwnerChanged(const QString &name, const QString &, const QString &owner)
{
    if (owner.isEmpty()) // a unique name has no owner once its client has left the bus
        m_sessions.erase(name);
}

void DocumentServer::fail(const QString &message)
{
    sendErrorReply(QStringLiteral("Tarsk.Document.Error"), message);
}

bool DocumentServer::isListed(const QStringList &names, const QString &path) const
{
    const QString fileName = QFileInfo(path).fileName();
    for (const QString &name : names) {
        if (fileName.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

void DocumentServer::crashIfAsked(const QString &path) const
{
    if (!m_settings.crashOn.isEmpty() && isListed({m_settings.crashOn}, path))
        ::_exit(3);
}

void DocumentServer::Quit()
{
    CallScope scope(*this);
    // Quit ends the caller's session; the server stays while another client has a drawing open.
    m_sessions.erase(message().service());
    if (!m_sessions.empty())
        return;
    // The reply must not go out before the name is released: a client that calls again right
    // away has to activate a new server rather than reach this one on its way out.
    setDelayedReply(true);
    const QDBusMessage reply = message().createReply();
    m_connection.unregisterService(serviceName());
    m_connection.send(reply);
    QMetaObject::invokeMethod(this, &DocumentServer::shutDown, Qt::QueuedConnection);
}

void DocumentServer::Open(const QString &path)
{
    CallScope scope(*this);
    crashIfAsked(path);
    const QFileInfo info(path);
    if (!info.isAbsolute())
        return fail(QStringLiteral("図面ファイル %1 の場所が絶対パスで指定されていません。")
                        .arg(DocumentBackend::shown(path)));
    if (!info.exists())
        return fail(
            QStringLiteral("図面ファイル %1 が見つかりません。").arg(DocumentBackend::shown(path)));
    if (!info.isFile())
        return fail(
            QStringLiteral("%1 は図面ファイルではありません。").arg(DocumentBackend::shown(path)));
    const QString refusal = m_backend->sourceRefusal(path);
    if (!refusal.isEmpty())
        return fail(refusal);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("図面ファイル %1 を読み込めません（%2）。")
                        .arg(DocumentBackend::shown(path), file.errorString()));
    if (isListed(m_settings.failOpen, path))
        return fail(QStringLiteral("図面ファイル %1 を開けませんでした（試験用に設定された失敗）。")
                        .arg(DocumentBackend::shown(path)));

    QString error;
    const QString client = message().service();
    Session &session = m_sessions[client];
    if (!session.backend)
        session.backend = DocumentBackend::create(m_settings.backend);
    // Plot settings chosen in the window apply from the next drawing opened, also by a server
    // already running; a drawing keeps the ones it was opened with for all of its saves.
    reloadChoices();
    if (!session.backend->open(info.absoluteFilePath(), m_settings, &error)) {
        // The previous drawing stays open; a client that had none holds no session.
        if (session.path.isEmpty())
            m_sessions.erase(client);
        return fail(error);
    }

    // A newly opened drawing starts from the stored author data, like a drawing that has none.
    session.path = info.absoluteFilePath();
    session.authorName = m_settings.authorName;
    session.affiliation = m_settings.affiliation;
}

void DocumentServer::SaveAs(const QString &path)
{
    CallScope scope(*this);
    crashIfAsked(path);
    const QFileInfo info(path);
    Session *const session = this->session();
    if (!session)
        return fail(QStringLiteral("図面が開かれていないため、%1 に保存できません。")
                        .arg(DocumentBackend::shown(path)));
    if (!info.isAbsolute())
        return fail(QStringLiteral("保存先 %1 が絶対パスで指定されていません。")
                        .arg(DocumentBackend::shown(path)));
    const QString refusal = m_backend->targetRefusal(path);
    if (!refusal.isEmpty())
        return fail(refusal);
    const QFileInfo folder(info.absolutePath());
    if (!folder.isDir())
        return fail(QStringLiteral("保存先のフォルダー %1 がありません。")
                        .arg(DocumentBackend::shown(folder.filePath())));
    if (!folder.isWritable())
        return fail(QStringLiteral("保存先のフォルダー %1 に書き込めません。")
                        .arg(DocumentBackend::shown(folder.filePath())));
    if (info.isDir())
        return fail(QStringLiteral("%1 はフォルダーのため保存できません。")
                        .arg(DocumentBackend::shown(path)));
    if (isListed(m_settings.failSave, path))
        return fail(QStringLiteral("%1 に保存できませんでした（試験用に設定された失敗）。")
                        .arg(DocumentBackend::shown(path)));

    QString error;
    const Drawing::SaveInfo saveInfo {info.completeBaseName(), session->authorName,
                                      session->affiliation};
    // The window changes the DXF version while servers run (a run's server lives on between
    // drawings): every save writes the version the settings file holds at that moment.
    reloadChoices();
    if (!session->backend->save(info.absoluteFilePath(), saveInfo, m_settings, &error))
        return fail(error);
}

void DocumentServer::reloadChoices()
{
    const QFileInfo file(ServerSettings::filePath());
    const QString stamp = file.exists() ? QStringLiteral("%1 %2 %3")
                                              .arg(file.size())
                                              .arg(file.lastModified().toMSecsSinceEpoch())
                                              .arg(file.metadataChangeTime().toMSecsSinceEpoch())
                                        : QString();
    if (stamp == m_settingsStamp && !m_settingsStamp.isNull())
        return;
    const ServerSettings stored = ServerSettings::load();
    m_settings.plot = stored.plot;
    m_settings.dxfVersion = stored.dxfVersion;
    m_settingsStamp = stamp.isNull() ? QStringLiteral("") : stamp;
}

int DocumentServer::GetVersion()
{
    CallScope scope(*this);
    return m_settings.version;
}

QString DocumentServer::GetAuthorName()
{
    CallScope scope(*this);
    return m_settings.authorName;
}

void DocumentServer::SetAuthorName(const QString &name)
{
    CallScope scope(*this);
    Session *const session = this->session();
    if (!session)
        return fail(QStringLiteral("図面が開かれていないため、作成者名を設定できません。"));
    session->authorName = name;
}

QString DocumentServer::GetAffiliation()
{
    CallScope scope(*this);
    return m_settings.affiliation;
}

void DocumentServer::SetAffiliation(const QString &affiliation)
{
    CallScope scope(*this);
    Session *const session = this->session();
    if (!session)
        return fail(QStringLiteral("図面が開かれていないため、所属を設定できません。"));
    session->affiliation = affiliation;
}

int DocumentServer::GetStatistics(qlonglong &busyMicroseconds)
{
    busyMicroseconds = m_busyNanoseconds / 1000;
    return m_nCalls;
}

void DocumentServer::shutDown()
{
    if (m_bShuttingDown)
        return;
    m_bShuttingDown = true;
    m_idleTimer.stop();
    m_connection.unregisterService(serviceName());
    // A round trip to the bus daemon: once it answers, every message queued before it,
    // including the reply to Quit, has left this process.
    m_connection.call(QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetId")));

    if (!m_settings.statsFile.isEmpty()) {
        QFile stats(m_settings.statsFile);
        if (stats.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
            stats.write(QStringLiteral("calls=%1 busy_us=%2\n")
                            .arg(m_nCalls)
                            .arg(m_busyNanoseconds / 1000)
                            .toUtf8());
    }
    QCoreApplication::quit();
}

void DocumentServer::busLost()
{
    QCoreApplication::exit(2);
}
