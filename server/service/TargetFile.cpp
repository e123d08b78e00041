#include "server/service/TargetFile.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Closes a descriptor when the scope ends, unless it was handed back.
class Descriptor
{
public:
    explicit Descriptor(int fd)
        : m_fd(fd)
    { }
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return m_fd; }
    int release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }

private:
    int m_fd;
};

} // namespace

bool TargetFile::write(const QString &path, const Fill &fill, QString *errorMessage)
{
    const QFileInfo info(path);
    const QByteArray name = QFile::encodeName(info.fileName());
    const Descriptor folder(::open(QFile::encodeName(info.absolutePath()).constData(),
                                   O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0) {
        *errorMessage = systemError(errno);
        return false;
    }

    // Hidden, so that no listing of the folder shows a half-written drawing.
    QByteArray temporaryName;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporaryName = ".tarsk-standin-"
            + QByteArray::number(QRandomGenerator::global()->generate64(), 36) + ".tmp";
        fd = ::openat(folder.get(), temporaryName.constData(),
                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        *errorMessage = systemError(errno);
        return false;
    }
    Descriptor temporary(fd);

    QString reason;
    bool ok = false;
    {
        QFile file;
        if (file.open(fd, QIODevice::WriteOnly, QFileDevice::DontCloseHandle)) {
            ok = fill(file, &reason);
            // A write the writer did not check still leaves its mark on the device.
            if (ok && (!file.flush() || file.error() != QFileDevice::NoError)) {
                ok = false;
                reason = file.errorString();
            }
            file.close();
        } else {
            reason = file.errorString();
        }
    }
    if (ok && ::fsync(fd) != 0) {
        ok = false;
        reason = systemError(errno);
    }
    if (::close(temporary.release()) != 0 && ok) {
        ok = false;
        reason = systemError(errno);
    }
    if (ok
        && ::renameat(folder.get(), temporaryName.constData(), folder.get(), name.constData())
            != 0) {
        ok = false;
        reason = systemError(errno);
    }
    if (!ok) {
        ::unlinkat(folder.get(), temporaryName.constData(), 0);
        *errorMessage = reason.isEmpty() ? QStringLiteral("書き込みに失敗しました") : reason;
        return false;
    }
    // The new name must survive a crash as well as the new contents.
    ::fsync(folder.get());
    return true;
}
