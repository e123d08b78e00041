#pragma once

#include <QtTest>

// The least application a test links: tests of the drawing server's readers link no GUI.
#if defined(QT_WIDGETS_LIB)
#include <QApplication>
using TestApplication = QApplication;
#elif defined(QT_GUI_LIB)
#include <QGuiApplication>
using TestApplication = QGuiApplication;
#else
using TestApplication = QCoreApplication;
#endif

namespace TestEnvironment {

// Points HOME and every XDG folder into a private temporary folder before Qt reads them,
// so that no test ever reads or writes the user's settings, documents or trash.
inline QTemporaryDir &isolateHome()
{
    static QTemporaryDir home(QDir::tempPath() + QStringLiteral("/norvale-test-XXXXXX"));
    const QString root = home.path();
    const auto setDir = [&root](const char *name, const QString &sub) {
        const QString path = root + sub;
        QDir().mkpath(path);
        qputenv(name, QFile::encodeName(path));
    };
    setDir("HOME", QStringLiteral("/home"));
    setDir("XDG_CONFIG_HOME", QStringLiteral("/home/.config"));
    setDir("XDG_DATA_HOME", QStringLiteral("/home/.local/share"));
    setDir("XDG_CACHE_HOME", QStringLiteral("/home/.cache"));
    setDir("XDG_RUNTIME_DIR", QStringLiteral("/runtime"));
    QFile::setPermissions(root + QStringLiteral("/runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return home;
}

// Makes the folders on the way; a valid modified is the file's last change.
inline bool writeFile(const QString &path, const QByteArray &data, const QDateTime &modified = {})
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size()
        && file.flush()
        && (!modified.isValid() || file.setFileTime(modified, QFileDevice::FileModificationTime));
}

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Starts a bus daemon of the test's own with configFile and makes it the session bus of the
// process. It must run before anything touches QDBusConnection::sessionBus(), which connects
// once and keeps that bus. The daemon inherits the isolated HOME and XDG folders, and so does
// every service it activates. Returns the bus address, empty when the daemon did not start.
inline QByteArray startPrivateBus(QProcess &daemon, const QString &configFile)
{
    daemon.start(QStringLiteral("dbus-daemon"),
                 {QStringLiteral("--config-file=") + configFile, QStringLiteral("--nofork"),
                  QStringLiteral("--print-address=1")});
    if (!daemon.waitForStarted(10000))
        return QByteArray();
    while (!daemon.canReadLine()) {
        if (!daemon.waitForReadyRead(10000))
            return QByteArray();
    }
    const QByteArray address = daemon.readLine().trimmed();
    if (!address.isEmpty())
        qputenv("DBUS_SESSION_BUS_ADDRESS", address);
    return address;
}

} // namespace TestEnvironment

#define NORVALE_TEST_MAIN(TestObject)                                                              \
    int main(int argc, char *argv[])                                                               \
    {                                                                                              \
        TestEnvironment::isolateHome();                                                            \
        TestApplication app(argc, argv);                                                           \
        TestObject tc;                                                                             \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&tc, argc, argv);                                                      \
    }
