#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <optional>

// File names as the file system holds them: bytes, which need not be UTF-8. Archives made on
// Windows systems bring Shift-JIS names along; such a file must be shown readably and still be
// opened, deleted and converted as exactly that file, never as a look-alike whose name is the
// decoded text.
namespace Platform {

// True when name is valid UTF-8, the only names that a QString or a D-Bus string carries
// without loss.
bool IsUtf8Name(const QByteArray &name);

// The text shown for a name: UTF-8 as it is; otherwise Shift-JIS (code page 932) when the bytes
// are valid there; otherwise UTF-8 with replacement characters.
QString DisplayFileName(const QByteArray &name);

// strFolder, a "/" unless it ends in one, and the name's bytes.
QByteArray JoinRawPath(const QString &strFolder, const QByteArray &name);
QByteArray JoinRawPath(const QByteArray &folder, const QByteArray &name);

// path made absolute against the current folder, with "." and ".." and doubled "/" taken out as
// written, links left as they are: the bytes of what QDir::cleanPath gives for an absolute path.
QByteArray RawAbsolutePath(const QByteArray &path);
// path with every link, "." and ".." resolved; empty when it leads nowhere.
QByteArray RawCanonicalPath(const QByteArray &path);
// A folder, or a link to one.
bool RawFolderExists(const QByteArray &path);
// Makes the folder path with every missing folder above it, as mkdir -p does. Empty when the
// folder is there afterwards, otherwise the system's reason.
QString RawMakeFolders(const QByteArray &path);
// Removes the folder path and the folders above it, down to and with top, as long as each is
// empty: what RawMakeFolders made for a file that then was not written.
void RawRemoveEmptyFolders(const QByteArray &path, const QByteArray &top);

// The existence test of a conversion run: a file that is not a folder.
bool RawFileExists(const QByteArray &path);
// Last change in whole seconds since 1970, or nothing when the file cannot be examined. Every
// value is a time: drawings from before 1970 have negative ones.
std::optional<qint64> RawLastWriteTime(const QByteArray &path);

// A file URL that leads to exactly this path, also when it is not UTF-8.
QUrl RawFileUrl(const QByteArray &path);

// A path the drawing program can be given over D-Bus for a file whose path is not UTF-8: for a
// source, a link with a valid name in a private folder; for a target, the name as shown
// (DisplayFileName) in a private folder inside the target's own folder, which Commit() renames to
// the real name afterwards, reached through a link to the target's folder in a private folder
// when that folder's own path is not UTF-8. For a UTF-8 path the path itself. Whatever was made
// is removed again when the object ends.
class Utf8PathBridge
{
public:
    enum class Use { Read, Write };

    Utf8PathBridge(const QByteArray &path, Use use);
    ~Utf8PathBridge();
    Utf8PathBridge(const Utf8PathBridge &) = delete;
    Utf8PathBridge &operator=(const Utf8PathBridge &) = delete;

    // Empty when no such path could be made.
    QString Path() const { return m_strPath; }
    // For a target: gives the written file its real name. False when that failed; the written
    // file is then removed.
    bool Commit();

private:
    QByteArray m_baReal;
    QString m_strPath;
    QByteArray m_baMade; // the temporary target to rename or remove, if any
    QByteArray m_baTargetFolder; // the private folder of a temporary target
    QByteArray m_baLink; // the link to remove, if any
    QByteArray m_baFolder; // the private folder of a link
};

} // namespace Platform
