#include "ServerFixture.h"

#include <QDBusMetaType>
#include <QDateTime>

#include <unistd.h>

using namespace TestEnvironment;
using namespace Qt::Literals::StringLiterals;

// The stand-in's text-record server, which the client tests' runs talk to, on a bus daemon of this
// test's own: other test programs running at the same time must not quit or reconfigure the
// server under this one. The formats it takes are the client tests' business; here are what it
// refuses, the author data, the failures its settings order and its life on the bus.
class TestStandin : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_server.start()); }
    void init();

    void saveAsWritesARecord();
    void refusals_data();
    void refusals();
    void authorDataBelongsToTheOpenDrawing();
    void saveAsReplacesTheTargetByRenaming();
    void version_data();
    void version();
    void configuredFailure_data();
    void configuredFailure();
    void quitLetsTheNextCallStartAFreshServer();
    void idleServerLeavesTheBus();

private:
    static QDBusMessage call(const QString &method, const QVariantList &arguments = {})
    {
        return ServerFixture::call(method, arguments, 20000);
    }
    static bool succeeds(const QString &method, const QVariantList &arguments = {})
    {
        return ServerFixture::succeeds(method, arguments);
    }
    void setActivationVersion(const QString &version);

    ServerFixture m_server;
};

// A server the bus starts sees the daemon's environment, not this process's.
void TestStandin::setActivationVersion(const QString &version)
{
    using Environment = QMap<QString, QString>;
    qDBusRegisterMetaType<Environment>();
    QDBusMessage message = QDBusMessage::createMethodCall(
        u"org.freedesktop.DBus"_s, u"/org/freedesktop/DBus"_s, u"org.freedesktop.DBus"_s,
        u"UpdateActivationEnvironment"_s);
    message << QVariant::fromValue(Environment {{u"TARSK_STANDIN_VERSION"_s, version}});
    const QDBusMessage reply = QDBusConnection::sessionBus().call(message);
    QVERIFY2(reply.type() == QDBusMessage::ReplyMessage, qPrintable(reply.errorMessage()));
}

void TestStandin::init()
{
    QVERIFY(m_server.newFolder());
    setActivationVersion(QString());
    QVERIFY(ServerFixture::configure({}));
}

// The record names the drawing opened and the format saved, whatever the case of their names.
void TestStandin::saveAsWritesARecord()
{
    const QString source = m_server.makeFile(u"plan.Sfc"_s);
    const QString target = m_server.path(u"out.Emf"_s);
    QVERIFY(succeeds(u"Open"_s, {source}));
    QVERIFY(succeeds(u"SaveAs"_s, {target}));
    const QString record = QString::fromUtf8(readFile(target));
    QVERIFY2(record.startsWith(u"Norvale stand-in"_s), qPrintable(record));
    QVERIFY(record.contains(u"\nsource: "_s + source
                            + u"\nsource-format: SFC\ntarget-format: EMF\n"_s));
}

void TestStandin::refusals_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("refusal"); // what the error names

    const QString open = u"Open"_s;
    const QString save = u"SaveAs"_s;
    QTest::newRow("open unknown format") << open << u"g.txt"_s << u"g.txt"_s;
    QTest::newRow("open target-only format") << open << u"h.pdf"_s << u"h.pdf"_s;
    QTest::newRow("open without extension") << open << u"plan"_s << u"plan"_s;
    QTest::newRow("open missing") << open << u"missing.sfc"_s << u"missing.sfc"_s;
    QTest::newRow("open folder") << open << u"dir.sfc"_s << u"dir.sfc"_s;
    QTest::newRow("open relative path") << open << u"relative.sfc"_s << u"relative.sfc"_s;
    QTest::newRow("save, nothing open") << save << u"unopened.dxf"_s << u"unopened.dxf"_s;
    QTest::newRow("save source-only format") << save << u"o.jww"_s << u"o.jww"_s;
    QTest::newRow("save unknown format") << save << u"o.txt"_s << u"o.txt"_s;
    QTest::newRow("save into a missing folder") << save << u"nowhere/o.dxf"_s << u"nowhere"_s;
    QTest::newRow("save onto a folder") << save << u"dir.dxf"_s << u"dir.dxf"_s;
}

