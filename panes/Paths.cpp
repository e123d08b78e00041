#include "panes/Paths.h"

#include <QFileInfo>

void JoinPath(QString &strPath, const QString &strName)
{
    if (!strPath.endsWith(QLatin1Char('/')))
        strPath += QLatin1Char('/');
    strPath += strName;
}

bool IsExistingFolder(const QString &strPath)
{
    return !strPath.isEmpty() && QFileInfo(strPath).isDir();
}

QString FolderDisplayName(const QString &strPath, const QString &strDesktopDir,
                          const QString &strDocumentsDir)
{
    QString strName = strPath;
    // An empty special path would match between every two characters.
    if (!strDocumentsDir.isEmpty() && strName.contains(strDocumentsDir))
        strName.replace(strDocumentsDir, QStringLiteral("ﾏｲ ﾄﾞｷｭﾒﾝﾄ"));
    else if (!strDesktopDir.isEmpty())
        strName.replace(strDesktopDir, QStringLiteral("ﾃﾞｽｸﾄｯﾌﾟ"));
    return strName;
}
