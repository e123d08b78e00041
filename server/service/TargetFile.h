#pragma once

#include <QIODevice>
#include <QString>

#include <functional>

// Writes a target the only safe way in a folder others may write to: into a temporary file
// created exclusively beside it (never through a link), checked, flushed and synced, then
// renamed over the target's name, which replaces a link itself rather than what it points to.
// On any failure the temporary file is removed and the old target stays as it was.
class TargetFile
{
public:
    using Fill = std::function<bool(QIODevice &out, QString *errorMessage)>;

    static bool write(const QString &path, const Fill &fill, QString *errorMessage);
};
