#pragma once

#include "tests/TestEnvironment.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QStandardPaths>

#include <memory>

// The drawing server on a bus daemon of the test's own (the process's session bus from then on),
// the settings it starts with, and a fresh temporary folder for every test function.
class ServerFixture
{
public:
    static inline const QString kService = QStringLiteral("Tarsk.Document");
    // Settings a user's server has: it converts, where the test bus's default writes text records.
    static constexpr const char *kConverting = "[General]\nBackend=convert\n";

    ServerFixture() = default;
    ServerFixture(const ServerFixture &) = delete;
    ServerFixture &operator=(const ServerFixture &) = delete;
    ~ServerFixture()
    {
        if (m_daemon.state() == QProcess::NotRunning)
            return;
        quit();
        m_daemon.terminate();
        m_daemon.waitForFinished();
    }

    // In initTestCase(), before anything touches the session bus.
    bool start(const QByteArray &settings = {})
    {
        m_daemon.setStandardErrorFile(QProcess::nullDevice());
        return writeSettings(settings)
            && !TestEnvironment::startPrivateBus(m_daemon,
                                                 QCoreApplication::applicationDirPath()
                                                     + QStringLiteral("/dbus-session.conf"))
                    .isEmpty();
    }

    // The server reads its settings once, at start: the running one quits, the next call starts
    // one that reads these.
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

    // In init(): every test function writes into a folder of its own.
    bool newFolder()
    {
        m_folder = std::make_unique<QTemporaryDir>();
        return m_folder->isValid();
    }
    QDir folder() const { return QDir(m_folder->path()); }
    QString path(const QString &name) const { return m_folder->filePath(name); }
    QString makeFile(const QString &name, const QByteArray &data = "drawing") const
    {
        return TestEnvironment::writeFile(path(name), data) ? path(name) : QString();
    }
    QString copy(const QString &from, const QString &name) const
    {
        return QFile::copy(from, path(name)) ? path(name) : QString();
    }

private:
    static bool writeSettings(const QByteArray &settings)
    {
        return TestEnvironment::writeFile(
            QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
                + QStringLiteral("/tarsk-standin/standin.ini"),
            settings);
    }

    QProcess m_daemon;
    std::unique_ptr<QTemporaryDir> m_folder;
};
