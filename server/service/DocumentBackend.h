#pragma once

#include "server/drawing/Drawing.h"
#include "server/service/ServerSettings.h"

#include <QString>

#include <memory>

// What the drawing server does with the drawing it opens and the targets it saves: convert for
// real, or write text records for tests of the client that need every format.
class DocumentBackend
{
public:
    virtual ~DocumentBackend() = default;

    static std::unique_ptr<DocumentBackend> create(ServerSettings::Backend backend);

    // Each of these returns the error message to reply with (naming the file), empty when the
    // backend can take the file.
    virtual QString sourceRefusal(const QString &path) const = 0;
    virtual QString targetRefusal(const QString &path) const = 0;

    // Makes `path` the current drawing; the previous one stays current on failure. The plot
    // settings of `settings` are the ones every save of this drawing prints with.
    virtual bool open(const QString &path, const ServerSettings &settings, QString *errorMessage)
        = 0;
    // `settings` tells what the target's format is to be written as (the DXF version).
    virtual bool save(const QString &path, const Drawing::SaveInfo &info,
                      const ServerSettings &settings, QString *errorMessage)
        = 0;

    // A path as every message of the server names it.
    static QString shown(const QString &path);

protected:
    // The formats the drawing program itself knows, by upper-case extension.
    static bool isDrawingSource(const QString &format);
    static bool isDrawingTarget(const QString &format);
    static QString formatOf(const QString &path);
};
