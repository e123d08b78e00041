#include "platform/FolderScan.h"

#include "platform/FileNames.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace FolderScan {

namespace {

char AsciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

constexpr size_t kAverageName = 32;

} // namespace

// Runs on the raw bytes of every entry, most of which do not match: no decoding, no allocation.
bool HasSuffix(const char *pszName, size_t nLength, const QByteArray &suffix)
{
    const size_t nSuffix = size_t(suffix.size());
    if (nLength < nSuffix)
        return false;
    const char *pszTail = pszName + (nLength - nSuffix);
    for (size_t i = 0; i < nSuffix; ++i) {
        if (AsciiLower(pszTail[i]) != suffix[qsizetype(i)])
            return false;
    }
    return true;
}

QByteArray EncodeFolder(const QString &strFolder)
{
    return strFolder.isEmpty() ? QByteArray(".") : QFile::encodeName(strFolder);
}

QByteArray EncodeSuffix(const QString &strExt)
{
    QByteArray suffix = '.' + QFile::encodeName(strExt);
    for (char &c : suffix)
        c = AsciiLower(c);
    return suffix;
}

bool ReadEntries(const QByteArray &folder, const QByteArray &suffix, size_t nBatch,
                 const std::function<void(Batch &&)> &fnBatch)
{
    DIR *pDir = opendir(folder.constData());
    if (!pDir)
        return false;
    const int fdDir = dirfd(pDir);
    const auto newBatch = [nBatch] {
        Batch batch;
        batch.strNames.reserve(nBatch * kAverageName);
        batch.aEntries.reserve(nBatch);
        return batch;
    };
    Batch batch = newBatch();
    while (const dirent *pEntry = readdir(pDir)) {
        const char *pszName = pEntry->d_name;
        if (pszName[0] == '.')
            continue;
        // A directory needs no stat to be passed over; a link or an unknown type does.
        if (pEntry->d_type == DT_DIR)
            continue;
        const size_t nLength = std::strlen(pszName);
        if (!HasSuffix(pszName, nLength, suffix))
            continue;
        struct stat st;
        if (fstatat(fdDir, pszName, &st, 0) != 0 || !S_ISREG(st.st_mode))
            continue;
        batch.aEntries.push_back(
            {batch.strNames.size(), nLength, qint64(st.st_size), qint64(st.st_mtim.tv_sec)});
        batch.strNames.append(pszName, nLength + 1);
        if (batch.aEntries.size() == nBatch) {
            fnBatch(std::move(batch));
            batch = newBatch();
        }
    }
    closedir(pDir);
    if (!batch.aEntries.empty())
        fnBatch(std::move(batch));
    return true;
}

QString ReadSubfolders(const QByteArray &folder, std::vector<QByteArray> &aNames)
{
    DIR *pDir = opendir(folder.constData());
    if (!pDir)
        return QString::fromLocal8Bit(std::strerror(errno));
    const int fdDir = dirfd(pDir);
    while (const dirent *pEntry = readdir(pDir)) {
        const char *pszName = pEntry->d_name;
        if (pszName[0] == '.')
            continue;
        // Only a file system that does not say the type costs a stat; lstat's, so that a link is
        // seen as a link.
        struct stat st;
        const bool bFolder = pEntry->d_type == DT_UNKNOWN
            ? fstatat(fdDir, pszName, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode)
            : pEntry->d_type == DT_DIR;
        if (bFolder)
            aNames.emplace_back(pszName);
    }
    closedir(pDir);
    return QString();
}

size_t EstimateEntries(const QByteArray &folder)
{
    struct stat st;
    if (stat(folder.constData(), &st) != 0 || st.st_size <= 0)
        return 0;
    return size_t(std::min<off_t>(st.st_size / kAverageName, 1 << 20));
}

void AppendRows(const Batch &batch, std::vector<FileRow> &aRows)
{
    for (const Batch::Entry &entry : batch.aEntries) {
        FileRow &row = aRows.emplace_back();
        const QByteArray name = QByteArray::fromRawData(batch.strNames.data() + entry.nNameOffset,
                                                        qsizetype(entry.nNameLength));
        // Only a name that would not survive decoding costs a copy of its bytes.
        if (QByteArrayView(name).isValidUtf8()) {
            row.strName = QString::fromUtf8(name);
        } else {
            row.strName = Platform::DisplayFileName(name);
            row.baRawName = QByteArray(name.constData(), name.size());
        }
        row.nSize = entry.nSize;
        row.nModified = entry.nModified;
    }
}

// Reading a large folder mostly waits for the file system. So the folder is read on a second
// thread, while this one runs fnMeanwhile and turns each batch of entries into rows, and the
// names into collation keys (the dearest part of sorting by name), as the batches come in: when
// the last entry has been read, little work is left.
Listing ReadFolder(const QString &strFolder, const QString &strExt, const QCollator *pCollator,
                   const std::function<void()> &fnMeanwhile)
{
    constexpr size_t kBatch = 2048;
    const QByteArray folder = EncodeFolder(strFolder);
    const QByteArray suffix = EncodeSuffix(strExt);
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<Batch> aQueue;
    bool bDone = false;
    const auto read = [&] {
        ReadEntries(folder, suffix, kBatch, [&](Batch &&batch) {
            {
                const std::lock_guard<std::mutex> lock(mutex);
                aQueue.push_back(std::move(batch));
            }
            ready.notify_one();
        });
        {
            const std::lock_guard<std::mutex> lock(mutex);
            bDone = true;
        }
        ready.notify_one();
    };
    std::thread reader;
    try {
        reader = std::thread(read);
    } catch (const std::system_error &) {
        read();
    }
    fnMeanwhile();

    Listing listing;
    const size_t nExpected = EstimateEntries(folder);
    listing.aRows.reserve(nExpected);
    if (pCollator)
        listing.aNameKeys.reserve(nExpected);
    for (;;) {
        Batch batch;
        {
            std::unique_lock<std::mutex> lock(mutex);
            ready.wait(lock, [&] { return bDone || !aQueue.empty(); });
            if (aQueue.empty())
                break;
            batch = std::move(aQueue.front());
            aQueue.pop_front();
        }
        const size_t nFirst = listing.aRows.size();
        AppendRows(batch, listing.aRows);
        if (pCollator) {
            for (size_t i = nFirst; i < listing.aRows.size(); ++i)
                listing.aNameKeys.push_back(pCollator->sortKey(listing.aRows[i].strName));
        }
    }
    if (reader.joinable())
        reader.join();
    return listing;
}

std::vector<FileRow> ListFiles(const QString &strFolder, const QString &strExt, bool *pbOpened)
{
    std::vector<FileRow> aRows;
    const QByteArray folder = EncodeFolder(strFolder);
    aRows.reserve(EstimateEntries(folder));
    const bool bOpened = ReadEntries(EncodeFolder(strFolder), EncodeSuffix(strExt), 4096,
                                     [&aRows](Batch &&batch) { AppendRows(batch, aRows); });
    if (pbOpened)
        *pbOpened = bOpened;
    return aRows;
}

} // namespace FolderScan
