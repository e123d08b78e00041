// Converts 2,000 small drawings in automatic mode through the stand-in drawing server, on a
// private session bus, offscreen, and splits the run's time: the server's share (which the
// stand-in measures inside its methods), the round trips any client has to pay, and what Norvale
// itself spends per file. The floor is the round trip of an empty call to the same server,
// measured in the same run. Prints "<name> <value>" lines.

#include "app/CConverterDlg.h"
#include "conversion/CTarskDocument.h"
#include "formats/FormatTable.h"
#include "platform/Desktop.h"

#include "bench/BenchBus.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include <sys/resource.h>

namespace {

// Answers the run's one question with Yes and reports any other message: a benchmark run that
// shows a second message has failed somewhere.
class AnsweringDesktop : public Desktop
{
public:
    QMessageBox::StandardButton Ask(QMessageBox &box) override
    {
        if (++m_nMessages > 1)
            std::fprintf(stderr, "message: %s\n", qPrintable(box.text()));
        return box.standardButtons().testFlag(QMessageBox::Yes) ? QMessageBox::Yes
                                                                : QMessageBox::Ok;
    }

    void StartRun() { m_nMessages = 0; }
    int Messages() const { return m_nMessages; }

private:
    int m_nMessages = 0;
};

constexpr int kFiles = 2000;
constexpr int kRepetitions = 5;
constexpr int kRoundTrips = 1000;

const QString kService = QStringLiteral("Tarsk.Document");

// Processor time of this process, all threads, in milliseconds.
double CpuMs()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3
        + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

bool WriteFile(const QString &strPath, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(strPath).path());
    QFile file(strPath);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

// The benchmark writes settings for Norvale and the stand-in; they must not be the user's.
void IsolateHome(const QString &strRoot)
{
    const auto setDir = [&strRoot](const char *pszName, const char *pszSub) {
        const QString strPath = strRoot + QLatin1String(pszSub);
        QDir().mkpath(strPath);
        qputenv(pszName, QFile::encodeName(strPath));
    };
    setDir("HOME", "/home");
    setDir("XDG_CONFIG_HOME", "/home/.config");
    setDir("XDG_DATA_HOME", "/home/.local/share");
    setDir("XDG_CACHE_HOME", "/home/.cache");
    setDir("XDG_RUNTIME_DIR", "/runtime");
    QFile::setPermissions(strRoot + QStringLiteral("/runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

// The figures of every server that has quit, in order: calls and busy microseconds.
std::vector<std::pair<long long, long long>> ReadStats(const QString &strPath)
{
    std::vector<std::pair<long long, long long>> stats;
    QFile file(strPath);
    if (!file.open(QIODevice::ReadOnly))
        return stats;
    const QRegularExpression line(QStringLiteral("^calls=(\\d+) busy_us=(\\d+)$"),
                                  QRegularExpression::MultilineOption);
    auto it = line.globalMatch(QString::fromUtf8(file.readAll()));
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        stats.emplace_back(match.captured(1).toLongLong(), match.captured(2).toLongLong());
    }
    return stats;
}

bool WaitFor(const std::function<bool()> &fnDone)
{
    QElapsedTimer timer;
    timer.start();
    while (!fnDone()) {
        if (timer.elapsed() > 20000)
            return false;
        QCoreApplication::processEvents();
        QThread::msleep(5);
    }
    return true;
}

int TargetIndex(const char *pszExt, const char *pszSourceExt)
{
    int nIndex = 0;
    for (const FormatEntry &format : g_aFormats) {
        if (!format.bTarget || qstrcmp(format.szExt, pszSourceExt) == 0)
            continue;
        if (qstrcmp(format.szExt, pszExt) == 0)
            return nIndex;
        ++nIndex;
    }
    return -1;
}

} // namespace

int main(int argc, char *argv[])
{
    // The drawings and targets live in memory where it can be had: the stand-in's writes to a
    // disk keep the kernel busy after its methods return (journal, allocation), on the same
    // processors, which shows up as noise in a figure meant to be Norvale's alone.
    const QFileInfo shm(QStringLiteral("/dev/shm"));
    const QString strBase = shm.isDir() && shm.isWritable() ? shm.filePath() : QDir::tempPath();
    QTemporaryDir root(strBase + QStringLiteral("/norvale-bench-run-XXXXXX"));
    if (!root.isValid())
        return 1;
    IsolateHome(root.path());
    QApplication app(argc, argv);
    // The offscreen platform warns at every raise(), once per file: a cost no desktop has.
    static const QtMessageHandler defaultHandler = qInstallMessageHandler(nullptr);
    qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext &context, const QString &text) {
            if (!text.contains(QLatin1String("does not support raise()")))
                defaultHandler(type, context, text);
        });

