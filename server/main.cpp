// tarsk-standin: a stand-in for the drawing program's automation server, so that Norvale can be
// tried and tested where the drawing program is not installed. It converts what it has a reader
// and a writer for (see FormatRegistry) and refuses the rest with an error reply that names the
// format; with the text-record backend each saved "drawing" is instead a short UTF-8 text record
// of what was asked, for tests of the client that need every format.
//
//   tarsk-standin --automation   serve "Tarsk.Document" at /Tarsk/Document on the session bus
//                                 (the bus that activated it, if any); started by the bus through
//                                 the Tarsk.Document.service file.
//   tarsk-standin [FILE]          a small window showing the version and the stored author data,
//                                 which can be edited and saved. It does not take the bus name.
//
// Settings file: $XDG_CONFIG_HOME/tarsk-standin/standin.ini (~/.config/... when unset), or the
// file named by TARSK_STANDIN_SETTINGS. It is read once, when the server starts; a change takes
// effect for the next server (after Quit or the idle exit).
//
//   [General]  AuthorName, Affiliation   what GetAuthorName/GetAffiliation answer, and the
//                                        author data every newly opened drawing starts with
//   [General]  Backend                  "convert" (the default) or "record"; the variable
//                                        TARSK_STANDIN_BACKEND says the same, the key wins
//
// Knobs for tests and demonstrations. Each is read from the environment at start and overridden
// by the key of the [Testing] group of the settings file. A blank value counts as unset.
//
//   TARSK_STANDIN_VERSION     Version    what GetVersion answers (default 600)
//   TARSK_STANDIN_FAIL_OPEN   FailOpen   comma-separated file names (no folder, any case) whose
//                                        Open fails with an error reply
//   TARSK_STANDIN_FAIL_SAVE   FailSave   the same for SaveAs
//   TARSK_STANDIN_CRASH_ON    CrashOn    a file name on which Open or SaveAs exits the process
//                                        at once, without replying (exit status 3)
//   TARSK_STANDIN_DELAY_MS    DelayMs    a pause at the start of every call (default 0)
//   TARSK_STANDIN_IDLE_MS     IdleMs     exit after this long without a call (default 300000)
//   TARSK_STANDIN_STATS_FILE  StatsFile  at exit, append "calls=N busy_us=M" to this file, the
//                                        same figures GetStatistics answers
//
// Beyond the eight methods of the interface, GetStatistics() -> (i calls, x busyMicroseconds)
// answers how many calls this server has taken (itself not counted) and the time spent inside
// them, delays included, so that a benchmark can tell the client's share of a run from the
// server's.
//
// A server started by the bus gets the bus daemon's environment, not the caller's. To reach it,
// write the settings file, or send the variables with
// org.freedesktop.DBus.UpdateActivationEnvironment before the server is activated.

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
    DocumentServer server(connection, ServerSettings::load());
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
        if (std::strcmp(argv[i], "--automation") == 0)
            return runServer(argc, argv);
    }
    return runWindow(argc, argv);
}
