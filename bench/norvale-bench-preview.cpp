// The preview window's benchmark: drawings of librecad-data's parts library selected one after
// the other in the source list with the preview open, as the arrow keys do, timed from the
// selection to their picture painted in the preview; meanwhile a timer on the main thread asks
// for a frame every 16 ms, and the longest gap between its ticks tells whether the main window
// ever stopped answering. The floor is the drawing server's own time for the same drawings (what
// GetStatistics counts inside Open and SaveAs), measured in the same run. Offscreen, on a private
// bus. Prints "<name> <value>" lines.
//
//   norvale-bench-preview [--files N]   N drawings, evenly spread over the library (default 200)

#include "app/CConverterDlg.h"
#include "app/CPreviewDlg.h"
#include "app/PreviewCanvas.h"
#include "bench/BenchBus.h"
#include "conversion/PreviewLoader.h"
#include "panes/FileListModel.h"
#include "panes/FileListView.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

const QString kLibrary = QStringLiteral("/usr/share/librecad/library");
const QString kService = QStringLiteral("Tarsk.Document");

double Percentile(std::vector<double> values, double dFraction)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(dFraction * double(values.size() - 1) + 0.5))];
}

bool WriteFile(const QString &strPath, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(strPath).path());
    QFile file(strPath);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

// The server's time inside its calls so far, in milliseconds.
double ServerBusyMs()
{
    const QDBusMessage reply = QDBusConnection::sessionBus().call(QDBusMessage::createMethodCall(
        kService, QStringLiteral("/Tarsk/Document"), kService, QStringLiteral("GetStatistics")));
    return double(reply.arguments().value(1).toLongLong()) / 1e3;
}

} // namespace

