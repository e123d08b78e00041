#pragma once

#include <QByteArray>
#include <QCollator>
#include <QString>

#include <functional>
#include <string>
#include <vector>

// One listed file. Kept compact: the display texts are formed when the view asks for them.
struct FileRow
{
    QString strName; // as shown
    // The name's bytes when they are not UTF-8 (strName then only looks like the name); empty
    // otherwise, as the bytes are strName's own.
    QByteArray baRawName;
    qint64 nSize = 0; // bytes, full 64 bits
    qint64 nModified = 0; // time of last change, seconds since 1970-01-01 UTC (may be negative)

    // The name as the folder holds it: what every file operation must use.
    QByteArray RawName() const { return baRawName.isEmpty() ? strName.toUtf8() : baRawName; }
};

namespace FolderScan {

// Matching entries as the folder holds them, names still undecoded: reading a folder creates no
// Qt object, so it can run on any thread while another makes the rows.
struct Batch
{
    struct Entry
    {
        size_t nNameOffset; // into strNames; each name ends in a NUL
        size_t nNameLength;
        qint64 nSize;
        qint64 nModified;
    };
    std::string strNames;
    std::vector<Entry> aEntries;
};

// Reads the files of folder (a path in the file system's encoding) whose names end in suffix
// (".dxf": a dot and the lower-case extension in the file system's encoding), the suffix
// compared without regard to ASCII case. Hidden names (a leading ".") and anything that is not
// a regular file after following symbolic links are passed over, and so is an entry that
// vanishes or cannot be examined while the folder is read. The entries are handed to fnBatch,
// on the calling thread, in batches of at most nBatch, in the order the folder holds them. False
// when the folder cannot be read at all.
bool ReadEntries(const QByteArray &folder, const QByteArray &suffix, size_t nBatch,
                 const std::function<void(Batch &&)> &fnBatch);

// The names of the folders inside folder, as the folder holds them and in its order, hidden ones
// and links to folders passed over: a tree is walked without leaving it or going round in a
// circle. Empty when the folder could be read, else the system's reason.
QString ReadSubfolders(const QByteArray &folder, std::vector<QByteArray> &aNames);

// Whether a name of nLength bytes ends in suffix, as ReadEntries compares them.
bool HasSuffix(const char *pszName, size_t nLength, const QByteArray &suffix);

// The arguments of ReadEntries for a folder (the current directory when empty) and an extension.
QByteArray EncodeFolder(const QString &strFolder);
QByteArray EncodeSuffix(const QString &strExt);

// How many entries the folder may hold, from its size (some tens of bytes per entry on the usual
// file systems): a hint for reserving room, neither a bound nor exact.
size_t EstimateEntries(const QByteArray &folder);

// Appends a row for each entry of batch.
void AppendRows(const Batch &batch, std::vector<FileRow> &aRows);

// The files of a folder, as ReadFolder lists them.
struct Listing
{
    std::vector<FileRow> aRows;
    std::vector<QCollatorSortKey> aNameKeys; // each row's name key, when a collator was given
};

// Every matching file of strFolder (the current directory when empty) with extension strExt, read
// on a second thread while this one runs fnMeanwhile and makes the rows, and the names' keys by
// pCollator when one is given.
Listing ReadFolder(const QString &strFolder, const QString &strExt, const QCollator *pCollator,
                   const std::function<void()> &fnMeanwhile);

// Every matching file of strFolder (the current directory when empty) with extension strExt,
// read and decoded on the calling thread.
std::vector<FileRow> ListFiles(const QString &strFolder, const QString &strExt,
                               bool *pbOpened = nullptr);

} // namespace FolderScan
