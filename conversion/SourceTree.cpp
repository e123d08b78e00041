#include "conversion/SourceTree.h"

#include "platform/FileNames.h"
#include "platform/FolderScan.h"

#include <algorithm>
#include <utility>

namespace {

using Source = ConversionEngine::Source;

void Walk(const QByteArray &root, const QByteArray &baFolder, const QString &strFolder,
          const QByteArray &suffix, std::vector<Source> &aSources)
{
    const QByteArray path = Platform::JoinRawPath(root, baFolder);
    std::vector<QByteArray> aFolderNames;
    const QString strReason = FolderScan::ReadSubfolders(path, aFolderNames);
    if (!strReason.isEmpty()) {
        aSources.push_back({QByteArray(), QString(), baFolder, strFolder, strReason});
        return;
    }

    std::vector<FileRow> aRows;
    FolderScan::ReadEntries(path, suffix, 4096, [&aRows](FolderScan::Batch &&batch) {
        FolderScan::AppendRows(batch, aRows);
    });
    std::stable_sort(aRows.begin(), aRows.end(),
                     [](const FileRow &a, const FileRow &b) { return a.strName < b.strName; });
    for (const FileRow &row : aRows)
        aSources.push_back({row.RawName(), row.strName, baFolder, strFolder, QString()});

    // Two names that decode alike (both invalid in every encoding) are ordered by their bytes,
    // so that the order never depends on the folder's own.
    std::vector<std::pair<QString, QByteArray>> aFolders;
    aFolders.reserve(aFolderNames.size());
    for (QByteArray &name : aFolderNames)
        aFolders.emplace_back(Platform::DisplayFileName(name), std::move(name));
    std::sort(aFolders.begin(), aFolders.end());
    for (const auto &[strName, baName] : aFolders)
        Walk(root, baFolder + baName + '/', strFolder + strName + u'/', suffix, aSources);
}

} // namespace

std::vector<ConversionEngine::Source> SourceTree::List(const QByteArray &folder,
                                                       const QString &strExt)
{
    std::vector<Source> aSources;
    Walk(folder, QByteArray(), QString(), FolderScan::EncodeSuffix(strExt), aSources);
    return aSources;
}
