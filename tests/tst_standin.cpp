#include "tests/TestEnvironment.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDateTime>
#include <QProcess>
#include <QSettings>

#include <memory>
#include <unistd.h>

using namespace TestEnvironment;
using namespace Qt::Literals::StringLiterals;

namespace {

const QString kService = u"Tarsk.Document"_s;
const QString kConnection = u"standin-test"_s;

using Environment = QMap<QString, QString>;

} // namespace

// Runs the real stand-in, activated by a bus daemon of this test's own: other test programs
// running at the same time must not quit or reconfigure the server under this one.
class TestStandin : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void open_data();
    void open();
    void saveAs_data();
    void saveAs();
    void authorDataBelongsToTheOpenDrawing();
    void saveAsReplacesTheTargetByRenaming();
    void version_data();
    void version();
    void configuredFailure_data();
    void configuredFailure();
    void crash_data();
    void crash();
    void quitLetsTheNextCallStartAFreshServer();
    void idleServerLeavesTheBus();

private:
    QDBusConnection bus() const { return QDBusConnection(kConnection); }
    bool serverRunning() const { return bus().interface()->isServiceRegistered(kService); }
    QDBusMessage call(const QString &method, const QVariantList &arguments = {})
    {
        QDBusMessage message
            = QDBusMessage::createMethodCall(kService, u"/Tarsk/Document"_s, kService, method);
        message.setArguments(arguments);
        return bus().call(message, QDBus::Block, 20000);
    }
    bool succeeds(const QString &method, const QVariantList &arguments = {})
    {
        return call(method, arguments).type() == QDBusMessage::ReplyMessage;
    }
    QString makeFile(const QString &name, const QByteArray &data = "drawing")
    {
        const QString path = m_dir.filePath(name);
        return writeFile(path, data) ? path : QString();
    }
    void stopServer();
    void configure(const QVariantMap &values);
    void setActivationEnvironment(const Environment &variables);

    QProcess m_daemon;
    std::unique_ptr<QTemporaryDir> m_temporaryDir;
    QDir m_dir;
    QString m_settingsPath;
};

void TestStandin::stopServer()
{
    if (serverRunning())
        QVERIFY(succeeds(u"Quit"_s));
}

// The server reads its settings once, at start; the next call starts one that sees these.
void TestStandin::configure(const QVariantMap &values)
{
    {
        QSettings settings(m_settingsPath, QSettings::IniFormat);
        for (auto it = values.begin(); it != values.end(); ++it)
            settings.setValue(it.key(), it.value());
    }
    stopServer();
}

// A server the bus starts sees the daemon's environment, not this process's.
void TestStandin::setActivationEnvironment(const Environment &variables)
{
    QDBusMessage message = QDBusMessage::createMethodCall(
        u"org.freedesktop.DBus"_s, u"/org/freedesktop/DBus"_s, u"org.freedesktop.DBus"_s,
        u"UpdateActivationEnvironment"_s);
    message << QVariant::fromValue(variables);
    const QDBusMessage reply = bus().call(message);
    QVERIFY2(reply.type() == QDBusMessage::ReplyMessage, qPrintable(reply.errorMessage()));
}

void TestStandin::initTestCase()
{
    qDBusRegisterMetaType<Environment>();
    m_settingsPath = qEnvironmentVariable("XDG_CONFIG_HOME") + u"/tarsk-standin/standin.ini"_s;

    // Started from here, the daemon hands this test's isolated HOME and XDG folders on to the
    // servers it activates; its only service is the stand-in built beside this test.
    const QString config = QCoreApplication::applicationDirPath() + u"/dbus-session.conf"_s;
    QVERIFY2(QFile::exists(config), qPrintable(config));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(u"DBUS_SESSION_BUS_ADDRESS"_s);
    m_daemon.setProcessEnvironment(environment);
    m_daemon.setStandardErrorFile(QProcess::nullDevice());
    m_daemon.start(
        u"dbus-daemon"_s,
        {u"--config-file="_s + config, u"--nofork"_s, u"--nopidfile"_s, u"--print-address=1"_s});
    QVERIFY2(m_daemon.waitForReadyRead(10000), qPrintable(m_daemon.errorString()));
    const QString address = QString::fromUtf8(m_daemon.readLine().trimmed());
    QVERIFY(QDBusConnection::connectToBus(address, kConnection).isConnected());
}