void TestStandin::refusals()
{
    QFETCH(QString, method);
    QFETCH(QString, name);
    QFETCH(QString, refusal);
    QVERIFY(m_server.folder().mkdir(u"dir.sfc"_s) && m_server.folder().mkdir(u"dir.dxf"_s));
    for (const QString &file : {u"g.txt"_s, u"h.pdf"_s, u"plan"_s, u"plan.sfc"_s})
        QVERIFY(!m_server.makeFile(file).isEmpty());
    if (method == "SaveAs"_L1 && name != "unopened.dxf"_L1)
        QVERIFY(succeeds(u"Open"_s, {m_server.path(u"plan.sfc"_s)}));

    const QString path = name.startsWith(u"relative") ? name : m_server.path(name);
    const QDBusMessage reply = call(method, {path});
    QCOMPARE(reply.errorName(), u"Tarsk.Document.Error"_s);
    QVERIFY2(reply.errorMessage().contains(refusal), qPrintable(reply.errorMessage()));
    if (method == "SaveAs"_L1)
        QVERIFY(!QFileInfo(path).isFile());
}

void TestStandin::authorDataBelongsToTheOpenDrawing()
{
    QVERIFY(ServerFixture::configure("[General]\nAuthorName=保存 太郎\nAffiliation=本社\n"));
    QCOMPARE(call(u"SetAuthorName"_s, {u"x"_s}).type(), QDBusMessage::ErrorMessage);

    const QString first = m_server.path(u"first.p21"_s);
    const QString second = m_server.path(u"second.p21"_s);
    QVERIFY(succeeds(u"Open"_s, {m_server.makeFile(u"a.sfc"_s)}));
    QVERIFY(succeeds(u"SetAuthorName"_s, {u"山田 花子"_s}));
    QVERIFY(succeeds(u"SetAffiliation"_s, {u"設計部"_s}));
    QVERIFY(succeeds(u"SaveAs"_s, {first}));
    // The stored values stay as they were, and the next drawing starts from them again.
    QCOMPARE(call(u"GetAuthorName"_s).arguments().value(0), QVariant(u"保存 太郎"_s));
    QCOMPARE(call(u"GetAffiliation"_s).arguments().value(0), QVariant(u"本社"_s));
    QVERIFY(succeeds(u"Open"_s, {m_server.makeFile(u"b.sfc"_s)}));
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
    const QString target = m_server.makeFile(u"plan.dxf"_s, "old");
    const QString alias = m_server.path(u"alias.dxf"_s);
    QCOMPARE(::link(QFile::encodeName(target).constData(), QFile::encodeName(alias).constData()),
             0);
    {
        QFile file(target);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(QDateTime(QDate(2001, 1, 1), QTime(12, 0)),
                                 QFileDevice::FileModificationTime));
    }
    const QDateTime before = QDateTime::currentDateTime().addSecs(-2);
    QVERIFY(succeeds(u"Open"_s, {m_server.makeFile(u"plan.sfc"_s)}));
    QVERIFY(succeeds(u"SaveAs"_s, {target}));

    // A file written in place would show through the old file's second name.
    QVERIFY(readFile(target).startsWith("Norvale stand-in"));
    QCOMPARE(readFile(alias), QByteArray("old"));
    QVERIFY(QFileInfo(target).lastModified() >= before);
    QCOMPARE(m_server.folder().entryList({u"*.dxf*"_s}, QDir::Files | QDir::Hidden),
             QStringList({u"alias.dxf"_s, u"plan.dxf"_s}));
}

