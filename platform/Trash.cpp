#include "platform/Trash.h"

#include "platform/FileNames.h"

#undef signals // GLib uses the word as a struct member
#include <gio/gio.h>

namespace Platform {

std::vector<TrashFailure> MoveToTrash(const QList<QByteArray> &aPaths)
{
    std::vector<TrashFailure> failures;
    for (const QByteArray &path : aPaths) {
        GFile *file = g_file_new_for_path(path.constData());
        GError *error = nullptr;
        if (!g_file_trash(file, nullptr, &error)) {
            const qsizetype nSlash = path.lastIndexOf('/');
            failures.push_back(
                {QString::fromUtf8(path.left(nSlash + 1)) + DisplayFileName(path.mid(nSlash + 1)),
                 error ? QString::fromUtf8(error->message) : QString()});
            g_clear_error(&error);
        }
        g_object_unref(file);
    }
    return failures;
}

} // namespace Platform
