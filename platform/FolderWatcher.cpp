#include "platform/FolderWatcher.h"

#include "platform/FolderScan.h"

#include <QElapsedTimer>
#include <QSocketNotifier>

#include <algorithm>
#include <cstring>

#include <sys/inotify.h>
#include <unistd.h>

namespace {

// Writing a file tells at its close, not at every write; a touch or a change of rights tells as
// an attribute. The folder's own removal or move ends what it can show.
constexpr uint32_t kFolderEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO
    | IN_CLOSE_WRITE | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
constexpr uint32_t kSelfEvents = IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED;
// The longest wait, however long the listeners took: a change must show within a second or so.
constexpr int kLongestWaitMs = 1000;

} // namespace

FolderWatcher::FolderWatcher(QObject *parent)
    : QObject(parent)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &FolderWatcher::Tell);
    m_fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    // Without inotify (no more instances left) the lists are as a refresh leaves them.
    if (m_fd >= 0) {
        m_pNotifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
        connect(m_pNotifier, &QSocketNotifier::activated, this, [this] { ReadEvents(true); });
    }
}

FolderWatcher::~FolderWatcher()
{
    if (m_fd >= 0)
        close(m_fd);
}

void FolderWatcher::Watch(const QByteArray &folder, const QByteArray &suffix)
{
    if (m_fd < 0)
        return;
    // First what is waiting, which may tell that the watch is gone: a folder of the same name made
    // anew needs a watch of its own.
    ReadEvents(false);
    m_suffix = suffix;
    if (folder != m_folder || m_wd < 0) {
        if (m_wd >= 0)
            inotify_rm_watch(m_fd, m_wd);
        m_folder = folder;
        m_wd = folder.isEmpty() ? -1 : inotify_add_watch(m_fd, folder.constData(), kFolderEvents);
    }
    m_bNoted = false;
    m_timer.stop();
}

void FolderWatcher::Hold(bool bHold)
{
    m_bHeld = bHold;
    if (bHold && m_timer.isActive()) {
        m_timer.stop();
        m_bNoted = true;
    }
    if (!bHold && m_bNoted) {
        m_bNoted = false;
        Note();
    }
}

void FolderWatcher::ReadEvents(bool bTell)
{
    alignas(inotify_event) char buffer[16384];
    bool bRelevant = false;
    for (;;) {
        const ssize_t nRead = read(m_fd, buffer, sizeof buffer);
        if (nRead <= 0)
            break;
        for (ssize_t nOffset = 0; nOffset < nRead;) {
            const auto *pEvent = reinterpret_cast<const inotify_event *>(buffer + nOffset);
            nOffset += ssize_t(sizeof(inotify_event) + pEvent->len);
            if (pEvent->mask & IN_Q_OVERFLOW) {
                bRelevant = true;
                continue;
            }
            // Events of a folder watched before arrive until its watch is gone.
            if (pEvent->wd != m_wd)
                continue;
            if (pEvent->mask & kSelfEvents) {
                if (pEvent->mask & IN_IGNORED)
                    m_wd = -1;
                bRelevant = true;
                continue;
            }
            if (pEvent->len == 0 || (pEvent->mask & IN_ISDIR))
                continue;
            const size_t nLength = strnlen(pEvent->name, pEvent->len);
            // The listing shows no hidden names; a program writes its temporary file under one.
            if (pEvent->name[0] != '.' && FolderScan::HasSuffix(pEvent->name, nLength, m_suffix))
                bRelevant = true;
        }
    }
    if (bTell && bRelevant)
        Note();
}

void FolderWatcher::Note()
{
    if (m_bHeld) {
        m_bNoted = true;
        return;
    }
    if (m_timer.isActive())
        return;
    // The listeners are left at least as long idle as they last took.
    const qint64 nIdle = m_lastTold.isValid() ? m_lastTold.elapsed() : kLongestWaitMs;
    m_timer.start(int(std::clamp<qint64>(m_nLastCostMs - nIdle, kShortestWaitMs, kLongestWaitMs)));
}

void FolderWatcher::Tell()
{
    QElapsedTimer timer;
    timer.start();
    emit changed();
    m_nLastCostMs = timer.elapsed();
    m_lastTold.start();
}
