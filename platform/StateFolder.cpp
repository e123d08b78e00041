#include "platform/StateFolder.h"

#include <QDir>
#include <QFileInfo>

namespace Platform {

QString StateFolder()
{
    // Qt of Debian 12 has no standard location for it; the base directory rules apply: an unset
    // or relative value is ignored.
    const QString strState = qEnvironmentVariable("XDG_STATE_HOME");
    if (!strState.isEmpty() && QFileInfo(strState).isAbsolute())
        return QDir::cleanPath(strState);
    return QDir::cleanPath(QDir::homePath() + QStringLiteral("/.local/state"));
}

} // namespace Platform
