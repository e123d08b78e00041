#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// The DXF versions the writer can make, oldest first. Programs that read only R12 or R2000 need
// one of those; R2007 and later keep text in UTF-8 rather than the code page.
enum class DxfVersion { R12, R2000, R2004, R2007, R2010, R2013, R2018 };

namespace DxfVersions {

// R2000, which every DXF reader of the last twenty years reads and which keeps Shift-JIS text
// as Japanese programs expect it.
constexpr DxfVersion kDefault = DxfVersion::R2000;

QStringList names(); // oldest first
QString name(DxfVersion version);
// Without regard to case; nothing for a name that is none of them.
std::optional<DxfVersion> fromName(const QString &name);
QByteArray acadVer(DxfVersion version); // what $ACADVER says: AC1009 … AC1032

} // namespace DxfVersions
