// tarsk-standin: a stand-in for the drawing program's automation server, so that Norvale can be
// tried and tested where the drawing program is not installed. It converts what it has a reader
// and a writer for (see FormatRegistry) and refuses the rest with an error reply that names the
// format; with the text-record backend each saved "drawing" is instead a short UTF-8 text record
// of what was asked, for tests of the client that need every format.
//
// Beyond the eight methods of the interface, GetStatistics() -> (i calls, x busyMicroseconds)
// answers how many calls this server has taken (itself not counted) and the time spent inside
// them, delays included, so that a benchmark can tell the client's share of a run from the
// server's.

#include "server/service/DocumentServer.h"
#include "server/service/ServerSettings.h"
#include "server/window/ServerWindow.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QGuiApplication>
#include <cstdio>
#include <cstring>

namespace {

const char kUsage[] = R"(Usage: tarsk-standin --automation
       tarsk-standin [FILE]
       tarsk-standin --help

  --automation  serve Tarsk.Document at /Tarsk/Document on the session bus (the bus that
                started it, if any), as the bus does through the Tarsk.Document.service file;
                quit after Quit from the last client with a drawing open, or after
                IdleMs without a call; each client connection has a drawing of its own
  FILE          show a small window with the version, the stored author data, the DXF
                version to write and the plot settings, which can be changed and saved; the
                bus name is not taken

Settings are read once, at start, from $XDG_CONFIG_HOME/tarsk-standin/standin.ini (usually
~/.config/tarsk-standin/standin.ini) or from the file TARSK_STANDIN_SETTINGS names; [Output]
DxfVersion is read again for every drawing saved, [Plot] for every drawing opened. A key of
the file wins over its environment variable; a blank value counts as unset, a value the server
cannot read is ignored with a warning on standard error. A server started by the
bus gets the bus daemon's environment: use the file, or send the variables with
org.freedesktop.DBus.UpdateActivationEnvironment before the server starts.

)";

void printHelp()
{
    QByteArray text = kUsage;
    for (const ServerSettings::Setting &setting : ServerSettings::table()) {
        text += QByteArray("  [") + setting.section + "] " + setting.key;
        if (*setting.variable)
            text += QByteArray(", ") + setting.variable;
        text += QByteArray("\n      ") + setting.meaning;
        if (*setting.byDefault)
            text += QByteArray(" (default ") + setting.byDefault + ')';
        text += '\n';
    }
    std::fputs(text.constData(), stdout);
}

// A value the server cannot read is left out, said where whoever started it will look: the
// terminal, or the journal of the bus that started it.
ServerSettings loadSettings()
{
    QStringList warnings;
    ServerSettings settings = ServerSettings::load(&warnings);
    for (const QString &warning : std::as_const(warnings))
        std::fprintf(stderr, "tarsk-standin: %s\n", qPrintable(warning));
    return settings;
}

int runServer(int argc, char *argv[])
{
    // Drawing PDF, SVG and EMF pages needs the font and paint machinery of a GUI application,
    // but the server shows no window and is often started by the bus with no display at all.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    // Started by the bus, the server answers on that bus even if the inherited environment
    // names another session bus.
    const QDBusConnection connection = qEnvironmentVariableIsEmpty("DBUS_STARTER_ADDRESS")
        ? QDBusConnection::sessionBus()
        : QDBusConnection::connectToBus(QDBusConnection::ActivationBus,
                                        QStringLiteral("tarsk-standin"));
    DocumentServer server(connection, loadSettings());
    QString error;
    if (!server.start(&error)) {
        std::fprintf(stderr, "tarsk-standin: %s\n", qPrintable(error));
        return 1;
    }
    return app.exec();
}

int runWindow(int argc, char *argv[])
{
    QApplication app(argc, argv);
    loadSettings();
    const QStringList arguments = QCoreApplication::arguments();
    ServerWindow window(arguments.size() > 1 ? arguments.at(1) : QString());
    window.show();
    return app.exec();
}

} // namespace

int main(int argc, char *argv[])
{
    // The server must not need a display: the bus may start it where there is none.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            printHelp();
            return 0;
        }
        if (std::strcmp(argv[i], "--automation") == 0)
            return runServer(argc, argv);
    }
    return runWindow(argc, argv);
}
