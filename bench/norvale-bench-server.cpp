// The drawing server's conversion benchmark, in two parts, each beside LibreCAD's dxf2pdf in
// the same run:
// - the parts library of librecad-data through the converting server over D-Bus, as Norvale calls
//   it (Open, then SaveAs), once per target format the server writes; dxf2pdf on an even sample of
//   the same files, one process per file;
// - end to end, as users run both in batches: `norvale --convert --auto` on all the parts (the
//   built program, from its start to its exit, the server started by the benchmark's own bus
//   included) against `dxf2pdf` given all of them in one process, the two taking turns.
// Prints "<name> <value>" lines; fails when a run does not convert every part.
//
//   norvale-bench-server [--peer-files N] [--batch-runs M]
//       N files for dxf2pdf one at a time, evenly spread (default 100; 0 runs it on every file);
//       M end-to-end runs of each program (default 5)

#include "bench/BenchBus.h"
#include "server/service/FormatRegistry.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

const QString kLibrary = QStringLiteral("/usr/share/librecad/library");
const QString kService = QStringLiteral("Tarsk.Document");

bool writeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

double percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t index
        = std::min(values.size() - 1, size_t(fraction * double(values.size() - 1) + 0.5));
    return values[index];
}

double median(const std::vector<double> &values)
{
    return percentile(values, 0.5);
}

bool waitFor(const std::function<bool()> &done)
{
    QElapsedTimer wait;
    wait.start();
    while (!done()) {
        if (wait.elapsed() > 20000)
            return false;
        QThread::msleep(10);
    }
    return true;
}

int filesIn(const QString &folder)
{
    return int(QDir(folder).entryList(QDir::Files | QDir::NoDotAndDotDot).size());
}

// The busy time of the last server that quit, in seconds, from its statistics line.
double lastServerBusy(const QString &statsFile)
{
    QFile file(statsFile);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> lines = file.readAll().trimmed().split('\n');
    const qsizetype at = lines.constLast().indexOf("busy_us=");
    return at < 0 ? -1 : lines.constLast().mid(at + 8).toDouble() / 1e6;
}

int statsLines(const QString &statsFile)
{
    QFile file(statsFile);
    return file.open(QIODevice::ReadOnly) ? int(file.readAll().count('\n')) : 0;
}

// Runs program to its exit with its output thrown away; the seconds it took, or -1.
double timeProcess(const QString &program, const QStringList &arguments,
                   const QProcessEnvironment &environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    process.start(program, arguments);
    if (!process.waitForStarted(10000) || !process.waitForFinished(600000)
        || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        std::fprintf(stderr, "%s did not run to a clean end: %s\n", qPrintable(program),
                     qPrintable(process.errorString()));
        return -1;
    }
    return double(timer.nsecsElapsed()) / 1e9;
}

class Server
{
public:
    explicit Server(const QDBusConnection &bus)
        : m_bus(bus)
    { }

    QDBusMessage call(const QString &method, const QVariantList &arguments = {})
    {
        QDBusMessage message = QDBusMessage::createMethodCall(
            kService, QStringLiteral("/Tarsk/Document"), kService, method);
        message.setArguments(arguments);
        return m_bus.call(message, QDBus::Block, 120000);
    }
    qint64 busyMicroseconds()
    {
        return call(QStringLiteral("GetStatistics")).arguments().value(1).toLongLong();
    }
    qint64 peakKiB()
    {
        const uint pid = m_bus.interface()->servicePid(kService).value();
        QFile status(QStringLiteral("/proc/%1/status").arg(pid));
        if (!status.open(QIODevice::ReadOnly))
            return -1;
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("VmHWM:"))
                return line.mid(6).replace("kB", "").trimmed().toLongLong();
        }
        return -1;
    }

