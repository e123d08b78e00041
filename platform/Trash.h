#pragma once

#include <QString>
#include <QStringList>

#include <vector>

namespace Platform {

struct TrashFailure
{
    QString strPath; // as shown
    QString strReason;
};

// Moves each file to the user's trash (the freedesktop trash, with its .trashinfo records).
// Never deletes permanently: a file that cannot be trashed stays where it is and is reported.
// The paths are bytes as the file system holds them, which need not be UTF-8.
std::vector<TrashFailure> MoveToTrash(const QList<QByteArray> &aPaths);

} // namespace Platform
