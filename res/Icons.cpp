#include "res/Icons.h"

#include <QFile>

QString IconPath(int nId)
{
    return QStringLiteral(":/icons/%1.svg").arg(nId);
}

QIcon LoadIcon(int nId)
{
    const QString path = IconPath(nId);
    return QFile::exists(path) ? QIcon(path) : QIcon();
}
