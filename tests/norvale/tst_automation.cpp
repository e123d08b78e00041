#include "tests/BusFixture.h"
#include "tests/norvale/FakeDesktop.h"

#include "app/CConverterDlg.h"
#include "conversion/CTarskDocument.h"
#include "platform/DesktopEntry.h"

#include <QDBusContext>

#include <memory>

using namespace Qt::Literals::StringLiterals;
using TestEnvironment::readFile;
using TestEnvironment::writeFile;

namespace {

const QString kService = BusFixture::kService;
const QString kFakeConnection = u"fake-server"_s;

QByteArray entry(const char *exec)
{
    return QByteArray("[Desktop Entry]\nType=Application\nName=Tarsk\nExec=") + exec + '\n';
}

} // namespace

// The drawing program as the client sees it, on its own bus connection, so that the client's
// calls travel through the bus daemon as they do to a real server in another process.
class FakeTarsk : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "Tarsk.Document")

public:
    int version = 600;
    QString authorName = u"山田 太郎"_s;
    QString affiliation = u"設計部"_s;
    QStringList calls;
    // The method that fails, and how: "error" (with a message), "bare" (without), "dies",
    // "hangs" (never answers), "slow" (answers after longer than the probe waits).
    QString failOn;
    QString failure = u"error"_s;

public slots:
    void Quit() { answer(u"Quit"_s); }
    void Open(const QString &path) { answer(u"Open"_s, path); }
    void SaveAs(const QString &path) { answer(u"SaveAs"_s, path); }
    int GetVersion() { return answer(u"GetVersion"_s), version; }
    QString GetAuthorName() { return answer(u"GetAuthorName"_s), authorName; }
    QString GetAffiliation() { return answer(u"GetAffiliation"_s), affiliation; }

private:
    void answer(const QString &method, const QString &argument = {})
    {
        calls << (argument.isNull() ? method : method + u' ' + argument);
        if (method != failOn)
            return;
        if (failure == u"hangs") {
            setDelayedReply(true);
        } else if (failure == u"slow") {
            setDelayedReply(true);
            QTimer::singleShot(CTarskDocument::kProbeTimeoutMs + 1000, this,
                               [this, bus = connection(), call = message()] {
                                   bus.send(call.createReply(version));
                               });
        } else if (failure == u"dies") {
            // The reply never comes: the server leaves the bus in the middle of the call.
            setDelayedReply(true);
            QDBusConnection::disconnectFromBus(kFakeConnection);
        } else {
            sendErrorReply(u"Tarsk.Error.Failed"_s,
                           failure == u"bare" ? QString()
                                              : method + u" に失敗しました: 図面.sfc"_s);
        }
    }
};

class TestAutomation : public QObject
{
    Q_OBJECT

    QTemporaryDir m_temp;
    BusFixture m_bus;
    std::unique_ptr<FakeTarsk> m_fake;

    FakeTarsk *startFake()
    {
        QDBusConnection connection
            = QDBusConnection::connectToBus(QDBusConnection::SessionBus, kFakeConnection);
        m_fake = std::make_unique<FakeTarsk>();
        if (!connection.registerObject(u"/Tarsk/Document"_s, m_fake.get(),
                                       QDBusConnection::ExportAllSlots)
            || !connection.registerService(kService))
            return nullptr;
        return m_fake.get();
    }

    // Fresh applications folders: the user's, then two system ones (with a relative one
    // between them, which does not count); an empty content writes no entry there.
    void setEntries(const QByteArray &home, const QByteArray &first = {},
                    const QByteArray &second = {})
    {
        static int nSet = 0;
        const QString root = m_temp.filePath(u"data%1"_s.arg(++nSet));
        const QString folders[] = {root + u"/home"_s, root + u"/first"_s, root + u"/second"_s};
        const QByteArray contents[] = {home, first, second};
        for (int i = 0; i < 3; ++i) {
            QDir().mkpath(folders[i]);
            if (!contents[i].isEmpty())
                writeFile(folders[i] + u"/applications/Tarsk.Document.desktop"_s, contents[i]);
        }
        qputenv("XDG_DATA_HOME", QFile::encodeName(folders[0]));
        qputenv("XDG_DATA_DIRS",
                QFile::encodeName(folders[1] + u":relative/share:"_s + folders[2]));
    }

private slots:
    // The client must meet neither another test's drawing server nor a service file on the
    // shared test bus, so this test runs its own bus daemon, activating nothing unless told.
    void initTestCase() { QVERIFY(m_bus.start(BusFixture::Services::Chosen)); }

    void cleanup()
    {
        QDBusConnection::disconnectFromBus(kFakeConnection);
        m_fake.reset();
        QVERIFY(m_bus.setService({}));
        QTRY_VERIFY(!QDBusConnection::sessionBus().interface()->isServiceRegistered(kService));
    }

