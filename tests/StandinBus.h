#pragma once

#include "tests/TestEnvironment.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QRegularExpression>
#include <QStandardPaths>

// The stand-in drawing server on a bus daemon of the test's own, which activates the one built
// here; its failures are chosen through its [Testing] settings.
namespace StandinBus {

inline const QString kService = QStringLiteral("Tarsk.Document");

// Before anything touches QDBusConnection::sessionBus().
inline bool start(QProcess &daemon)
{
    return !TestEnvironment::startPrivateBus(daemon,
                                             QCoreApplication::applicationDirPath()
                                                 + QStringLiteral("/dbus-session.conf"))
                .isEmpty();
}

// The same bus, but activating only from strFolder/services, which setService() fills: so that a
// test can have the stand-in, no drawing program at all, or a broken one. The bus configuration is
// written to strFolder too.
inline bool start(QProcess &daemon, const QString &strFolder)
{
    QString config = QString::fromUtf8(TestEnvironment::readFile(
        QCoreApplication::applicationDirPath() + QStringLiteral("/dbus-session.conf")));
    const qsizetype nDirs = config.count(QStringLiteral("<servicedir>"));
    config.replace(QRegularExpression(QStringLiteral("<servicedir>[^<]*</servicedir>")),
                   QStringLiteral("<servicedir>%1/services</servicedir>").arg(strFolder));
    const QString strConfig = strFolder + QStringLiteral("/bus.conf");
    return nDirs == 1 && QDir().mkpath(strFolder + QStringLiteral("/services"))
        && TestEnvironment::writeFile(strConfig, config.toUtf8())
        && !TestEnvironment::startPrivateBus(daemon, strConfig).isEmpty();
}

// The service file that activates the stand-in built here.
inline QByteArray standinService()
{
    return TestEnvironment::readFile(QCoreApplication::applicationDirPath()
                                     + QStringLiteral("/dbus-services/Tarsk.Document.service"));
}

// Makes the service file in the folder of start(strFolder) hold content (none when empty) and has
// the bus read it again.
inline bool setService(const QString &strFolder, const QByteArray &content)
{
    const QString strFile = strFolder + QStringLiteral("/services/Tarsk.Document.service");
    QFile::remove(strFile);
    if (!content.isEmpty() && !TestEnvironment::writeFile(strFile, content))
        return false;
    return QDBusConnection::sessionBus()
               .call(QDBusMessage::createMethodCall(
                   QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                   QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ReloadConfig")))
               .type()
        == QDBusMessage::ReplyMessage;
}

inline void quit()
{
    QDBusConnectionInterface *bus = QDBusConnection::sessionBus().interface();
    if (bus->isServiceRegistered(kService))
        QDBusConnection::sessionBus().call(QDBusMessage::createMethodCall(
            kService, QStringLiteral("/Tarsk/Document"), kService, QStringLiteral("Quit")));
    QTRY_VERIFY(!bus->isServiceRegistered(kService));
}

// The stand-in reads its settings once, at start: the next one started gets these.
inline bool configure(const QByteArray &testing = {})
{
    quit();
    return TestEnvironment::writeFile(
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
            + QStringLiteral("/tarsk-standin/standin.ini"),
        "[Testing]\n" + testing + '\n');
}

} // namespace StandinBus