void TestStandin::init()
{
    m_temporaryDir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_temporaryDir->isValid());
    m_dir.setPath(m_temporaryDir->path());
    QFile::remove(m_settingsPath);
    setActivationEnvironment({{u"TARSK_STANDIN_VERSION"_s, QString()}});
    stopServer();
}

void TestStandin::cleanupTestCase()
{
    stopServer();
    QDBusConnection::disconnectFromBus(kConnection);
    m_daemon.terminate();
    m_daemon.waitForFinished();
}

void TestStandin::open_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("accepted");

    for (const char *name : {"a.tsk", "b.SFC", "c.p21", "d.Dxf", "e.JWW", "f.jwc"})
        QTest::newRow(name) << QString::fromLatin1(name) << true;
    QTest::newRow("unknown format") << u"g.txt"_s << false;
    QTest::newRow("target-only format") << u"h.pdf"_s << false;
    QTest::newRow("no extension") << u"plan"_s << false;
    QTest::newRow("missing") << u"missing.sfc"_s << false;
    QTest::newRow("folder") << u"folder.sfc"_s << false;
    QTest::newRow("relative path") << u"relative.sfc"_s << false;
}

void TestStandin::open()
{
    QFETCH(QString, name);
    QFETCH(bool, accepted);
    QString path = m_dir.filePath(name);
    if (name == "folder.sfc"_L1)
        QVERIFY(m_dir.mkdir(name));
    else if (name == "relative.sfc"_L1)
        path = name;
    else if (name != "missing.sfc"_L1)
        QVERIFY(writeFile(path, "drawing"));

    const QDBusMessage reply = call(u"Open"_s, {path});
    if (!accepted) {
        QCOMPARE(reply.errorName(), u"Tarsk.Document.Error"_s);
        QVERIFY2(reply.errorMessage().contains(name), qPrintable(reply.errorMessage()));
        return;
    }
    QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
    const QString target = m_dir.filePath(u"out.dxf"_s);
    QVERIFY(succeeds(u"SaveAs"_s, {target}));
    QVERIFY(readFile(target).contains("\nsource: " + path.toUtf8() + '\n'));
}

void TestStandin::saveAs_data()
{
    QTest::addColumn<bool>("opened");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("refusal"); // what the error names; empty when the save works

    for (const char *target : {"o.tsk", "o.SFC", "o.p21", "o.dxf", "o.JWC", "o.pdf", "o.umb",
                               "o.Emf", "o.svg", "o.htm", "o.dwf"})
        QTest::newRow(target) << true << QString::fromLatin1(target) << QString();
    QTest::newRow("no current drawing") << false << u"o.dxf"_s << u"o.dxf"_s;
    QTest::newRow("source-only format") << true << u"o.jww"_s << u"o.jww"_s;
    QTest::newRow("unknown format") << true << u"o.txt"_s << u"o.txt"_s;
    QTest::newRow("missing folder") << true << u"nowhere/o.dxf"_s << u"nowhere"_s;
    QTest::newRow("folder in the way") << true << u"dir.dxf"_s << u"dir.dxf"_s;
}

void TestStandin::saveAs()
{
    QFETCH(bool, opened);
    QFETCH(QString, target);
    QFETCH(QString, refusal);
    const QString source = makeFile(u"plan.sfc"_s);
    if (opened)
        QVERIFY(succeeds(u"Open"_s, {source}));
    QVERIFY(m_dir.mkdir(u"dir.dxf"_s));

    const QString path = m_dir.filePath(target);
    const QDBusMessage reply = call(u"SaveAs"_s, {path});
    if (!refusal.isEmpty()) {
        QCOMPARE(reply.errorName(), u"Tarsk.Document.Error"_s);
        QVERIFY2(reply.errorMessage().contains(refusal), qPrintable(reply.errorMessage()));
        QVERIFY(!QFileInfo(path).isFile());
        return;
    }
    QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
    const QString record = QString::fromUtf8(readFile(path));
    QVERIFY2(record.startsWith(u"Norvale stand-in"_s), qPrintable(record));
    QVERIFY(record.contains(u"\nsource: "_s + source + u'\n'));
    QVERIFY(record.contains(u"\nsource-format: SFC\ntarget-format: "_s
                            + QFileInfo(target).suffix().toUpper() + u'\n'));
}