    // An Exec value through the whole lookup: field codes and variables, then the program part.
    void executableFromExec_data()
    {
        QTest::addColumn<QString>("exec");
        QTest::addColumn<QString>("expected");
        const QString draw = u"/opt/Tarsk Draw/tarsk"_s;
        QTest::newRow("quoted, quoted %1") << u'"' + draw + u"\" \"%1\""_s << draw;
        QTest::newRow("words before %1 stay") << u"/opt/tarsk /x %1"_s << u"/opt/tarsk /x"_s;
        QTest::newRow("%1 alone") << u"%1"_s << QString();
        QTest::newRow("quote without partner") << u"\"/opt/tarsk %1"_s << QString();
        QTest::newRow("no %1, no quotes") << draw + u" -x"_s << draw + u" -x"_s;
        QTest::newRow("%F") << u"\"/opt/tarsk\" %F"_s << u"/opt/tarsk"_s;
        QTest::newRow("other codes vanish") << u"/opt/tarsk %i %c %k %U"_s << u"/opt/tarsk"_s;
        QTest::newRow("percent escape") << u"/opt/tarsk 50%%"_s << u"/opt/tarsk 50%"_s;
        // %N is a field code too: the variable must win.
        QTest::newRow("variable") << u"%NORVALE_DIR%/tarsk %f"_s << u"/opt/t/tarsk"_s;
        QTest::newRow("unset variable stays, its end opens the next")
            << u"%NORVALE_UNSET%NORVALE_DIR%"_s << u"%NORVALE_UNSET/opt/t"_s;
        QTest::newRow("escaped is no reference") << u"%%NORVALE_DIR%%"_s << u"%NORVALE_DIR%"_s;
    }
    void executableFromExec()
    {
        QFETCH(QString, exec);
        QFETCH(QString, expected);
        qputenv("NORVALE_DIR", "/opt/t");
        qunsetenv("NORVALE_UNSET");
        QCOMPARE(Platform::ExecutableFromCommand(Platform::ExpandExecValue(exec)), expected);
    }

    void desktopEntryCommand_data()
    {
        QTest::addColumn<QByteArray>("home");
        QTest::addColumn<QByteArray>("first");
        QTest::addColumn<QByteArray>("second");
        QTest::addColumn<QString>("expected");
        const QByteArray none;
        QTest::newRow("none") << none << none << none << QString();
        QTest::newRow("last system folder") << none << none << entry("2 %f") << u"2 %1"_s;
        QTest::newRow("first system folder wins") << none << entry("1") << entry("2") << u"1"_s;
        QTest::newRow("user folder wins") << entry("h") << entry("1") << none << u"h"_s;
        QTest::newRow("hidden user entry hides the system one")
            << QByteArray("[Desktop Entry]\nHidden=true\nExec=h\n") << entry("1") << none
            << QString();
        QTest::newRow("escapes, other groups, locales")
            << QByteArray("# Exec=c\n[Desktop Action a]\nExec=a\n[Desktop Entry]\nExec[ja]=j\n"
                          " Exec =  \"/opt/T\\sD/a\\\\\\\\b\" %f\nExec=second\n")
            << none << none << u"\"/opt/T D/a\\\\b\" %1"_s;
    }
    void desktopEntryCommand()
    {
        QFETCH(QByteArray, home);
        QFETCH(QByteArray, first);
        QFETCH(QByteArray, second);
        QFETCH(QString, expected);
        setEntries(home, first, second);
        QCOMPARE(Platform::DesktopEntryCommand(u"Tarsk.Document.desktop"_s), expected);
    }

    // How a failing call reads to the user; a slow one outside the probe is no failure.
    void calls_data()
    {
        QTest::addColumn<QString>("method");
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("description");
        QTest::newRow("error") << u"Open"_s << u"error"_s << u"Open に失敗しました: 図面.sfc"_s;
        QTest::newRow("error, no message") << u"SaveAs"_s << u"bare"_s << u"Tarsk.Error.Failed"_s;
        const QString died = u"描画プログラムが応答せずに終了しました。\n"
                             u"Message recipient disconnected from message bus without replying"_s;
        QTest::newRow("dies in Open") << u"Open"_s << u"dies"_s << died;
        QTest::newRow("dies in GetVersion") << u"GetVersion"_s << u"dies"_s << died;
        // Outside the probe a call may take as long as a conversion needs.
        QTest::newRow("slow, outside the probe") << u"GetVersion"_s << u"slow"_s << QString();
    }
    void calls()
    {
        QFETCH(QString, method);
        QFETCH(QString, failure);
        QFETCH(QString, description);
        FakeTarsk *fake = startFake();
        QVERIFY(fake);
        fake->failOn = method;
        fake->failure = failure;
        CTarskDocument doc;
        QVERIFY(doc.CreateDispatch());
        try {
            if (method == u"GetVersion")
                QCOMPARE(doc.GetVersion(), 600);
            else
                method == u"Open" ? doc.Open(u"/a.sfc"_s) : doc.SaveAs(u"/a.dxf"_s);
            QVERIFY2(description.isEmpty(), "no automation error");
        } catch (const CAutomationError &error) {
            QCOMPARE(error.Description(), description);
            QCOMPARE(QString::fromUtf8(error.what()), error.Description());
        }
    }

