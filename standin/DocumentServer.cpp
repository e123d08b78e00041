#include "DocumentServer.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QThread>

#include <unistd.h>

namespace {

const QLatin1String kSourceFormats[] = {
    QLatin1String("TSK"), QLatin1String("SFC"), QLatin1String("P21"),
    QLatin1String("DXF"), QLatin1String("JWW"), QLatin1String("JWC"),
};

const QLatin1String kTargetFormats[] = {
    QLatin1String("TSK"), QLatin1String("SFC"), QLatin1String("P21"), QLatin1String("DXF"),
    QLatin1String("JWC"), QLatin1String("PDF"), QLatin1String("UMB"), QLatin1String("EMF"),
    QLatin1String("SVG"), QLatin1String("HTM"), QLatin1String("DWF"),
};

template<std::size_t N>
bool contains(const QLatin1String (&formats)[N], const QString &format)
{
    for (const QLatin1String &known : formats) {
        if (format == known)
            return true;
    }
    return false;
}

QString formatOf(const QString &path)
{
    return QFileInfo(path).suffix().toUpper();
}

QString shown(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

} // namespace

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

DocumentServer::DocumentServer(const QDBusConnection &connection, const StandinSettings &settings,
                               QObject *parent)
    : QObject(parent)
    , m_connection(connection)
    , m_settings(settings)
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
                        .arg(shown(path)));
    if (!info.exists())
        return fail(QStringLiteral("図面ファイル %1 が見つかりません。").arg(shown(path)));
    if (!info.isFile())
        return fail(QStringLiteral("%1 は図面ファイルではありません。").arg(shown(path)));
    if (!contains(kSourceFormats, formatOf(path)))
        return fail(QStringLiteral("図面ファイル %1 は読み込めない形式です。").arg(shown(path)));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("図面ファイル %1 を読み込めません（%2）。")
                        .arg(shown(path), file.errorString()));
    if (isListed(m_settings.failOpen, path))
        return fail(QStringLiteral("図面ファイル %1 を開けませんでした（試験用に設定された失敗）。")
                        .arg(shown(path)));

    // A newly opened drawing starts from the stored author data, like a drawing that has none.
    m_currentPath = info.absoluteFilePath();
    m_drawingAuthorName = m_settings.authorName;
    m_drawingAffiliation = m_settings.affiliation;
}

void DocumentServer::SaveAs(const QString &path)
{
    CallScope scope(*this);
    crashIfAsked(path);
    const QFileInfo info(path);
    if (m_currentPath.isEmpty())
        return fail(
            QStringLiteral("図面が開かれていないため、%1 に保存できません。").arg(shown(path)));
    if (!info.isAbsolute())
        return fail(QStringLiteral("保存先 %1 が絶対パスで指定されていません。").arg(shown(path)));
    if (!contains(kTargetFormats, formatOf(path)))
        return fail(QStringLiteral("%1 には保存できない形式です。").arg(shown(path)));
    const QFileInfo folder(info.absolutePath());
    if (!folder.isDir())
        return fail(
            QStringLiteral("保存先のフォルダー %1 がありません。").arg(shown(folder.filePath())));
    if (!folder.isWritable())
        return fail(QStringLiteral("保存先のフォルダー %1 に書き込めません。")
                        .arg(shown(folder.filePath())));
    if (info.isDir())
        return fail(QStringLiteral("%1 はフォルダーのため保存できません。").arg(shown(path)));
    if (isListed(m_settings.failSave, path))
        return fail(QStringLiteral("%1 に保存できませんでした（試験用に設定された失敗）。")
                        .arg(shown(path)));

    const QString record
        = QStringLiteral("Norvale stand-in drawing server (tarsk-standin): "
                         "a placeholder, not a real drawing.\n"
                         "source: %1\n"
                         "source-format: %2\n"
                         "target-format: %3\n"
                         "author-name: %4\n"
                         "affiliation: %5\n"
                         "saved: %6\n")
              .arg(m_currentPath, formatOf(m_currentPath), formatOf(path), m_drawingAuthorName,
                   m_drawingAffiliation, QDateTime::currentDateTime().toString(Qt::ISODateWithMs));
    // Written beside the target and renamed over it, so a reader never sees half a file and an
    // existing target always gets a new modification time.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(record.toUtf8()) < 0 || !file.commit())
        return fail(QStringLiteral("%1 に保存できませんでした（%2）。")
                        .arg(shown(path), file.errorString()));
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
    if (m_currentPath.isEmpty())
        return fail(QStringLiteral("図面が開かれていないため、作成者名を設定できません。"));
    m_drawingAuthorName = name;
}

QString DocumentServer::GetAffiliation()
{
    CallScope scope(*this);
    return m_settings.affiliation;
}

void DocumentServer::SetAffiliation(const QString &affiliation)
{
    CallScope scope(*this);
    if (m_currentPath.isEmpty())
        return fail(QStringLiteral("図面が開かれていないため、所属を設定できません。"));
    m_drawingAffiliation = affiliation;
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
