#include "platform/Trash.h"

#include <QFile>

#undef signals // GLib uses the word as a struct member
#include <gio/gio.h>

namespace Platform {

std::vector<TrashFailure> MoveToTrash(const QStringList &aPaths)
{
    std::vector<TrashFailure> failures;
    for (const QString &strPath : aPaths) {
        const QByteArray encoded = QFile::encodeName(strPath);
        GFile *file = g_file_new_for_path(encoded.constData());
        GError *error = nullptr;
        if (!g_file_trash(file, nullptr, &error)) {
            failures.push_back({strPath, error ? QString::fromUtf8(error->message) : QString()});
            g_clear_error(&error);
        }
        g_object_unref(file);
    }
    return failures;
}

} // namespace Platform
