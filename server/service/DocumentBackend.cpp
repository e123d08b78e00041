#include "server/service/DocumentBackend.h"

#include "server/service/ConvertingBackend.h"
#include "server/service/RecordingBackend.h"

#include <QDir>
#include <QFileInfo>

std::unique_ptr<DocumentBackend> DocumentBackend::create(ServerSettings::Backend backend)
{
    if (backend == ServerSettings::Backend::Record)
        return std::make_unique<RecordingBackend>();
    return std::make_unique<ConvertingBackend>();
}

bool DocumentBackend::isDrawingSource(const QString &format)
{
    static const QStringList formats
        = {QStringLiteral("TSK"), QStringLiteral("SFC"), QStringLiteral("P21"),
           QStringLiteral("DXF"), QStringLiteral("JWW"), QStringLiteral("JWC")};
    return formats.contains(format);
}

bool DocumentBackend::isDrawingTarget(const QString &format)
{
    static const QStringList formats = {
        QStringLiteral("TSK"), QStringLiteral("SFC"), QStringLiteral("P21"), QStringLiteral("DXF"),
        QStringLiteral("JWC"), QStringLiteral("PDF"), QStringLiteral("UMB"), QStringLiteral("EMF"),
        QStringLiteral("SVG"), QStringLiteral("HTM"), QStringLiteral("DWF")};
    return formats.contains(format);
}

QString DocumentBackend::formatOf(const QString &path)
{
    return QFileInfo(path).suffix().toUpper();
}

QString DocumentBackend::shown(const QString &path)
{
    return QDir::toNativeSeparators(path);
}
