#include "tests/TestEnvironment.h"

#include "platform/SingleInstance.h"
#include "platform/System.h"

#include <QDateTime>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QSysInfo>

// Network is linked through the core library but its headers are not on the test include path.
#include <QLocalSocket>

#include <memory>
#include <vector>

namespace {

// Generous enough for a sanitizer build starting on a loaded machine.
constexpr int kStartTimeoutMs = 30000;
constexpr int kExitTimeoutMs = 15000;

const QString kName = QStringLiteral("Norvale");

bool acceptsConnection(const QString &socketPath)
{
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    const bool connected = socket.waitForConnected(1000);
    socket.abort();
    return connected;
}

QByteArray lockLine(const QString &text)
{
    return text.toUtf8() + '\n';
}

// Makes a lock look as if its owner had started long ago, without disturbing the owner.
bool backdate(const QString &path, int seconds)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly)
        && file.setFileTime(QDateTime::currentDateTime().addSecs(-seconds),
                            QFileDevice::FileModificationTime);
}

} // namespace

class TestSingleInstance : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void secondObjectIsSecondaryUntilFirstReleases_data();
    void secondObjectIsSecondaryUntilFirstReleases();
    void activationCarriesToken_data();
    void activationCarriesToken();
    void leftoverLock_data();
    void leftoverLock();
    void unusableFolderFails_data();
    void unusableFolderFails();
    void successorStartingDuringShutdownKeepsItsSocket();

    void secondStartExitsAndFirstKeepsRunning_data();
    void secondStartExitsAndFirstKeepsRunning();
    void secondStartRaisesFirst_data();
    void secondStartRaisesFirst();
    void killedInstanceDoesNotBlockNextStart();

private:
    QString Folder() const { return Platform::RuntimeFolder(); }
    QString LockPath() const { return Folder() + QStringLiteral("/Norvale.lock"); }
    QString SocketPath() const { return Folder() + QStringLiteral("/Norvale.socket"); }

    QProcess *StartNorvale(const QByteArray *activationToken = nullptr);
    bool WaitUntilPrimary(QProcess *process);

    std::vector<std::unique_ptr<QProcess>> m_processes;
};

void TestSingleInstance::init()
{
    // A failed case may leave a killed instance's files; every case starts from a clean folder.
    QFile::remove(LockPath());
    QFile::remove(SocketPath());
}

void TestSingleInstance::cleanup()
{
    for (const std::unique_ptr<QProcess> &process : m_processes) {
        if (process->state() != QProcess::NotRunning) {
            process->kill();
            process->waitForFinished(kExitTimeoutMs);
        }
    }
    m_processes.clear();
}

QProcess *TestSingleInstance::StartNorvale(const QByteArray *activationToken)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.remove(QStringLiteral("XDG_ACTIVATION_TOKEN"));
    if (activationToken)
        env.insert(QStringLiteral("XDG_ACTIVATION_TOKEN"), QString::fromUtf8(*activationToken));

    m_processes.push_back(std::make_unique<QProcess>());
    QProcess *process = m_processes.back().get();
    process->setProcessEnvironment(env);
    process->setProcessChannelMode(QProcess::MergedChannels);
    process->start(QStringLiteral(NORVALE_BINARY), QStringList());
    return process;
}

// Primary means: still running and answering on the socket. Connecting alone is not enough,
// since a dead instance's socket file stays behind.
bool TestSingleInstance::WaitUntilPrimary(QProcess *process)
{
    return QTest::qWaitFor(
               [&] {
                   return process->state() == QProcess::NotRunning
                       || (process->state() == QProcess::Running
                           && acceptsConnection(SocketPath()));
               },
               kStartTimeoutMs)
        && process->state() == QProcess::Running;
}

void TestSingleInstance::secondObjectIsSecondaryUntilFirstReleases_data()
{
    QTest::addColumn<int>("runningSeconds");

    QTest::newRow("just started") << 0;
    QTest::newRow("running for a day") << 24 * 3600;
}

void TestSingleInstance::secondObjectIsSecondaryUntilFirstReleases()
{
    QFETCH(int, runningSeconds);

    auto first = std::make_unique<SingleInstance>(kName, Folder());
    QCOMPARE(first->Acquire(QString()), SingleInstance::Role::Primary);
    QVERIFY(backdate(LockPath(), runningSeconds));
    QCOMPARE(first->LockPath(), LockPath());
    QCOMPARE(first->SocketPath(), SocketPath());
    QVERIFY(QFileInfo::exists(LockPath()));
    QVERIFY(acceptsConnection(SocketPath()));

    {
        SingleInstance second(kName, Folder());
        QCOMPARE(second.Acquire(QString()), SingleInstance::Role::Secondary);
    }
    // A secondary that gives up must leave the primary's lock and socket alone.
    QVERIFY(QFileInfo::exists(LockPath()));
    QVERIFY(acceptsConnection(SocketPath()));

    // Another program name is another instance.
    SingleInstance other(QStringLiteral("Other"), Folder());
    QCOMPARE(other.Acquire(QString()), SingleInstance::Role::Primary);

    first.reset();
    QVERIFY(!QFileInfo::exists(LockPath()));
    QVERIFY(!QFileInfo::exists(SocketPath()));

    SingleInstance third(kName, Folder());
    QCOMPARE(third.Acquire(QString()), SingleInstance::Role::Primary);
    QVERIFY(acceptsConnection(SocketPath()));
}

