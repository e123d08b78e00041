#pragma once

#include "tests/TestEnvironment.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QRegularExpression>
#include <QStandardPaths>

// A bus daemon of the test's own that activates the stand-in drawing server from a service
// folder the test controls, so that "no drawing program" can be had without a second bus.
class StandinBus
{
public:
    static inline const QString kService = QStringLiteral("Tarsk.Document");

    // Starts the daemon and makes it the process's session bus; before anything touches
    // QDBusConnection::sessionBus().
    bool start()
    {
        using TestEnvironment::readFile;
        using TestEnvironment::writeFile;
        if (!m_dir.isValid() || !QDir().mkpath(m_dir.filePath(QStringLiteral("services"))))
            return false;
        QString config = QString::fromUtf8(readFile(QCoreApplication::applicationDirPath()
                                                    + QStringLiteral("/dbus-session.conf")));
        if (!config.contains(QStringLiteral("<servicedir>")))
            return false;
        config.replace(QRegularExpression(QStringLiteral("<servicedir>[^<]*</servicedir>")),
                       QStringLiteral("<servicedir>") + m_dir.filePath(QStringLiteral("services"))
                           + QStringLiteral("</servicedir>"));
        return writeFile(m_dir.filePath(QStringLiteral("bus.conf")), config.toUtf8())
            && !TestEnvironment::startPrivateBus(m_daemon,
                                                 m_dir.filePath(QStringLiteral("bus.conf")))
                    .isEmpty();
    }

    void stop()
    {
        m_daemon.terminate();
        m_daemon.waitForFinished();
    }

    // Whether the bus can start the stand-in.
    bool setActivatable(bool bActivatable)
    {
        const QString strService = serviceFile();
        const bool bChanged = bActivatable
            ? QFile::exists(strService) || QFile::copy(builtServiceFile(), strService)
            : !QFile::exists(strService) || QFile::remove(strService);
        return bChanged
            && busCall(QStringLiteral("ReloadConfig")).type() == QDBusMessage::ReplyMessage;
    }

    // The stand-in reads its settings once, at start: whatever runs next must meet a new one.
    static bool configure(const QByteArray &testing = {})
    {
        quit();
        return TestEnvironment::writeFile(
            QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
                + QStringLiteral("/tarsk-standin/standin.ini"),
            "[Testing]\n" + testing + '\n');
    }

    static void quit()
    {
        QDBusConnectionInterface *bus = QDBusConnection::sessionBus().interface();
        if (bus->isServiceRegistered(kService))
            QDBusConnection::sessionBus().call(QDBusMessage::createMethodCall(
                kService, QStringLiteral("/Tarsk/Document"), kService, QStringLiteral("Quit")));
        QTRY_VERIFY(!bus->isServiceRegistered(kService));
    }

private:
    QString serviceFile() const
    {
        return m_dir.filePath(QStringLiteral("services/Tarsk.Document.service"));
    }
    static QString builtServiceFile()
    {
        return QCoreApplication::applicationDirPath()
            + QStringLiteral("/dbus-services/Tarsk.Document.service");
    }
    static QDBusMessage busCall(const QString &strMethod)
    {
        return QDBusConnection::sessionBus().call(QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            QStringLiteral("org.freedesktop.DBus"), strMethod));
    }

    QTemporaryDir m_dir;
    QProcess m_daemon;
};
