#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class QSocketNotifier;

// Tells when the files a pane lists change on disk: a file of the folder with the listed
// extension created, removed, renamed, written or touched, or the folder itself removed or
// moved. Bursts come as one signal: the first change starts a short wait that later changes join;
// and the listeners are left idle at least as long as they took last time (a folder of 100,000
// files), so that a folder that keeps changing never keeps the window busy listing it.
class FolderWatcher : public QObject
{
    Q_OBJECT

public:
    // The wait between a change and its signal when listening costs little.
    static constexpr int kShortestWaitMs = 250;

    explicit FolderWatcher(QObject *parent = nullptr);
    ~FolderWatcher() override;

    // Watches folder (in the file system's encoding; empty: nothing) for names ending in suffix
    // (FolderScan::EncodeSuffix). What changed until now is forgotten: the caller is about to
    // read the folder, which shows it.
    void Watch(const QByteArray &folder, const QByteArray &suffix);
    // While held, changes are noted but not told; released, what was noted is told.
    void Hold(bool bHold);

signals:
    void changed();

private:
    void ReadEvents(bool bTell);
    void Note();
    void Tell();

    int m_fd = -1;
    int m_wd = -1;
    QByteArray m_folder;
    QByteArray m_suffix;
    QSocketNotifier *m_pNotifier = nullptr;
    QTimer m_timer;
    bool m_bHeld = false;
    bool m_bNoted = false;
    qint64 m_nLastCostMs = 0;
    QElapsedTimer m_lastTold; // since the listeners last returned
};
