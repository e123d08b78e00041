#pragma once

#include <QString>
#include <QStringList>

#include <vector>

namespace Platform {

struct TrashFailure
{
    QString strPath;
    QString strReason;
};

// Moves each file to the user's trash (the freedesktop trash, with its .trashinfo records).
// Never deletes permanently: a file that cannot be trashed stays where it is and is reported.
std::vector<TrashFailure> MoveToTrash(const QStringList &aPaths);

} // namespace Platform
