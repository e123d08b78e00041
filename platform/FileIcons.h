#pragma once

#include <QIcon>
#include <QString>

namespace FileIcons {

// The desktop's icon for files with extension strExt (no dot), matched without regard to case.
// Looked up once per extension and kept, so a listing never asks the desktop once per row.
QIcon ForExtension(const QString &strExt);

} // namespace FileIcons
