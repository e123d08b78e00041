#include "platform/DesktopNotification.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QGuiApplication>
#include <QVariantMap>

namespace Platform {

void ShowDesktopNotification(const QString &strSummary, const QString &strBody)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    // The desktop entry lets the notification service show Norvale's name and icon.
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QGuiApplication::desktopFileName());
    call << QCoreApplication::applicationName() << 0u << QStringLiteral("norvale") << strSummary
         << strBody << QStringList() << hints << -1;
    // Never started for this: a desktop without a notification service simply shows nothing.
    call.setAutoStartService(false);
    bus.send(call);
}

} // namespace Platform