void TestStandin::authorDataBelongsToTheOpenDrawing()
{
    configure({{u"AuthorName"_s, u"保存 太郎"_s}, {u"Affiliation"_s, u"本社"_s}});
    QCOMPARE(call(u"SetAuthorName"_s, {u"x"_s}).type(), QDBusMessage::ErrorMessage);

    const QString first = m_dir.filePath(u"first.p21"_s);
    const QString second = m_dir.filePath(u"second.p21"_s);
    QVERIFY(succeeds(u"Open"_s, {makeFile(u"a.sfc"_s)}));
    QVERIFY(succeeds(u"SetAuthorName"_s, {u"山田 花子"_s}));
    QVERIFY(succeeds(u"SetAffiliation"_s, {u"設計部"_s}));
    QVERIFY(succeeds(u"SaveAs"_s, {first}));
    // The stored values stay as they were, and the next drawing starts from them again.
    QCOMPARE(call(u"GetAuthorName"_s).arguments().value(0), QVariant(u"保存 太郎"_s));
    QCOMPARE(call(u"GetAffiliation"_s).arguments().value(0), QVariant(u"本社"_s));
    QVERIFY(succeeds(u"Open"_s, {makeFile(u"b.sfc"_s)}));
    QVERIFY(succeeds(u"SaveAs"_s, {second}));

    const QString firstRecord = QString::fromUtf8(readFile(first));
    const QString secondRecord = QString::fromUtf8(readFile(second));
    QVERIFY2(firstRecord.contains(u"\nauthor-name: 山田 花子\naffiliation: 設計部\n"_s),
             qPrintable(firstRecord));
    QVERIFY2(secondRecord.contains(u"\nauthor-name: 保存 太郎\naffiliation: 本社\n"_s),
             qPrintable(secondRecord));
}

void TestStandin::saveAsReplacesTheTargetByRenaming()
{
    const QString target = makeFile(u"plan.dxf"_s, "old");
    const QString alias = m_dir.filePath(u"alias.dxf"_s);
    QCOMPARE(::link(QFile::encodeName(target).constData(), QFile::encodeName(alias).constData()),
             0);
    {
        QFile file(target);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(QDateTime(QDate(2001, 1, 1), QTime(12, 0)),
                                 QFileDevice::FileModificationTime));
    }
    const QDateTime before = QDateTime::currentDateTime().addSecs(-2);
    QVERIFY(succeeds(u"Open"_s, {makeFile(u"plan.sfc"_s)}));
    QVERIFY(succeeds(u"SaveAs"_s, {target}));

    // A file written in place would show through the old file's second name.
    QVERIFY(readFile(target).startsWith("Norvale stand-in"));
    QCOMPARE(readFile(alias), QByteArray("old"));
    QVERIFY(QFileInfo(target).lastModified() >= before);
    QCOMPARE(m_dir.entryList({u"*.dxf*"_s}, QDir::Files | QDir::Hidden),
             QStringList({u"alias.dxf"_s, u"plan.dxf"_s}));
}

void TestStandin::version_data()
{
    QTest::addColumn<QString>("fromEnvironment");
    QTest::addColumn<QString>("fromSettings");
    QTest::addColumn<int>("expected");

    QTest::newRow("default") << QString() << QString() << 600;
    QTest::newRow("environment") << u"812"_s << QString() << 812;
    QTest::newRow("settings") << QString() << u"731"_s << 731;
    QTest::newRow("settings win") << u"812"_s << u"519"_s << 519;
}