void TestSingleInstance::activationCarriesToken_data()
{
    QTest::addColumn<QString>("token");

    QTest::newRow("none") << QString();
    QTest::newRow("wayland token") << QStringLiteral("kwin-4711_TIME1234");
    QTest::newRow("non-ascii") << QStringLiteral("jeton-\u00e9t\u00e9-\u30c8\u30fc\u30af\u30f3");
}

void TestSingleInstance::activationCarriesToken()
{
    QFETCH(QString, token);

    SingleInstance primary(kName, Folder());
    QCOMPARE(primary.Acquire(QStringLiteral("unused")), SingleInstance::Role::Primary);
    QSignalSpy spy(&primary, &SingleInstance::activationRequested);

    {
        SingleInstance secondary(kName, Folder());
        QCOMPARE(secondary.Acquire(token), SingleInstance::Role::Secondary);
    }
    QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 1, kExitTimeoutMs);
    QCOMPARE(spy.at(0).at(0).toString(), token);

    // A stranger on the socket must not raise the window.
    QLocalSocket stranger;
    stranger.connectToServer(SocketPath());
    QVERIFY(stranger.waitForConnected(kExitTimeoutMs));
    stranger.write("quit\n\n");
    QVERIFY(stranger.waitForBytesWritten(kExitTimeoutMs));
    stranger.disconnectFromServer();

    // Each request is delivered once, also when requests follow one another.
    {
        SingleInstance secondary(kName, Folder());
        QCOMPARE(secondary.Acquire(QStringLiteral("again")), SingleInstance::Role::Secondary);
    }
    const auto tokens = [&spy] {
        QStringList received;
        for (const QList<QVariant> &arguments : spy)
            received.append(arguments.at(0).toString());
        return received;
    };
    QTRY_VERIFY_WITH_TIMEOUT(tokens().contains(QStringLiteral("again")), kExitTimeoutMs);
    QCOMPARE(tokens(), QStringList({token, QStringLiteral("again")}));
}

void TestSingleInstance::leftoverLock_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("ageSeconds");
    QTest::addColumn<SingleInstance::Role>("role");

    const QByteArray host = lockLine(QSysInfo::machineHostName());
    const QByteArray hostId = QSysInfo::machineUniqueId() + '\n';
    const QByteArray bootId = QSysInfo::bootUniqueId() + '\n';
    const QByteArray ownPid = QByteArray::number(QCoreApplication::applicationPid()) + '\n';
    const QByteArray ownName
        = lockLine(QFileInfo(QCoreApplication::applicationFilePath()).fileName());
    // Far above any pid_max, so no process can have it.
    const QByteArray deadPid = QByteArrayLiteral("1073741824\n");
    const QByteArray norvale = QByteArrayLiteral("norvale\n");
    constexpr int hour = 3600;

    QTest::newRow("owner crashed")
        << deadPid + norvale + host + hostId + bootId << hour << SingleInstance::Role::Primary;
    QTest::newRow("owner crashed just now")
        << deadPid + norvale + host + hostId + bootId << 0 << SingleInstance::Role::Primary;
    QTest::newRow("pid now used by another program")
        << ownPid + norvale + host + hostId + bootId << hour << SingleInstance::Role::Primary;
    QTest::newRow("written before a reboot")
        << ownPid + ownName + host + hostId + QByteArrayLiteral("an-earlier-boot\n") << hour
        << SingleInstance::Role::Primary;
    QTest::newRow("owner died before writing it")
        << QByteArray() << hour << SingleInstance::Role::Primary;
    QTest::newRow("garbled") << QByteArrayLiteral("\x01\x02not a lock") << hour
                             << SingleInstance::Role::Primary;
    QTest::newRow("written on another machine")
        << QByteArrayLiteral("1\nnorvale\nelsewhere\n0123456789abcdef\n") + bootId << hour
        << SingleInstance::Role::Primary;
    // An instance creates its lock file and fills it in a moment later.
    QTest::newRow("being written right now")
        << QByteArray() << 0 << SingleInstance::Role::Secondary;
}

void TestSingleInstance::leftoverLock()
{
    QFETCH(QByteArray, content);
    QFETCH(int, ageSeconds);
    QFETCH(SingleInstance::Role, role);

    QFile lock(LockPath());
    QVERIFY(lock.open(QIODevice::WriteOnly));
    QCOMPARE(lock.write(content), content.size());
    lock.close();
    QVERIFY(backdate(LockPath(), ageSeconds));
    // The dead owner's socket file stays behind too; it answers nobody.
    QFile socketFile(SocketPath());
    QVERIFY(socketFile.open(QIODevice::WriteOnly));
    socketFile.close();

    SingleInstance instance(kName, Folder());
    QCOMPARE(instance.Acquire(QString()), role);
    if (role == SingleInstance::Role::Primary) {
        QVERIFY(acceptsConnection(SocketPath()));
        // The lock now names this process, so the next start sees a live owner.
        SingleInstance next(kName, Folder());
        QCOMPARE(next.Acquire(QString()), SingleInstance::Role::Secondary);
    } else {
        QCOMPARE(QFileInfo(LockPath()).size(), content.size());
    }
}

