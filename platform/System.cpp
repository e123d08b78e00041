#include "platform/System.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <pwd.h>
#include <unistd.h>

namespace Platform {

namespace {
const QString kSettingsFileName = QStringLiteral("Norvale.ini");

QString withoutTrailingSeparator(QString path)
{
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}
} // namespace

QString LogonUserName()
{
    if (const passwd *pw = ::getpwuid(::geteuid()); pw && pw->pw_name && *pw->pw_name)
        return QString::fromLocal8Bit(pw->pw_name);
    return qEnvironmentVariable("USER");
}

QString ProgramFolder()
{
    return withoutTrailingSeparator(QCoreApplication::applicationDirPath());
}

QString SettingsFilePath(const QString &strProgramFolder)
{
    const QString portable = strProgramFolder + QLatin1Char('/') + kSettingsFileName;
    if (QFileInfo(portable).isFile())
        return portable;
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/Norvale");
    QDir().mkpath(folder);
    return folder + QLatin1Char('/') + kSettingsFileName;
}

QString SpecialFolderPath(SpecialFolder folder)
{
    const auto location = folder == SpecialFolder::Desktop ? QStandardPaths::DesktopLocation
                                                           : QStandardPaths::DocumentsLocation;
    QString path = QDir::cleanPath(QStandardPaths::writableLocation(location));
    // The documents folder that xdg-user-dirs names, or the home folder when there is none (a
    // fresh account without ~/Documents), as xdg-user-dirs itself falls back: both panes start
    // there, so it must be a folder that exists.
    if (folder == SpecialFolder::Documents && !QFileInfo(path).isDir())
        path = QDir::cleanPath(QDir::homePath());
    return withoutTrailingSeparator(path);
}

QString RuntimeFolder()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return withoutTrailingSeparator(folder);
}

} // namespace Platform
