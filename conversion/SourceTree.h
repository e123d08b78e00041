#pragma once

#include "conversion/ConversionEngine.h"

#include <QByteArray>
#include <QString>

#include <vector>

// The drawings of a folder and of every folder below it, in the order a run takes them: depth
// first, a folder's drawings by name before its subfolders by name, both compared as the
// automatic run compares names, so that two runs over one tree go the same way. Hidden files and
// folders are left out as the automatic run leaves out hidden files; a link to a drawing counts,
// a link to a folder is not followed, so that a walk neither leaves the tree nor goes round in
// it. A folder that cannot be read becomes a source of its own, and the run fails it in its
// place.
class SourceTree
{
public:
    // folder is absolute, in the file system's bytes; strExt the source format (SFC).
    static std::vector<ConversionEngine::Source> List(const QByteArray &folder,
                                                      const QString &strExt);
};