void TestSingleInstance::unusableFolderFails_data()
{
    QTest::addColumn<QString>("folder");

    QTest::newRow("missing") << QStringLiteral("/does/not/exist");
    QTest::newRow("a file") << QStringLiteral("/dev/null");
}

void TestSingleInstance::unusableFolderFails()
{
    QFETCH(QString, folder);

    SingleInstance instance(kName, folder);
    QCOMPARE(instance.Acquire(QString()), SingleInstance::Role::Failed);
}

// A new start can take the lock while the previous instance is still closing; the closing one
// must not take the newcomer's socket with it.
void TestSingleInstance::successorStartingDuringShutdownKeepsItsSocket()
{
    auto predecessor = std::make_unique<SingleInstance>(kName, Folder());
    QCOMPARE(predecessor->Acquire(QString()), SingleInstance::Role::Primary);

    std::unique_ptr<SingleInstance> successor;
    SingleInstance::Role successorRole = SingleInstance::Role::Failed;
    connect(predecessor.get(), &QObject::destroyed, this, [&] {
        successor = std::make_unique<SingleInstance>(kName, Folder());
        successorRole = successor->Acquire(QString());
    });
    predecessor.reset();

    QVERIFY(successor);
    QCOMPARE(successorRole, SingleInstance::Role::Primary);
    QVERIFY(acceptsConnection(SocketPath()));

    QSignalSpy spy(successor.get(), &SingleInstance::activationRequested);
    SingleInstance later(kName, Folder());
    QCOMPARE(later.Acquire(QStringLiteral("later")), SingleInstance::Role::Secondary);
    QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 1, kExitTimeoutMs);
}

void TestSingleInstance::secondStartExitsAndFirstKeepsRunning_data()
{
    QTest::addColumn<int>("runningSeconds");

    QTest::newRow("just started") << 0;
    QTest::newRow("running for a day") << 24 * 3600;
}

void TestSingleInstance::secondStartExitsAndFirstKeepsRunning()
{
    QFETCH(int, runningSeconds);

    QProcess *first = StartNorvale();
    QVERIFY2(WaitUntilPrimary(first), first->readAll().constData());
    QVERIFY(backdate(LockPath(), runningSeconds));

    QProcess *second = StartNorvale();
    QVERIFY2(second->waitForFinished(kExitTimeoutMs), "the second start did not end by itself");
    QCOMPARE(second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->exitCode(), 0);

    QCOMPARE(first->state(), QProcess::Running);
    QVERIFY(acceptsConnection(SocketPath()));
    // Had the second start broken the first one's lock, a third would not find it held.
    QProcess *third = StartNorvale();
    QVERIFY2(third->waitForFinished(kExitTimeoutMs), "the third start did not end by itself");
    QCOMPARE(third->exitCode(), 0);
}

void TestSingleInstance::secondStartRaisesFirst_data()
{
    QTest::addColumn<bool>("setToken");
    QTest::addColumn<QByteArray>("token");

    QTest::newRow("token") << true << QByteArrayLiteral("token-123");
    QTest::newRow("empty token") << true << QByteArray();
    QTest::newRow("no token") << false << QByteArray();
}

void TestSingleInstance::secondStartRaisesFirst()
{
    QFETCH(bool, setToken);
    QFETCH(QByteArray, token);

    SingleInstance primary(kName, Folder());
    QCOMPARE(primary.Acquire(QString()), SingleInstance::Role::Primary);
    QSignalSpy spy(&primary, &SingleInstance::activationRequested);

    QProcess *second = StartNorvale(setToken ? &token : nullptr);
    QTRY_VERIFY_WITH_TIMEOUT(second->state() == QProcess::NotRunning && spy.count() > 0,
                             kExitTimeoutMs);
    QCOMPARE(second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->exitCode(), 0);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toString(), QString::fromUtf8(token));
}

void TestSingleInstance::killedInstanceDoesNotBlockNextStart()
{
    QProcess *crashed = StartNorvale();
    QVERIFY2(WaitUntilPrimary(crashed), crashed->readAll().constData());
    crashed->kill();
    QVERIFY(crashed->waitForFinished(kExitTimeoutMs));
    QVERIFY(QFileInfo::exists(LockPath()));
    QVERIFY(QFileInfo::exists(SocketPath()));
    QVERIFY(!acceptsConnection(SocketPath()));

    QProcess *next = StartNorvale();
    QVERIFY2(WaitUntilPrimary(next), next->readAll().constData());

    QProcess *third = StartNorvale();
    QVERIFY2(third->waitForFinished(kExitTimeoutMs), "the third start did not end by itself");
    QCOMPARE(third->exitCode(), 0);
    QCOMPARE(next->state(), QProcess::Running);
}

NORVALE_TEST_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
