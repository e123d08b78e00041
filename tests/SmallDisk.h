#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cerrno>
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

// A tmpfs of a few pages mounted on a temporary folder, to see what a full disk does to a write.
// Mounting needs privileges a test may lack; isMounted() then says to skip.
class SmallDisk
{
public:
    explicit SmallDisk(int kib = 64)
    {
        const QByteArray options = "size=" + QByteArray::number(kib) + 'k';
        m_bMounted = m_dir.isValid()
            && ::mount("tmpfs", QFile::encodeName(m_dir.path()).constData(), "tmpfs",
                       MS_NOSUID | MS_NODEV, options.constData())
                == 0;
    }
    ~SmallDisk()
    {
        if (m_bMounted)
            ::umount2(QFile::encodeName(m_dir.path()).constData(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk &) = delete;
    SmallDisk &operator=(const SmallDisk &) = delete;

    bool isMounted() const { return m_bMounted; }
    QString path() const { return m_dir.path(); }

    // Takes every free byte, so that the next write of a single byte fails with ENOSPC.
    bool fill() const
    {
        const int fd
            = ::open(QFile::encodeName(m_dir.filePath(QStringLiteral(".filler"))).constData(),
                     O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0)
            return false;
        static const char block[512] = {};
        while (::write(fd, block, sizeof block) > 0) { }
        while (::write(fd, block, 1) > 0) { }
        const bool full = errno == ENOSPC;
        ::close(fd);
        return full;
    }

private:
    QTemporaryDir m_dir;
    bool m_bMounted = false;
};
