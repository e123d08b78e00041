#include "ConversionBackend.h"

#include "ConvertBackend.h"
#include "RecordBackend.h"

#include <QDir>
#include <QFileInfo>

std::unique_ptr<ConversionBackend> ConversionBackend::create(StandinSettings::Backend backend)
{
    if (backend == StandinSettings::Backend::Record)
        return std::make_unique<RecordBackend>();
    return std::make_unique<ConvertBackend>();
}

bool ConversionBackend::isDrawingSource(const QString &format)
{
    static const QStringList formats
        = {QStringLiteral("TSK"), QStringLiteral("SFC"), QStringLiteral("P21"),
           QStringLiteral("DXF"), QStringLiteral("JWW"), QStringLiteral("JWC")};
    return formats.contains(format);
}

bool ConversionBackend::isDrawingTarget(const QString &format)
{
    static const QStringList formats = {
        QStringLiteral("TSK"), QStringLiteral("SFC"), QStringLiteral("P21"), QStringLiteral("DXF"),
        QStringLiteral("JWC"), QStringLiteral("PDF"), QStringLiteral("UMB"), QStringLiteral("EMF"),
        QStringLiteral("SVG"), QStringLiteral("HTM"), QStringLiteral("DWF")};
    return formats.contains(format);
}

QString ConversionBackend::formatOf(const QString &path)
{
    return QFileInfo(path).suffix().toUpper();
}

QString ConversionBackend::shown(const QString &path)
{
    return QDir::toNativeSeparators(path);
}
