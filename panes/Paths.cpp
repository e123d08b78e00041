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
