// Lists a folder of 100,000 drawings (beside 10,000 other files) into the source pane of a real
// main window, offscreen, and compares the time with the floor that no listing can beat: reading
// the folder and examining each matching entry. Prints "<name> <value>" lines.

#include "app/CConverterDlg.h"
#include "panes/FileListModel.h"

#include <QApplication>
#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QLocale>
#include <QTreeView>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kDrawings = 100000;
constexpr int kOthers = 10000;
constexpr int kRepetitions = 7;

// Varied names: mixed case, digits, Japanese words, several lengths; every name is unique through
// its serial number.
const char *const kStems[] = {"plan",   "Plan",    "section", "DETAIL", "elev",     "図面",
                              "立面図", "平面図_", "a",       "B-",     "site_lot", "構造"};
const char *const kDrawingExts[] = {"dxf", "DXF", "Dxf"};
const char *const kOtherExts[] = {"jww", "dwg", "txt", "dxf.bak", "DXF~"};

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

long PeakRssKib()
{
    FILE *pFile = std::fopen("/proc/self/status", "r");
    if (!pFile)
        return 0;
    long nKib = 0;
    char szLine[256];
    while (std::fgets(szLine, sizeof szLine, pFile)) {
        if (std::strncmp(szLine, "VmHWM:", 6) == 0) {
            nKib = std::strtol(szLine + 6, nullptr, 10);
            break;
        }
    }
    std::fclose(pFile);
    return nKib;
}

// Plain POSIX, no Qt strings: making the folder must not raise the peak memory measured later.
bool MakeFolder(const char *pszFolder)
{
    if (mkdir(pszFolder, 0700) != 0)
        return false;
    const int fdDir = open(pszFolder, O_RDONLY | O_DIRECTORY);
    if (fdDir < 0)
        return false;
    std::mt19937 random(20240607);
    // 1995 to 2030, so the time column spans months, years and minutes.
    std::uniform_int_distribution<time_t> time(812000000, 1900000000);
    std::uniform_int_distribution<off_t> size(0, 8 * 1024 * 1024);
    char szName[128];
    bool bOk = true;
    for (int i = 0; i < kDrawings + kOthers && bOk; ++i) {
        const char *pszStem = kStems[random() % std::size(kStems)];
        const char *pszExt = i < kDrawings ? kDrawingExts[random() % std::size(kDrawingExts)]
                                           : kOtherExts[random() % std::size(kOtherExts)];
        std::snprintf(szName, sizeof szName, "%s%u_%06d.%s", pszStem, unsigned(random() % 1000), i,
                      pszExt);
        const int fd = openat(fdDir, szName, O_WRONLY | O_CREAT | O_EXCL, 0600);
        if (fd < 0) {
            bOk = false;
            break;
        }
        // Sparse: varied sizes cost no disk space.
        const timespec times[2] = {{time(random), 0}, {time(random), 0}};
        bOk = ftruncate(fd, size(random)) == 0 && futimens(fd, times) == 0;
        close(fd);
    }
    // The kernel would otherwise still be writing the new inodes back while the timings run.
    syncfs(fdDir);
    close(fdDir);
    return bOk;
}

void RemoveFolder(const char *pszFolder)
{
    if (DIR *pDir = opendir(pszFolder)) {
        while (const dirent *pEntry = readdir(pDir)) {
            if (std::strcmp(pEntry->d_name, ".") != 0 && std::strcmp(pEntry->d_name, "..") != 0)
                unlinkat(dirfd(pDir), pEntry->d_name, 0);
        }
        closedir(pDir);
    }
    rmdir(pszFolder);
}

