#include "platform/FileNames.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Platform {

namespace {

// Decodes code page 932 strictly: bValid is false when any byte sequence is no character there.
QString DecodeCp932(const QByteArray &name, bool &bValid)
{
    bValid = false;
    iconv_t cd = iconv_open("UTF-8", "CP932");
    if (cd == iconv_t(-1))
        return QString();
    QByteArray out(name.size() * 3 + 4, Qt::Uninitialized);
    char *pIn = const_cast<char *>(name.constData());
    size_t nIn = size_t(name.size());
    char *pOut = out.data();
    size_t nOut = size_t(out.size());
    const size_t result = iconv(cd, &pIn, &nIn, &pOut, &nOut);
    iconv_close(cd);
    if (result == size_t(-1) || nIn != 0)
        return QString();
    out.truncate(out.size() - qsizetype(nOut));
    bValid = true;
    return QString::fromUtf8(out);
}

} // namespace

bool IsUtf8Name(const QByteArray &name)
{
    return QByteArrayView(name).isValidUtf8();
}

QString DisplayFileName(const QByteArray &name)
{
    if (IsUtf8Name(name))
        return QString::fromUtf8(name);
    bool bValid = false;
    const QString text = DecodeCp932(name, bValid);
    return bValid ? text : QString::fromUtf8(name);
}

QByteArray JoinRawPath(const QString &strFolder, const QByteArray &name)
{
    return JoinRawPath(QFile::encodeName(strFolder), name);
}

QByteArray JoinRawPath(const QByteArray &folder, const QByteArray &name)
{
    return folder.endsWith('/') ? folder + name : folder + '/' + name;
}

QByteArray RawAbsolutePath(const QByteArray &path)
{
    QByteArray whole = path;
    if (!path.startsWith('/')) {
        // getcwd, not QDir::currentPath(): a current folder whose name is not UTF-8 must stay
        // the same folder.
        QByteArray current(4096, Qt::Uninitialized);
        while (!::getcwd(current.data(), size_t(current.size()))) {
            if (errno != ERANGE)
                return QByteArray();
            current.resize(current.size() * 2);
        }
        whole = JoinRawPath(QByteArray(current.constData()), path);
    }
    QList<QByteArray> aParts;
    for (const QByteArray &part : whole.split('/')) {
        if (part == "..") {
            if (!aParts.isEmpty())
                aParts.removeLast();
        } else if (!part.isEmpty() && part != ".") {
            aParts << part;
        }
    }
    return '/' + aParts.join('/');
}

QByteArray RawCanonicalPath(const QByteArray &path)
{
    char *pszReal = ::realpath(path.constData(), nullptr);
    const QByteArray real(pszReal);
    std::free(pszReal);
    return real;
}