void TestStandin::version()
{
    QFETCH(QString, fromEnvironment);
    QFETCH(QString, fromSettings);
    QFETCH(int, expected);
    setActivationEnvironment({{u"TARSK_STANDIN_VERSION"_s, fromEnvironment}});
    configure({{u"Testing/Version"_s, fromSettings}});

    QCOMPARE(call(u"GetVersion"_s).arguments().value(0), QVariant(expected));
}

void TestStandin::configuredFailure_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("fails");

    QTest::newRow("open listed, other case") << u"Open"_s << u"b.sfc"_s << true;
    QTest::newRow("open not listed") << u"Open"_s << u"a.sfc"_s << false;
    QTest::newRow("save listed") << u"SaveAs"_s << u"b.dxf"_s << true;
    QTest::newRow("save not listed") << u"SaveAs"_s << u"a.dxf"_s << false;
}

void TestStandin::configuredFailure()
{
    QFETCH(QString, method);
    QFETCH(QString, file);
    QFETCH(bool, fails);
    configure({{u"Testing/FailOpen"_s, u"x.sfc,B.SFC"_s}, {u"Testing/FailSave"_s, u"b.dxf"_s}});
    const QString opened = makeFile(u"a.sfc"_s);
    makeFile(u"b.sfc"_s);
    if (method == "SaveAs"_L1)
        QVERIFY(succeeds(u"Open"_s, {opened}));

    const QDBusMessage reply = call(method, {m_dir.filePath(file)});
    QCOMPARE(reply.type(), fails ? QDBusMessage::ErrorMessage : QDBusMessage::ReplyMessage);
    QCOMPARE(reply.errorMessage().contains(file), fails);
}

void TestStandin::crash_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("file");

    QTest::newRow("open") << u"Open"_s << u"boom.sfc"_s;
    QTest::newRow("save") << u"SaveAs"_s << u"boom.dxf"_s;
}

void TestStandin::crash()
{
    QFETCH(QString, method);
    QFETCH(QString, file);
    configure({{u"Testing/CrashOn"_s, file}});
    QVERIFY(succeeds(u"Open"_s, {makeFile(u"a.sfc"_s)}));
    const QString crashed = bus().interface()->serviceOwner(kService);
    makeFile(u"boom.sfc"_s);

    const QDBusMessage reply = call(method, {m_dir.filePath(file)});
    QCOMPARE(reply.errorName(), u"org.freedesktop.DBus.Error.NoReply"_s);
    QVERIFY(!QFile::exists(m_dir.filePath(u"boom.dxf"_s)));

    const QDBusMessage next = call(u"GetVersion"_s);
    QCOMPARE(next.arguments().value(0), QVariant(600));
    QVERIFY(next.service() != crashed);
}

void TestStandin::quitLetsTheNextCallStartAFreshServer()
{
    const QString statsPath = m_dir.filePath(u"stats.txt"_s);
    configure({{u"Testing/DelayMs"_s, 20}, {u"Testing/StatsFile"_s, statsPath}});
    QVERIFY(succeeds(u"Open"_s, {makeFile(u"a.sfc"_s)}));
    QVERIFY(succeeds(u"GetVersion"_s));
    const QDBusMessage statistics = call(u"GetStatistics"_s);
    QCOMPARE(statistics.signature(), u"ix"_s);
    QCOMPARE(statistics.arguments().value(0), QVariant(2));
    QVERIFY(statistics.arguments().value(1).toLongLong() >= 2 * 20 * 1000);
    const QString first = statistics.service();

    QVERIFY(succeeds(u"Quit"_s));
    const QDBusMessage next = call(u"GetVersion"_s);
    QCOMPARE(next.type(), QDBusMessage::ReplyMessage);
    QVERIFY(next.service() != first);
    QTRY_VERIFY(readFile(statsPath).startsWith("calls=3 busy_us="));
}

void TestStandin::idleServerLeavesTheBus()
{
    configure({{u"Testing/IdleMs"_s, 200}});
    QVERIFY(succeeds(u"GetVersion"_s));
    QVERIFY(serverRunning());
    QTRY_VERIFY_WITH_TIMEOUT(!serverRunning(), 10000);
}

NORVALE_TEST_MAIN(TestStandin)
#include "tst_standin.moc"
