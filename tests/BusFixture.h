#pragma once

#include "tests/TestEnvironment.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>

#include <memory>

// The drawing server on a bus daemon of the test's own, the process's session bus from then on:
// tests running side by side must never quit or reconfigure each other's server. The bus
// activates the stand-in built here, or only the service file the test chooses; the server reads
// its settings file once, when it starts. Every test function writes into a folder of its own.
class BusFixture
{
public:
    static inline const QString kService = QStringLiteral("Tarsk.Document");
    // What a user's server has: it converts, where the test bus's default writes text records.
    static constexpr const char *kConverting = "[General]\nBackend=convert\n";

    enum class Services { Standin, Chosen };

    BusFixture() = default;
    BusFixture(const BusFixture &) = delete;
    BusFixture &operator=(const BusFixture &) = delete;
    ~BusFixture()
    {
        removeFolder();
        if (m_daemon.state() == QProcess::NotRunning)
            return;
        quit();
        m_daemon.terminate();
        m_daemon.waitForFinished();
    }

    // In initTestCase(), before anything touches the session bus. With Services::Chosen the bus
    // activates only what setService() gives it: the stand-in, a broken program or nothing.
    bool start(Services services = Services::Standin)
    {
        QString config = QString::fromUtf8(TestEnvironment::readFile(
            QCoreApplication::applicationDirPath() + QStringLiteral("/dbus-session.conf")));
        if (services == Services::Chosen) {
            const QString folder = m_bus.filePath(QStringLiteral("services"));
            if (config.count(QStringLiteral("<servicedir>")) != 1 || !QDir().mkpath(folder))
                return false;
            config.replace(QRegularExpression(QStringLiteral("<servicedir>[^<]*</servicedir>")),
                           QStringLiteral("<servicedir>%1</servicedir>").arg(folder));
        }
        const QString file = m_bus.filePath(QStringLiteral("bus.conf"));
        m_daemon.setStandardErrorFile(QProcess::nullDevice());
        return m_bus.isValid() && !config.isEmpty()
            && TestEnvironment::writeFile(file, config.toUtf8()) && writeSettings({})
            && !TestEnvironment::startPrivateBus(m_daemon, file).isEmpty();
    }

    // The service file of a bus started with Services::Chosen; none when content is empty.
    bool setService(const QByteArray &content)
    {
        const QString file = m_bus.filePath(QStringLiteral("services/Tarsk.Document.service"));
        QFile::remove(file);
        if (!content.isEmpty() && !TestEnvironment::writeFile(file, content))
            return false;
        return QDBusConnection::sessionBus()
                   .call(QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                        QStringLiteral("/org/freedesktop/DBus"),
                                                        QStringLiteral("org.freedesktop.DBus"),
                                                        QStringLiteral("ReloadConfig")))
                   .type()
            == QDBusMessage::ReplyMessage;
    }
    static QByteArray standinService()
    {
        return TestEnvironment::readFile(QCoreApplication::applicationDirPath()
                                         + QStringLiteral("/dbus-services/Tarsk.Document.service"));
    }

    // The running server quits; the next call starts one that reads these settings.
    static bool configure(const QByteArray &settings) { return quit() && writeSettings(settings); }

    static bool running()
    {
        return QDBusConnection::sessionBus().interface()->isServiceRegistered(kService);
    }
    static bool quit()
    {
        if (running())
            call(QStringLiteral("Quit"));
        return QTest::qWaitFor([] { return !running(); }, 10000);
    }

    static QDBusMessage call(const QString &method, const QVariantList &arguments = {},
                             int timeout = 60000)
    {
        QDBusMessage message = QDBusMessage::createMethodCall(
            kService, QStringLiteral("/Tarsk/Document"), kService, method);
        message.setArguments(arguments);
        return QDBusConnection::sessionBus().call(message, QDBus::Block, timeout);
    }
    static bool succeeds(const QString &method, const QVariantList &arguments = {})
    {
        const QDBusMessage reply = call(method, arguments);
        if (reply.type() != QDBusMessage::ReplyMessage)
            qWarning() << method << reply.errorMessage();
        return reply.type() == QDBusMessage::ReplyMessage;
    }

    // In init(). The one before goes, with names that QDir cannot spell.
    bool newFolder()
    {
        removeFolder();
        m_folder = std::make_unique<QTemporaryDir>();
        return m_folder->isValid();
    }
    QDir folder() const { return QDir(m_folder->path()); }
    QString path(const QString &name = {}) const
    {
        return name.isEmpty() ? m_folder->path() : m_folder->filePath(name);
    }
    QString makeFile(const QString &name, const QByteArray &data = "drawing\n",
                     const QDateTime &modified = {}) const
    {
        return TestEnvironment::writeFile(path(name), data, modified) ? path(name) : QString();
    }
    QString copy(const QString &from, const QString &name) const
    {
        return QFile::copy(from, path(name)) ? path(name) : QString();
    }

private:
    void removeFolder()
    {
        if (m_folder)
            QProcess::execute(QStringLiteral("rm"), {QStringLiteral("-rf"), m_folder->path()});
    }
    static bool writeSettings(const QByteArray &settings)
    {
        return TestEnvironment::writeFile(
            QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
                + QStringLiteral("/tarsk-standin/standin.ini"),
            settings);
    }

    QTemporaryDir m_bus;
    QProcess m_daemon;
    std::unique_ptr<QTemporaryDir> m_folder;
};