bool RawFolderExists(const QByteArray &path)
{
    struct stat st;
    return ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

QString RawMakeFolders(const QByteArray &path)
{
    // Each folder from the top down; one that another process makes meanwhile is as good.
    for (qsizetype nSlash = path.indexOf('/', 1);; nSlash = path.indexOf('/', nSlash + 1)) {
        const QByteArray folder = nSlash < 0 ? path : path.left(nSlash);
        if (!folder.isEmpty() && ::mkdir(folder.constData(), 0777) != 0 && errno != EEXIST)
            return QString::fromLocal8Bit(std::strerror(errno));
        if (nSlash < 0)
            break;
    }
    return RawFolderExists(path) ? QString() : QString::fromLocal8Bit(std::strerror(ENOTDIR));
}

void RawRemoveEmptyFolders(const QByteArray &path, const QByteArray &top)
{
    // rmdir refuses a folder that holds anything, so nothing but the empty ones goes.
    for (QByteArray folder = path; folder.size() >= top.size() && folder.startsWith(top);
         folder.truncate(folder.lastIndexOf('/'))) {
        if (::rmdir(folder.constData()) != 0)
            break;
    }
}

bool RawFileExists(const QByteArray &path)
{
    struct stat st;
    return ::stat(path.constData(), &st) == 0 && !S_ISDIR(st.st_mode);
}

std::optional<qint64> RawLastWriteTime(const QByteArray &path)
{
    struct stat st;
    if (::stat(path.constData(), &st) != 0)
        return std::nullopt;
    return qint64(st.st_mtim.tv_sec);
}

QUrl RawFileUrl(const QByteArray &path)
{
    if (IsUtf8Name(path))
        return QUrl::fromLocalFile(QString::fromUtf8(path));
    // Percent-encoded bytes that are no UTF-8 stay encoded in a QUrl, so the URL keeps the name.
    return QUrl::fromEncoded("file://" + path.toPercentEncoding("/"), QUrl::StrictMode);
}

Utf8PathBridge::Utf8PathBridge(const QByteArray &path, Use use)
    : m_baReal(path)
{
    if (IsUtf8Name(path)) {
        m_strPath = QString::fromUtf8(path);
        return;
    }
    const qsizetype nSlash = path.lastIndexOf('/');
    const QByteArray parent = path.left(nSlash + 1);
    const QByteArray name = path.mid(nSlash + 1);
    const qsizetype nDot = name.lastIndexOf('.');
    const QByteArray ext = nDot >= 0 && IsUtf8Name(name.mid(nDot)) ? name.mid(nDot) : QByteArray();
    QByteArray written; // the target's name as the drawing program is given it
    if (use == Use::Write) {
        // The drawing program titles a target by the name it saves to, so that name is the one
        // the user sees, in a private folder of its own. The folder is in the target's folder,
        // so that the rename cannot cross file systems, and hidden, so that no listing shows it.
        QByteArray folder = parent + ".norvale-XXXXXX";
        if (!::mkdtemp(folder.data()))
            return;
        m_baTargetFolder = folder;
        QString strBase = DisplayFileName(nDot >= 0 ? name.left(nDot) : name);
        // Decoded, a name takes more bytes than the file system may allow for one.
        while (strBase.toUtf8().size() + ext.size() > NAME_MAX && !strBase.isEmpty())
            strBase.chop(strBase.back().isLowSurrogate() ? 2 : 1);
        written = folder.mid(nSlash + 1) + '/' + strBase.toUtf8() + ext;
        m_baMade = parent + written;
        if (IsUtf8Name(parent)) {
            m_strPath = QString::fromUtf8(m_baMade);
            return;
        }
    }
    // Otherwise through a link, to the source or to the target's folder, in a folder only this
    // user can enter, so that nobody can swap the link for another.
    const QString strBase = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation)
        + QStringLiteral("/Norvale");
    QDir().mkpath(strBase);
    QByteArray folder = QFile::encodeName(strBase) + "/link-XXXXXX";
    if (!IsUtf8Name(folder) || !::mkdtemp(folder.data()))
        return;
    m_baFolder = folder;
    const QByteArray link = folder + (use == Use::Read ? "/source" + ext : QByteArray("/folder"));
    if (::symlink((use == Use::Read ? path : parent).constData(), link.constData()) != 0)
        return;
    m_baLink = link;
    m_strPath = QString::fromUtf8(use == Use::Read ? link : link + '/' + written);
}

Utf8PathBridge::~Utf8PathBridge()
{
    if (!m_baMade.isEmpty())
        ::unlink(m_baMade.constData());
    // Whatever a failed save left in the private folder goes with it: a drawing program that
    // crashed in the middle of writing leaves its own temporary file behind.
    if (!m_baTargetFolder.isEmpty()) {
        if (DIR *dir = ::opendir(m_baTargetFolder.constData())) {
            while (const dirent *entry = ::readdir(dir)) {
                if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                    ::unlinkat(::dirfd(dir), entry->d_name, 0);
            }
            ::closedir(dir);
        }
        ::rmdir(m_baTargetFolder.constData());
    }
    if (!m_baLink.isEmpty())
        ::unlink(m_baLink.constData());
    if (!m_baFolder.isEmpty())
        ::rmdir(m_baFolder.constData());
}

bool Utf8PathBridge::Commit()
{
    if (m_baMade.isEmpty())
        return true;
    if (::rename(m_baMade.constData(), m_baReal.constData()) != 0)
        return false;
    m_baMade.clear();
    return true;
}

} // namespace Platform
