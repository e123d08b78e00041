#include "platform/System.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Platform {

namespace {
const QString kSettingsFileName = QStringLiteral("Norvale.ini");

// A folder only this user can enter and change: owned by the user, no rights for anybody else.
bool isPrivateFolder(const QByteArray &path, bool bRefuseLink)
{
    struct stat st;
    const int result = bRefuseLink ? ::lstat(path.constData(), &st) : ::stat(path.constData(), &st);
    return result == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid()
        && (st.st_mode & 07777) == 0700;
}

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
    // The lock and socket decide which process is the running instance: a folder that another
    // user made or can write to would let that user keep Norvale from starting. Qt's own choice
    // without XDG_RUNTIME_DIR is a fixed name in the shared /tmp, so it is not used.
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (runtime.startsWith('/') && isPrivateFolder(runtime, false))
        return withoutTrailingSeparator(QFile::decodeName(runtime));

    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (!cache.startsWith(QLatin1Char('/')))
        return QString();
    const QString folder = QDir::cleanPath(cache + QStringLiteral("/Norvale/runtime"));
    QDir().mkpath(QFileInfo(folder).path());
    const QByteArray path = QFile::encodeName(folder);
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
        return QString();
    // A folder of our own that a umask or an older version left open is closed again.
    struct stat st;
    if (::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid())
        ::chmod(path.constData(), 0700);
    return isPrivateFolder(path, true) ? folder : QString();
}

} // namespace Platform
