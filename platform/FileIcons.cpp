#include "platform/FileIcons.h"

#include <QApplication>
#include <QFileIconProvider>
#include <QHash>
#include <QMimeDatabase>
#include <QStyle>

namespace FileIcons {

QIcon ForExtension(const QString &strExt)
{
    static QHash<QString, QIcon> cache;
    const QString key = strExt.toLower();
    if (const auto it = cache.constFind(key); it != cache.cend())
        return it.value();

    const QMimeDatabase mimeDatabase;
    const QMimeType mime
        = mimeDatabase.mimeTypeForFile(QStringLiteral("x.") + key, QMimeDatabase::MatchExtension);
    QIcon icon = QIcon::fromTheme(mime.iconName());
    if (icon.isNull())
        icon = QIcon::fromTheme(mime.genericIconName());
    if (icon.isNull())
        icon = QFileIconProvider().icon(QFileIconProvider::File);
    if (icon.isNull() && qApp)
        icon = QApplication::style()->standardIcon(QStyle::SP_FileIcon);
    cache.insert(key, icon);
    return icon;
}

} // namespace FileIcons