// The floor: read the folder, keep the names that end in ".dxf" (any case), examine each.
int ScanFloor(const char *pszFolder)
{
    DIR *pDir = opendir(pszFolder);
    if (!pDir)
        return -1;
    int nFound = 0;
    while (const dirent *pEntry = readdir(pDir)) {
        const char *pszName = pEntry->d_name;
        const size_t nLength = std::strlen(pszName);
        if (pszName[0] == '.' || nLength < 4 || strcasecmp(pszName + nLength - 4, ".dxf") != 0)
            continue;
        struct stat st;
        if (fstatat(dirfd(pDir), pszName, &st, 0) == 0 && S_ISREG(st.st_mode))
            ++nFound;
    }
    closedir(pDir);
    return nFound;
}

class PaintCounter : public QObject
{
public:
    int m_nPaints = 0;

protected:
    bool eventFilter(QObject *pWatched, QEvent *pEvent) override
    {
        if (pEvent->type() == QEvent::Paint)
            ++m_nPaints;
        return QObject::eventFilter(pWatched, pEvent);
    }
};

void SetEnvFolder(const char *pszName, const QByteArray &path)
{
    QDir().mkpath(QFile::decodeName(path));
    qputenv(pszName, path);
}

} // namespace

int main(int argc, char *argv[])
{
    // A private home: the window reads and writes settings, and must not touch the user's.
    char szRoot[] = "/tmp/norvale-bench-XXXXXX";
    if (!mkdtemp(szRoot)) {
        std::perror("mkdtemp");
        return 1;
    }
    const QByteArray root(szRoot);
    SetEnvFolder("HOME", root + "/home");
    SetEnvFolder("XDG_CONFIG_HOME", root + "/home/.config");
    SetEnvFolder("XDG_DATA_HOME", root + "/home/.local/share");
    SetEnvFolder("XDG_CACHE_HOME", root + "/home/.cache");
    SetEnvFolder("XDG_RUNTIME_DIR", root + "/runtime");
    chmod((root + "/runtime").constData(), 0700);

    const QByteArray drawings = root + "/drawings";
    const QByteArray empty = root + "/empty";
    if (!MakeFolder(drawings.constData()) || mkdir(empty.constData(), 0700) != 0) {
        std::perror("making the benchmark folder");
        RemoveFolder(drawings.constData());
        return 1;
    }

    int nResult = 0;
    {
        QApplication app(argc, argv);
        // Names are collated in the user's locale. Japanese is what users of this program run,
        // and its collation costs far more than the plain code-point order of the C locale that
        // a bare console would give: measure that, whatever the environment says.
        QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
        CConverterDlg dlg;
        dlg.m_strAppDir = QFile::decodeName(root);
        dlg.Create();
        dlg.show();
        for (int i = 0; i < 10; ++i)
            QCoreApplication::processEvents();

        QTreeView *pList = dlg.m_lcSrcFiles;
        PaintCounter paints;
        pList->viewport()->installEventFilter(&paints);
        const QString strExt = QStringLiteral("DXF");
        // What the pane lists again when its folder changes on disk.
        dlg.m_src.strExt = strExt;
        const QString strDrawings = QFile::decodeName(drawings);
        const QString strEmpty = QFile::decodeName(empty);

        // The empty window: the pane shows an empty folder.
        dlg.m_src.strFolder = strEmpty;
        dlg.FillFileList(dlg.m_src.strFolder, strExt, 1);
        pList->viewport()->repaint();
        QCoreApplication::processEvents();
        const long nBaseKib = PeakRssKib();

        const auto listAndPaint = [&] {
            dlg.m_src.strFolder = strDrawings;
            dlg.FillFileList(dlg.m_src.strFolder, strExt, 1);
            pList->viewport()->repaint();
        };

        ScanFloor(drawings.constData());
        // Each repetition measures the floor and the listings back to back, so a ratio compares
        // times taken under the same load of the machine; the median ratio is reported.
        std::vector<double> aFloor, aList, aRelist, aListRatio, aRelistRatio;
        QElapsedTimer timer;
        for (int i = 0; i < kRepetitions; ++i) {
            timer.start();
            const int nFound = ScanFloor(drawings.constData());
            aFloor.push_back(timer.nsecsElapsed() / 1e6);
            if (nFound != kDrawings) {
                std::fprintf(stderr, "floor found %d files, not %d\n", nFound, kDrawings);
                nResult = 1;
            }

            dlg.m_src.strFolder = strEmpty;
            dlg.FillFileList(dlg.m_src.strFolder, strExt, 1);
            pList->viewport()->repaint();

            const int nPaints = paints.m_nPaints;
            timer.start();
            listAndPaint();
            aList.push_back(timer.nsecsElapsed() / 1e6);

            timer.start();
            listAndPaint();
            aRelist.push_back(timer.nsecsElapsed() / 1e6);

            aListRatio.push_back(aList.back() / aFloor.back());
            aRelistRatio.push_back(aRelist.back() / aFloor.back());
            if (paints.m_nPaints < nPaints + 2 || dlg.m_src.Model()->rowCount() != kDrawings) {
                std::fprintf(stderr, "the pane was not listed and painted: %d rows, %d paints\n",
                             dlg.m_src.Model()->rowCount(), paints.m_nPaints - nPaints);
                nResult = 1;
            }
            QCoreApplication::processEvents();
        }
        const long nPeakKib = PeakRssKib();

        std::printf("files %d\n", kDrawings);
        std::printf("locale %s\n", qPrintable(QLocale().name()));
        std::printf("floor_ms %.1f\n", Median(aFloor));
        std::printf("list_ms %.1f\n", Median(aList));
        std::printf("list_ratio %.2f\n", Median(aListRatio));
        std::printf("relist_ms %.1f\n", Median(aRelist));
        std::printf("relist_ratio %.2f\n", Median(aRelistRatio));
        std::printf("rss_mib %.1f\n", double(nPeakKib - nBaseKib) / 1024.0);

        // A drawing added to the listed folder while every row is selected: the time until the
        // pane shows it, the selection kept, as the user waits for it (the wait that gathers a
        // burst of changes included).
        {
            std::vector<double> aFollow;
            int nListed = 0;
            QObject::connect(&dlg.m_src, &Pane::listed, [&nListed] { ++nListed; });
            for (int i = 0; i < kRepetitions && nResult == 0; ++i) {
                listAndPaint();
                pList->selectAll();
                const QByteArray added = drawings + "/added_" + QByteArray::number(i) + ".dxf";
                nListed = 0;
                timer.start();
                const int fd = open(added.constData(), O_WRONLY | O_CREAT | O_EXCL, 0600);
                if (fd >= 0)
                    close(fd);
                while (nListed == 0 && timer.elapsed() < 10000)
                    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
                pList->viewport()->repaint();
                aFollow.push_back(timer.nsecsElapsed() / 1e6);
                const qsizetype nSelected = pList->selectionModel()->selectedRows().size();
                unlink(added.constData());
                if (fd < 0 || nListed == 0 || nSelected != kDrawings) {
                    std::fprintf(stderr, "the pane did not follow the disk: %lld rows selected\n",
                                 static_cast<long long>(nSelected));
                    nResult = 1;
                }
            }
            std::printf("follow_ms %.1f\n", Median(aFollow));
        }

        // Re-sorting the listed pane by each column, as a header click does, with its repaint.
        // Each column is sorted twice in a row (both directions) and the median time reported.
        listAndPaint();
        const std::pair<int, const char *> columns[] = {{1, "size"}, {2, "time"}, {0, "name"}};
        for (const auto &[nColumn, pszName] : columns) {
            std::vector<double> aSort;
            for (int i = 0; i < kRepetitions; ++i) {
                timer.start();
                dlg.OnColumnclickSrcList(nColumn);
                pList->viewport()->repaint();
                aSort.push_back(timer.nsecsElapsed() / 1e6);
            }
            std::printf("resort_%s_ms %.1f\n", pszName, Median(aSort));
        }
        std::fflush(stdout);
    }

    RemoveFolder(drawings.constData());
    RemoveFolder(empty.constData());
    QDir(QFile::decodeName(root)).removeRecursively();
    return nResult;
}