void TestStandin::version_data()
{
    QTest::addColumn<QString>("fromEnvironment");
    QTest::addColumn<QByteArray>("fromSettings");
    QTest::addColumn<int>("expected");

    QTest::newRow("default") << QString() << QByteArray() << 600;
    QTest::newRow("environment") << u"812"_s << QByteArray() << 812;
    QTest::newRow("settings win") << u"812"_s << QByteArray("519") << 519;
}

void TestStandin::version()
{
    QFETCH(QString, fromEnvironment);
    QFETCH(QByteArray, fromSettings);
    QFETCH(int, expected);
    setActivationVersion(fromEnvironment);
    QVERIFY(ServerFixture::configure("[Testing]\nVersion=" + fromSettings + '\n'));

    QCOMPARE(call(u"GetVersion"_s).arguments().value(0), QVariant(expected));
}

// What the client tests order through [Testing]: failures of listed files, whatever their case,
// and crashes, after which the next call starts a fresh server.
void TestStandin::configuredFailure_data()
{
    QTest::addColumn<QByteArray>("testing");
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("error"); // empty when the call works

    const QString fails = u"Tarsk.Document.Error"_s;
    const QString dies = u"org.freedesktop.DBus.Error.NoReply"_s;
    const QByteArray failOpen = "FailOpen=x.sfc,B.SFC";
    QTest::newRow("open listed, other case") << failOpen << u"Open"_s << u"b.sfc"_s << fails;
    QTest::newRow("open not listed") << failOpen << u"Open"_s << u"a.sfc"_s << QString();
    QTest::newRow("save listed") << QByteArray("FailSave=b.dxf") << u"SaveAs"_s << u"b.dxf"_s
                                 << fails;
    QTest::newRow("crash in open")
        << QByteArray("CrashOn=b.sfc") << u"Open"_s << u"b.sfc"_s << dies;
    QTest::newRow("crash in save")
        << QByteArray("CrashOn=b.dxf") << u"SaveAs"_s << u"b.dxf"_s << dies;
}

void TestStandin::configuredFailure()
{
    QFETCH(QByteArray, testing);
    QFETCH(QString, method);
    QFETCH(QString, file);
    QFETCH(QString, error);
    QVERIFY(ServerFixture::configure("[Testing]\n" + testing + '\n'));
    m_server.makeFile(u"b.sfc"_s);
    QVERIFY(succeeds(u"Open"_s, {m_server.makeFile(u"a.sfc"_s)}));
    const QString first
        = QDBusConnection::sessionBus().interface()->serviceOwner(ServerFixture::kService);

    const QDBusMessage reply = call(method, {m_server.path(file)});
    QCOMPARE(reply.errorName(), error);
    QVERIFY(!QFile::exists(m_server.path(u"b.dxf"_s)));
    if (error == u"Tarsk.Document.Error")
        QVERIFY2(reply.errorMessage().contains(file), qPrintable(reply.errorMessage()));
    else if (!error.isEmpty()) // it crashed: the next call starts a fresh server
        QVERIFY(call(u"GetVersion"_s).service() != first);
}

void TestStandin::quitLetsTheNextCallStartAFreshServer()
{
    const QString statsPath = m_server.path(u"stats.txt"_s);
    QVERIFY(
        ServerFixture::configure("[Testing]\nDelayMs=20\nStatsFile=" + statsPath.toUtf8() + '\n'));
    QVERIFY(succeeds(u"Open"_s, {m_server.makeFile(u"a.sfc"_s)}));
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
    QVERIFY(ServerFixture::configure("[Testing]\nIdleMs=200\n"));
    QVERIFY(succeeds(u"GetVersion"_s));
    QVERIFY(ServerFixture::running());
    QTRY_VERIFY_WITH_TIMEOUT(!ServerFixture::running(), 10000);
}

NORVALE_TEST_MAIN(TestStandin)
#include "tst_standin.moc"