    QProcess daemon;
    const QByteArray address = BenchBus::start(daemon, root.path());
    if (address.isEmpty()) {
        std::fprintf(stderr, "no private bus\n");
        return 1;
    }
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);

    const QString strSrc = root.filePath(QStringLiteral("src"));
    const QString strDst = root.filePath(QStringLiteral("dst"));
    const QString strStats = root.filePath(QStringLiteral("stats"));
    QDir().mkpath(strDst);
    const QDateTime past = QDateTime::currentDateTime().addSecs(-3600);
    for (int i = 0; i < kFiles; ++i) {
        const QString strPath
            = strSrc + QStringLiteral("/plan%1.sfc").arg(i, 4, 10, QLatin1Char('0'));
        QFile file(strPath);
        if (!WriteFile(strPath, "Norvale benchmark drawing\n") || !file.open(QIODevice::ReadWrite)
            || !file.setFileTime(past, QFileDevice::FileModificationTime))
            return 1;
    }
    // Version 600 and a PDF target: one author string per file, the most a file costs beside
    // the SXF formats. The server writes text records: this run measures Norvale, not conversion.
    const QString strConfig = QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME"));
    if (!WriteFile(strConfig + QStringLiteral("/tarsk-standin/standin.ini"),
                   "[General]\nBackend=record\n[Testing]\nVersion=600\nIdleMs=600000\nStatsFile="
                       + QFile::encodeName(strStats) + '\n')
        || !WriteFile(strConfig + QStringLiteral("/Norvale/Norvale.ini"),
                      QStringLiteral("[Common]\nFolder=0\nMode=0\n[Original]\nExt=1\nFolder#0=%1\n"
                                     "[Convert]\nExt=%2\nFolder#0=%3\n")
                          .arg(strSrc)
                          .arg(TargetIndex("PDF", "SFC"))
                          .arg(strDst)
                          .toUtf8()))
        return 1;

    AnsweringDesktop desktop;
    Desktop::Install(&desktop);

    CConverterDlg dlg;
    dlg.m_strAppDir = root.path();
    dlg.Create();
    QDBusConnectionInterface *pBus = QDBusConnection::sessionBus().interface();

    // Each server appends its figures when it quits: the start-up probe's, then one per run.
    size_t nStatsLines = 1;
    std::vector<double> aRunCost, aRoundTrip, aPerFile, aOwnCost, aRatio, aCpu;
    for (int nRep = 0; nRep < kRepetitions; ++nRep) {
        for (const QString &strName : QDir(strDst).entryList(QDir::Files))
            QFile::remove(strDst + QLatin1Char('/') + strName);
        if (!WaitFor([&] {
                return !pBus->isServiceRegistered(kService)
                    && ReadStats(strStats).size() == nStatsLines;
            })) {
            std::fprintf(stderr, "the previous server did not quit\n");
            return 1;
        }

        // The server is started and warmed before the run, so that the run pays neither for
        // starting a process nor for a cold cache; the floor is measured on that server.
        CTarskDocument doc;
        if (!doc.CreateDispatch())
            return 1;
        std::vector<double> aTrips;
        try {
            for (int i = 0; i < 100; ++i)
                doc.GetVersion();
            for (int i = 0; i < kRoundTrips; ++i) {
                QElapsedTimer timer;
                timer.start();
                doc.GetVersion();
                aTrips.push_back(double(timer.nsecsElapsed()) / 1e6);
            }
        } catch (const CAutomationError &error) {
            std::fprintf(stderr, "%s\n", error.what());
            return 1;
        }
        doc.ReleaseDispatch();
        const QDBusMessage stats = QDBusConnection::sessionBus().call(
            QDBusMessage::createMethodCall(kService, QStringLiteral("/Tarsk/Document"), kService,
                                           QStringLiteral("GetStatistics")));
        if (stats.type() != QDBusMessage::ReplyMessage || stats.arguments().size() != 2)
            return 1;
        const long long nCallsBefore = stats.arguments().at(0).toLongLong();
        const long long nBusyBefore = stats.arguments().at(1).toLongLong();

        desktop.StartRun();
        QElapsedTimer timer;
        const double dCpuBefore = CpuMs();
        timer.start();
        dlg.OnConvert();
        const double dRunMs = double(timer.nsecsElapsed()) / 1e6;
        aCpu.push_back((CpuMs() - dCpuBefore) / kFiles);

        const int nSaved = int(QDir(strDst).entryList(QDir::Files).size());
        if (nSaved != kFiles || desktop.Messages() != 1) {
            std::fprintf(stderr, "the run saved %d of %d files, %d messages\n", nSaved, kFiles,
                         desktop.Messages());
            return 1;
        }
        ++nStatsLines;
        if (!WaitFor([&] { return ReadStats(strStats).size() == nStatsLines; })) {
            std::fprintf(stderr, "the server of the run did not quit\n");
            return 1;
        }
        const auto after = ReadStats(strStats).back();
        // Quit is the run's last call and no file's.
        const double dPerFile = double(after.first - nCallsBefore - 1) / kFiles;
        const double dBusyMs = double(after.second - nBusyBefore) / 1e3;
        const double dRunCost = (dRunMs - dBusyMs) / kFiles;
        const double dTrip = Median(aTrips);
        aRunCost.push_back(dRunCost);
        aRoundTrip.push_back(dTrip);
        aPerFile.push_back(dPerFile);
        aOwnCost.push_back(dRunCost - dPerFile * dTrip);
        aRatio.push_back(dRunCost / (dPerFile * dTrip));
    }

    std::printf("files %d\n", kFiles);
    std::printf("folder %s\n", qPrintable(strBase));
    std::printf("run_cost_ms_per_file %.3f\n", Median(aRunCost));
    std::printf("roundtrip_ms %.3f\n", Median(aRoundTrip));
    std::printf("roundtrips_per_file %.2f\n", Median(aPerFile));
    std::printf("own_cost_ms_per_file %.3f\n", Median(aOwnCost));
    std::printf("run_cost_ratio %.2f\n", Median(aRatio));
    // Norvale's processor time per file, its own threads only: what is left of own_cost beyond
    // it is waiting for the other processes to be scheduled.
    std::printf("client_cpu_ms_per_file %.3f\n", Median(aCpu));

    Desktop::Install(nullptr);
    daemon.terminate();
    daemon.waitForFinished();
    return 0;
}