private:
    QDBusConnection m_bus;
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const auto option = [&arguments](const char *name, int byDefault) {
        const qsizetype at = arguments.indexOf(QLatin1String(name));
        return at > 0 && at + 1 < arguments.size() ? arguments.at(at + 1).toInt() : byDefault;
    };
    const int peerFiles = option("--peer-files", 100);
    const int batchRuns = std::max(1, option("--batch-runs", 5));

    QStringList files;
    QDirIterator it(kLibrary, {QStringLiteral("*.dxf")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(it.next());
    files.sort();
    if (files.isEmpty()) {
        std::fprintf(stderr, "no drawings in %s (package librecad-data)\n", qPrintable(kLibrary));
        return 1;
    }

    // Sources and targets in memory where it can be had, so that the disk does not time itself:
    // on a disk every target's sync costs more than converting it (see the README).
    const QFileInfo shm(QStringLiteral("/dev/shm"));
    const QString base = shm.isDir() && shm.isWritable() ? shm.filePath() : QDir::tempPath();
    QTemporaryDir root(base + QStringLiteral("/norvale-bench-server-XXXXXX"));
    if (!root.isValid())
        return 1;
    std::printf("folder %s\n", qPrintable(base));
    // The bus daemon, the servers it starts and Norvale's run reports stay in the folder.
    const QString config = root.filePath(QStringLiteral("config"));
    const QString statsFile = root.filePath(QStringLiteral("stats"));
    qputenv("HOME", QFile::encodeName(root.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config));
    qputenv("XDG_STATE_HOME", QFile::encodeName(root.filePath(QStringLiteral("state"))));
    if (!writeFile(config + QStringLiteral("/tarsk-standin/standin.ini"),
                   "[General]\nBackend=convert\n[Testing]\nIdleMs=600000\nStatsFile="
                       + QFile::encodeName(statsFile) + '\n'))
        return 1;
    QStringList sources;
    for (int i = 0; i < files.size(); ++i) {
        const QString source
            = root.filePath(QStringLiteral("src/%1.dxf").arg(i, 4, 10, QLatin1Char('0')));
        QDir().mkpath(QFileInfo(source).path());
        if (!QFile::copy(files.at(i), source))
            return 1;
        sources.append(source);
    }

    QProcess daemon;
    const QByteArray address = BenchBus::start(daemon, root.path());
    if (address.isEmpty()) {
        std::fprintf(stderr, "no private bus\n");
        return 1;
    }
    const QDBusConnection bus
        = QDBusConnection::connectToBus(QString::fromUtf8(address), QStringLiteral("bench"));
    std::printf("files %lld\n", static_cast<long long>(sources.size()));

    double serverMedianPdf = 0;
    std::vector<std::pair<QString, double>> roundTripMedians;
    for (const char *format : {"PDF", "SVG", "HTM", "EMF", "DXF"}) {
        const QString fmt = QString::fromLatin1(format);
        if (!FormatRegistry::writerFor(fmt))
            continue;
        Server server(bus);
        server.call(QStringLiteral("GetVersion")); // started and warm before the clock runs
        const QString targets = root.filePath(QStringLiteral("dst-") + fmt);
        QDir().mkpath(targets);
        std::vector<double> serverMs;
        std::vector<double> roundTripMs;
        int failures = 0;
        for (int i = 0; i < sources.size(); ++i) {
            const qint64 before = server.busyMicroseconds();
            QElapsedTimer timer;
            timer.start();
            const QDBusMessage opened = server.call(QStringLiteral("Open"), {sources.at(i)});
            const QDBusMessage saved = opened.type() == QDBusMessage::ReplyMessage
                ? server.call(QStringLiteral("SaveAs"),
                              {QStringLiteral("%1/%2.%3").arg(targets).arg(i).arg(fmt.toLower())})
                : opened;
            roundTripMs.push_back(double(timer.nsecsElapsed()) / 1e6);
            serverMs.push_back(double(server.busyMicroseconds() - before) / 1e3);
            if (saved.type() != QDBusMessage::ReplyMessage) {
                ++failures;
                std::fprintf(stderr, "%s: %s\n", qPrintable(files.at(i)),
                             qPrintable(saved.errorMessage()));
            }
        }
        const double median = percentile(serverMs, 0.5);
        const QByteArray name = fmt.toLower().toLatin1();
        std::printf("server-%s-median-ms %.3f\n", name.constData(), median);
        std::printf("server-%s-p99-ms %.3f\n", name.constData(), percentile(serverMs, 0.99));
        std::printf("server-%s-max-ms %.3f\n", name.constData(), percentile(serverMs, 1.0));
        std::printf("server-%s-roundtrip-median-ms %.3f\n", name.constData(),
                    percentile(roundTripMs, 0.5));
        std::printf("server-%s-failures %d\n", name.constData(), failures);
        std::printf("server-%s-peak-mib %.1f\n", name.constData(), double(server.peakKiB()) / 1024);
        roundTripMedians.emplace_back(fmt, percentile(roundTripMs, 0.5));
        if (fmt == QLatin1String("PDF"))
            serverMedianPdf = median;
        server.call(QStringLiteral("Quit")); // the next format gets a fresh peak
        QElapsedTimer wait;
        wait.start();
        while (bus.interface()->isServiceRegistered(kService) && wait.elapsed() < 10000)
            QThread::msleep(10);
    }

    // The peer: one dxf2pdf process per file, on an evenly spread sample of the same files.
    std::vector<double> peerMs;
    const int step
        = peerFiles <= 0 || peerFiles >= sources.size() ? 1 : int(sources.size() / peerFiles);
    const QString peerTargets = root.filePath(QStringLiteral("dst-dxf2pdf"));
    QDir().mkpath(peerTargets);
    for (int i = 0; i < sources.size(); i += step) {
        QProcess peer;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        peer.setProcessEnvironment(environment);
        peer.setStandardOutputFile(QProcess::nullDevice());
        peer.setStandardErrorFile(QProcess::nullDevice());
        QElapsedTimer timer;
        timer.start();
        peer.start(QStringLiteral("librecad"),
                   {QStringLiteral("dxf2pdf"), QStringLiteral("-o"),
                    QStringLiteral("%1/%2.pdf").arg(peerTargets).arg(i), sources.at(i)});
        if (!peer.waitForStarted(10000)) {
            std::fprintf(stderr, "librecad (package librecad) does not start\n");
            break;
        }
        peer.waitForFinished(120000);
        peerMs.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    if (!peerMs.empty()) {
        const double peerMedian = percentile(peerMs, 0.5);
        std::printf("dxf2pdf-files %zu\n", peerMs.size());
        std::printf("dxf2pdf-median-ms %.3f\n", peerMedian);
        for (const auto &[fmt, median] : roundTripMedians)
            std::printf("ratio-dxf2pdf-to-server-%s-roundtrip %.1f\n", qPrintable(fmt.toLower()),
                        median > 0 ? peerMedian / median : 0);
        if (serverMedianPdf > 0)
            std::printf("ratio-dxf2pdf-to-server-pdf %.1f\n", peerMedian / serverMedianPdf);
    }

    // End to end, both programs as their users run a batch, taking turns so that a change in the
    // machine's load falls on both. Each Norvale run starts its own server: the one before has
    // quit at the end of its run.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QString::fromUtf8(address));
    // All the parts fit one command line (about 60 KB of the system's 2 MB), so dxf2pdf is one
    // process, as a user would start it.
    const QString srcFolder = root.filePath(QStringLiteral("src"));
    std::vector<double> norvaleSeconds, peerSeconds, serverBusySeconds;
    bool batchFailed = false;
    for (int run = 0; run < batchRuns && !batchFailed; ++run) {
        const QString norvaleTargets = root.filePath(QStringLiteral("batch-norvale"));
        const QString peerTargets = root.filePath(QStringLiteral("batch-dxf2pdf"));
        for (const QString &folder : {norvaleTargets, peerTargets}) {
            QDir(folder).removeRecursively();
            QDir().mkpath(folder);
        }
        const int statsBefore = statsLines(statsFile);
        const double norvale = timeProcess(
            QStringLiteral(NORVALE_BINARY),
            {QStringLiteral("--convert"), QStringLiteral("--source"), srcFolder,
             QStringLiteral("--source-ext"), QStringLiteral("DXF"), QStringLiteral("--target"),
             norvaleTargets, QStringLiteral("--target-ext"), QStringLiteral("PDF"),
             QStringLiteral("--auto"), QStringLiteral("--keep-going")},
            environment);
        if (norvale < 0 || filesIn(norvaleTargets) != sources.size() || !waitFor([&] {
                return !bus.interface()->isServiceRegistered(kService)
                    && statsLines(statsFile) > statsBefore;
            })) {
            std::fprintf(stderr, "norvale --convert: %d of %lld targets\n", filesIn(norvaleTargets),
                         static_cast<long long>(sources.size()));
            batchFailed = true;
            break;
        }
        norvaleSeconds.push_back(norvale);
        serverBusySeconds.push_back(lastServerBusy(statsFile));

        const double peer
            = timeProcess(QStringLiteral("librecad"),
                          QStringList {QStringLiteral("dxf2pdf"), QStringLiteral("-a"),
                                       QStringLiteral("-c"), QStringLiteral("-t"), peerTargets}
                              + sources,
                          environment);
        if (peer < 0 || filesIn(peerTargets) != sources.size()) {
            std::fprintf(stderr, "dxf2pdf: %d of %lld targets\n", filesIn(peerTargets),
                         static_cast<long long>(sources.size()));
            batchFailed = true;
            break;
        }
        peerSeconds.push_back(peer);
    }
    if (!batchFailed) {
        const double norvale = median(norvaleSeconds);
        const double peer = median(peerSeconds);
        std::printf("batch-runs %d\n", batchRuns);
        std::printf("batch-norvale-convert-median-s %.3f\n", norvale);
        std::printf("batch-norvale-convert-ms-per-file %.3f\n", norvale * 1e3 / sources.size());
        // What the server spent inside its calls; the rest is Norvale, the bus and the waits.
        std::printf("batch-norvale-server-busy-median-s %.3f\n", median(serverBusySeconds));
        std::printf("batch-dxf2pdf-median-s %.3f\n", peer);
        std::printf("batch-dxf2pdf-ms-per-file %.3f\n", peer * 1e3 / sources.size());
        std::printf("ratio-dxf2pdf-batch-to-norvale-convert %.2f\n", peer / norvale);
    }

    QDBusConnection::disconnectFromBus(QStringLiteral("bench"));
    daemon.terminate();
    daemon.waitForFinished();
    return batchFailed ? 1 : 0;
}