int main(int argc, char *argv[])
{
    QTemporaryDir root(QDir::tempPath() + QStringLiteral("/norvale-bench-preview-XXXXXX"));
    if (!root.isValid())
        return 1;
    // Norvale and the stand-in write settings: never the user's.
    for (const auto &[pszName, pszSub] : {std::pair {"HOME", "/home"},
                                          {"XDG_CONFIG_HOME", "/home/.config"},
                                          {"XDG_DATA_HOME", "/home/.local/share"},
                                          {"XDG_CACHE_HOME", "/home/.cache"},
                                          {"XDG_RUNTIME_DIR", "/runtime"}}) {
        QDir().mkpath(root.path() + QLatin1String(pszSub));
        qputenv(pszName, QFile::encodeName(root.path() + QLatin1String(pszSub)));
    }
    QFile::setPermissions(root.filePath(QStringLiteral("runtime")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QApplication app(argc, argv);
    const QStringList aArgs = app.arguments();
    const qsizetype nOption = aArgs.indexOf(QStringLiteral("--files"));
    const int nWanted
        = nOption > 0 && nOption + 1 < aArgs.size() ? aArgs.at(nOption + 1).toInt() : 200;

    QStringList aLibrary;
    QDirIterator it(kLibrary, {QStringLiteral("*.dxf")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        aLibrary << it.next();
    aLibrary.sort();
    if (aLibrary.isEmpty() || nWanted < 1) {
        std::fprintf(stderr, "no drawings in %s (package librecad-data)\n", qPrintable(kLibrary));
        return 1;
    }
    // An even spread, each under a name of its own (the library repeats names across folders).
    const QString strSrc = root.filePath(QStringLiteral("src"));
    QDir().mkpath(strSrc);
    const qsizetype nStep = qMax<qsizetype>(1, aLibrary.size() / nWanted);
    int nFiles = 0;
    for (qsizetype i = 0; i < aLibrary.size() && nFiles < nWanted; i += nStep, ++nFiles) {
        if (!QFile::copy(aLibrary.at(i),
                         strSrc
                             + QStringLiteral("/%1-%2")
                                   .arg(nFiles, 4, 10, QLatin1Char('0'))
                                   .arg(QFileInfo(aLibrary.at(i)).fileName())))
            return 1;
    }

    QProcess daemon;
    const QByteArray address = BenchBus::start(daemon, root.path());
    if (address.isEmpty()) {
        std::fprintf(stderr, "no private bus\n");
        return 1;
    }
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);
    // Source DXF, target PDF, manual mode.
    if (!WriteFile(root.filePath(QStringLiteral("home/.config/Norvale/Norvale.ini")),
                   "[Common]\nMode=1\n[Original]\nExt=3\nFolder#0=" + QFile::encodeName(strSrc)
                       + "\n[Convert]\nExt=4\nFolder#0=" + QFile::encodeName(root.path()) + '\n'))
        return 1;

    CConverterDlg dlg;
    dlg.m_strAppDir = root.path();
    dlg.Create();
    dlg.show();
    FileListView *pList = dlg.m_lcSrcFiles;
    if (dlg.m_src.Model()->rowCount() != nFiles) {
        std::fprintf(stderr, "the list shows %d of %d drawings\n", dlg.m_src.Model()->rowCount(),
                     nFiles);
        return 1;
    }
    pList->setFocus();

    // The main thread's frames: the longest gap between two ticks of a 16 ms timer.
    QElapsedTimer frameClock;
    qint64 nLastTick = 0;
    double dLongestGap = 0;
    bool bMeasuring = false;
    QTimer frames;
    frames.setTimerType(Qt::PreciseTimer);
    frames.setInterval(16);
    QObject::connect(&frames, &QTimer::timeout, [&] {
        const qint64 nNow = frameClock.nsecsElapsed();
        if (bMeasuring)
            dLongestGap = std::max(dLongestGap, double(nNow - nLastTick) / 1e6);
        nLastTick = nNow;
    });
    frameClock.start();
    frames.start();

    // Selects row nRow as the arrow keys do and waits for its picture or its message.
    int nFailed = 0;
    const auto show = [&](int nRow) {
        CPreviewDlg *pPreview = dlg.m_pPreviewDlg;
        QEventLoop loop;
        bool bDone = false;
        const auto check = [&] {
            const PreviewCanvas *pCanvas = pPreview->m_pCanvas;
            if (pCanvas->ShownSerial() == pCanvas->Serial() || !pCanvas->Message().isEmpty()) {
                bDone = true;
                loop.quit();
            }
        };
        const QMetaObject::Connection shown
            = QObject::connect(pPreview->m_pCanvas, &PreviewCanvas::pictureShown, &loop, check);
        // A refusal, by the server or the reader, comes as a message instead.
        const QMetaObject::Connection failed
            = QObject::connect(pPreview->m_pLoader, &PreviewLoader::failed, &loop,
                               [&] { QTimer::singleShot(0, &loop, check); });
        const QMetaObject::Connection loaded
            = QObject::connect(pPreview->m_pRenderer, &PreviewRenderer::loaded, &loop,
                               [&] { QTimer::singleShot(0, &loop, check); });
        QTimer::singleShot(30000, &loop, &QEventLoop::quit);
        pList->setCurrentIndex(dlg.m_src.Model()->index(nRow, 0));
        if (!bDone)
            loop.exec();
        QObject::disconnect(shown);
        QObject::disconnect(failed);
        QObject::disconnect(loaded);
        if (!pPreview->m_pCanvas->Message().isEmpty())
            ++nFailed;
        return bDone;
    };

    // The first drawing starts the server and warms what every later one uses.
    pList->setCurrentIndex(dlg.m_src.Model()->index(0, 0));
    dlg.OnCommand(ID_PREVIEW_SRC);
    if (!dlg.m_pPreviewDlg || !show(std::min(1, nFiles - 1)) || !show(0))
        return 1;
    nFailed = 0;
    std::vector<double> aPreviewMs, aServerMs;
    for (int nRow = 1; nRow < nFiles; ++nRow) {
        const double dBusyBefore = ServerBusyMs();
        QElapsedTimer timer;
        nLastTick = frameClock.nsecsElapsed();
        bMeasuring = true;
        timer.start();
        const bool bShown = show(nRow);
        const double dMs = double(timer.nsecsElapsed()) / 1e6;
        bMeasuring = false;
        if (!bShown) {
            std::fprintf(stderr, "no picture of row %d\n", nRow);
            return 1;
        }
        aPreviewMs.push_back(dMs);
        aServerMs.push_back(ServerBusyMs() - dBusyBefore);
    }

    const double dMedian = Percentile(aPreviewMs, 0.5);
    const double dServer = Percentile(aServerMs, 0.5);
    std::printf("drawings %zu\n", aPreviewMs.size());
    std::printf("refused %d\n", nFailed);
    std::printf("preview_ms_median %.1f\n", dMedian);
    std::printf("preview_ms_p99 %.1f\n", Percentile(aPreviewMs, 0.99));
    std::printf("main_max_gap_ms %.1f\n", dLongestGap);
    std::printf("server_ms_median %.1f\n", dServer);
    // What the preview adds to the server's own work: the bus, reading the PDF, painting.
    std::printf("preview_ratio %.2f\n", dMedian / std::max(dServer, 0.001));

    dlg.done(0);
    daemon.terminate();
    daemon.waitForFinished();
    return 0;
}