    // The session bus itself goes away under a connected document.
    void busLost()
    {
        QProcess daemon;
        daemon.start(u"dbus-daemon"_s, {u"--session"_s, u"--nofork"_s, u"--print-address=1"_s});
        QVERIFY(daemon.waitForStarted() && daemon.waitForReadyRead());
        const QString address = QString::fromUtf8(daemon.readLine().trimmed());
        QDBusConnection client = QDBusConnection::connectToBus(address, u"lost-client"_s);
        QDBusConnection server = QDBusConnection::connectToBus(address, u"lost-server"_s);
        FakeTarsk fake;
        QVERIFY(
            server.registerObject(u"/Tarsk/Document"_s, &fake, QDBusConnection::ExportAllSlots));
        QVERIFY(server.registerService(kService));
        CTarskDocument doc(client);
        QVERIFY(doc.CreateDispatch());
        QCOMPARE(doc.GetVersion(), 600);
        daemon.kill();
        QVERIFY(daemon.waitForFinished());
        QTRY_VERIFY(!client.isConnected());
        try {
            doc.GetVersion();
            QFAIL("no automation error");
        } catch (const CAutomationError &error) {
            QCOMPARE(error.Description(),
                     u"セッション バスへの接続が切れました。\nNot connected to D-Bus server"_s);
        }
        QDBusConnection::disconnectFromBus(u"lost-client"_s);
        QDBusConnection::disconnectFromBus(u"lost-server"_s);
    }

    // After a failure what was read stays, what failed keeps its start value, no Quit follows.
    void probe_data()
    {
        QTest::addColumn<int>("version");
        QTest::addColumn<QString>("failOn");
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("author");
        QTest::addColumn<QString>("calls");
        const QString e = u"error"_s, start = u"logon@"_s, server = u"山田 太郎@設計部"_s;
        const QString all = u"GetVersion GetAuthorName GetAffiliation Quit"_s;
        QTest::newRow("519") << 519 << QString() << e << QString() << start << u"GetVersion Quit"_s;
        QTest::newRow("520") << 520 << QString() << e << u"Tarsk5.20"_s << start
                             << u"GetVersion Quit"_s;
        QTest::newRow("600") << 600 << QString() << e << u"Tarsk6.00"_s << server << all;
        QTest::newRow("no server") << 0 << QString() << e << QString() << start << QString();
        QTest::newRow("its activation fails")
            << 0 << QString() << u"broken"_s << QString() << start << QString();
        QTest::newRow("GetVersion fails")
            << 600 << u"GetVersion"_s << e << QString() << start << u"GetVersion"_s;
        QTest::newRow("GetAffiliation fails")
            << 600 << u"GetAffiliation"_s << e << u"Tarsk6.00"_s << u"山田 太郎@"_s
            << u"GetVersion GetAuthorName GetAffiliation"_s;
        // A hung program costs the start-up a few seconds, not the hour a conversion may take.
        QTest::newRow("hangs in GetVersion")
            << 600 << u"GetVersion"_s << u"hangs"_s << QString() << start << u"GetVersion"_s;
    }
    void probe()
    {
        QFETCH(int, version);
        QFETCH(QString, failOn);
        QFETCH(QString, failure);
        QFETCH(QString, text);
        QFETCH(QString, author);
        QFETCH(QString, calls);
        setEntries(entry("\"/opt/Tarsk Draw/tarsk\" %f"));
        if (failure == u"broken")
            QVERIFY(m_bus.setService("[D-BUS Service]\nName=Tarsk.Document\nExec=/bin/false\n"));
        FakeTarsk *fake = version ? startFake() : nullptr;
        if (fake) {
            fake->version = version;
            fake->failOn = failOn;
            fake->failure = failure;
        }
        if (!failOn.isEmpty())
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"failed during start-up"_s));

        CConverterDlg dlg;
        dlg.m_strAppDir = m_temp.path();
        dlg.m_strCadUserName = u"logon"_s;
        dlg.Probe();
        QCOMPARE(dlg.m_nCadVersion, failOn == u"GetVersion" ? 0 : version);
        QCOMPARE(dlg.GetDlgItemText(IDC_CAD_VERSION), text);
        QCOMPARE(dlg.m_strCadExePath, text.isEmpty() ? QString() : u"/opt/Tarsk Draw/tarsk"_s);
        QCOMPARE(dlg.m_strCadUserName + u'@' + dlg.m_strAffiliation, author);
        QCOMPARE(fake ? fake->calls.join(u' ') : QString(), calls);
    }
};

NORVALE_TEST_MAIN(TestAutomation)
#include "tst_automation.moc"
