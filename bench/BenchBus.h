#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QString>

// A bus daemon of the benchmark's own, in root, whose only service is the stand-in built beside
// the benchmark (NORVALE_STANDIN): a benchmark never reaches the user's bus or drawing server.
namespace BenchBus {

// Returns the bus address, empty when the daemon did not start.
inline QByteArray start(QProcess &daemon, const QString &root)
{
    const auto write = [](const QString &path, const QByteArray &data) {
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
            && file.write(data) == data.size();
    };
    const QString services = root + QStringLiteral("/services");
    const QByteArray config = "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen>"
                              "<auth>EXTERNAL</auth><servicedir>"
        + QFile::encodeName(services)
        + "</servicedir><policy context=\"default\"><allow send_destination=\"*\" "
          "eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
          "<allow own=\"*\"/></policy></busconfig>\n";
    if (!write(root + QStringLiteral("/bus.conf"), config)
        || !write(services + QStringLiteral("/Tarsk.Document.service"),
                  "[D-BUS Service]\nName=Tarsk.Document\nExec=" NORVALE_STANDIN " --automation\n"))
        return QByteArray();
    daemon.start(QStringLiteral("dbus-daemon"),
                 {QStringLiteral("--config-file=") + root + QStringLiteral("/bus.conf"),
                  QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
    if (!daemon.waitForStarted(10000))
        return QByteArray();
    while (!daemon.canReadLine()) {
        if (!daemon.waitForReadyRead(10000))
            return QByteArray();
    }
    return daemon.readLine().trimmed();
}

} // namespace BenchBus
