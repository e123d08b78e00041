#pragma once

#include "tests/TestEnvironment.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
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
