#include "res/Icons.h"

#include <QFile>

QString IconPath(int nId)
{
    return QStringLiteral(":/icons/%1.svg").arg(nId);
}

QString IconPath(int nId, int nImage)
{
    return QStringLiteral(":/icons/%1_%2.svg").arg(nId).arg(nImage);
}

QIcon LoadIcon(int nId)
{
    const QString path = IconPath(nId);
    return QFile::exists(path) ? QIcon(path) : QIcon();
}
