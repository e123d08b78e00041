#include "server/dxf/DxfVersion.h"

namespace DxfVersions {

namespace {

struct Known
{
    DxfVersion version;
    const char *name;
    const char *acadVer;
};

constexpr Known kKnown[] = {
    {DxfVersion::R12, "R12", "AC1009"},     {DxfVersion::R2000, "R2000", "AC1015"},
    {DxfVersion::R2004, "R2004", "AC1018"}, {DxfVersion::R2007, "R2007", "AC1021"},
    {DxfVersion::R2010, "R2010", "AC1024"}, {DxfVersion::R2013, "R2013", "AC1027"},
    {DxfVersion::R2018, "R2018", "AC1032"},
};

const Known &known(DxfVersion version)
{
    return kKnown[int(version)];
}

} // namespace

QStringList names()
{
    QStringList result;
    for (const Known &k : kKnown)
        result.append(QString::fromLatin1(k.name));
    return result;
}

QString name(DxfVersion version)
{
    return QString::fromLatin1(known(version).name);
}

std::optional<DxfVersion> fromName(const QString &name)
{
    for (const Known &k : kKnown) {
        if (name.compare(QLatin1String(k.name), Qt::CaseInsensitive) == 0)
            return k.version;
    }
    return std::nullopt;
}

QByteArray acadVer(DxfVersion version)
{
    return known(version).acadVer;
}

} // namespace DxfVersions
