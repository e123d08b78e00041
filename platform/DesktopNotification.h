#pragma once

#include <QString>

namespace Platform {

// Shows a desktop notification through org.freedesktop.Notifications on the session bus. Does
// not wait for the service: without one nothing is shown and nothing is reported.
void ShowDesktopNotification(const QString &strSummary, const QString &strBody);

} // namespace Platform
