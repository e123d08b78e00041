// The folder scan with raw names: files, folders and links to folders named with any bytes (not
// UTF-8, control characters, look-alikes) are created in a fresh folder, and the scan must list
// exactly the visible files that end in the extension and exactly the visible folders that are no
// links, each name exactly as the folder holds it.
#include "fuzz/FuzzCheck.h"
#include "platform/FolderScan.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

bool endsWithNoCase(const std::string &strName, const std::string &strSuffix)
{
    if (strName.size() < strSuffix.size())
        return false;
    for (size_t i = 0; i < strSuffix.size(); ++i) {
        char c = strName[strName.size() - strSuffix.size() + i];
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
        if (c != strSuffix[i])
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QString strRoot
        = QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    FuzzedDataProvider provider(data, size);
    QTemporaryDir dir(strRoot + QStringLiteral("/norvale-fuzz-XXXXXX"));
    const QByteArray folder = QFile::encodeName(dir.path());
    const std::string strSuffix = provider.ConsumeBool() ? ".dxf" : ".sfc";

    std::set<std::string> aExpected;
    std::set<std::string> aExpectedFolders;
    std::vector<std::pair<std::string, bool>> aMade; // QTemporaryDir cannot remove every name
    const size_t nFiles = provider.ConsumeIntegralInRange<size_t>(0, 12);
    for (size_t i = 0; i < nFiles; ++i) {
        std::string strName = provider.ConsumeRandomLengthString(40);
        if (provider.ConsumeBool())
            strName += provider.ConsumeBool() ? ".DXF" : ".sfc";
        if (strName.empty() || strName.size() > 255 || strName == "." || strName == ".."
            || strName.find('/') != std::string::npos || strName.find('\0') != std::string::npos)
            continue;
        const std::string strPath = folder.toStdString() + '/' + strName;
        const int nKind = provider.ConsumeIntegralInRange<int>(0, 2); // file, folder, link
        if (nKind == 1 && ::mkdir(strPath.c_str(), 0700) == 0) {
            aMade.emplace_back(strPath, true);
            if (strName[0] != '.')
                aExpectedFolders.insert(strName);
            continue;
        }
        if (nKind == 2 && ::symlink(".", strPath.c_str()) == 0) {
            aMade.emplace_back(strPath, false);
            continue;
        }
        const int fd = ::open(strPath.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0)
            continue;
        ::close(fd);
        aMade.emplace_back(strPath, false);
        if (strName[0] != '.' && endsWithNoCase(strName, strSuffix))
            aExpected.insert(strName);
    }

    std::set<std::string> aListed;
    const bool bOpened = FolderScan::ReadEntries(
        folder, QByteArray::fromStdString(strSuffix), 3, [&aListed](FolderScan::Batch &&batch) {
            for (const FolderScan::Batch::Entry &entry : batch.aEntries)
                aListed.insert(batch.strNames.substr(entry.nNameOffset, entry.nNameLength));
        });
    check(bOpened, "folder opened");
    check(aListed == aExpected, "listed names");
    // The rows made from the names are as many as the names.
    check(FolderScan::ListFiles(dir.path(), QString::fromStdString(strSuffix.substr(1))).size()
              == aExpected.size(),
          "rows");
    std::vector<QByteArray> aFolderNames;
    check(FolderScan::ReadSubfolders(folder, aFolderNames).isEmpty(), "folders read");
    std::set<std::string> aFolders;
    for (const QByteArray &name : aFolderNames)
        aFolders.insert(name.toStdString());
    check(aFolders == aExpectedFolders && aFolders.size() == aFolderNames.size(), "folders");
    for (const auto &[strPath, bFolder] : aMade)
        bFolder ? ::rmdir(strPath.c_str()) : ::unlink(strPath.c_str());
    return 0;
}
