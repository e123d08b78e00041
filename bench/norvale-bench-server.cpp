// The drawing server's conversion benchmark: the parts library of librecad-data through the
// converting server over D-Bus, as Norvale calls it (Open, then SaveAs), once per target format
// the server writes; and, in the same run, LibreCAD's dxf2pdf on the same files, one process per
// file as its users run it. Prints "<name> <value>" lines.
//
//   norvale-bench-server [--peer-files N]   N files for dxf2pdf, evenly spread (default 100;
//                                           0 runs it on every file)

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
    int peerFiles = 100;
    const QStringList arguments = app.arguments();
    const qsizetype peerOption = arguments.indexOf(QStringLiteral("--peer-files"));
    if (peerOption > 0 && peerOption + 1 < arguments.size())
        peerFiles = arguments.at(peerOption + 1).toInt();

    QStringList files;
    QDirIterator it(kLibrary, {QStringLiteral("*.dxf")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(it.next());
    files.sort();
    if (files.isEmpty()) {
        std::fprintf(stderr, "no drawings in %s (package librecad-data)\n", qPrintable(kLibrary));
        return 1;
    }

    // Sources and targets in memory where it can be had, so that the disk does not time itself.
    const QFileInfo shm(QStringLiteral("/dev/shm"));
    QTemporaryDir root((shm.isDir() && shm.isWritable() ? shm.filePath() : QDir::tempPath())
                       + QStringLiteral("/norvale-bench-server-XXXXXX"));
    if (!root.isValid())
        return 1;
    const QString config = root.filePath(QStringLiteral("config"));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config));
    if (!writeFile(config + QStringLiteral("/tarsk-standin/standin.ini"),
                   "[General]\nBackend=convert\n[Testing]\nIdleMs=600000\n"))
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
    QDBusConnection::disconnectFromBus(QStringLiteral("bench"));
    daemon.terminate();
    daemon.waitForFinished();
    return 0;
}
