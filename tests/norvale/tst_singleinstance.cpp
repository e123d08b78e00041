#include "tests/TestEnvironment.h"

#include "platform/SingleInstance.h"
#include "platform/System.h"

#include <QLocalSocket>
#include <QSignalSpy>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;
using Role = SingleInstance::Role;

class TestSingleInstance : public QObject
{
    Q_OBJECT

    // Generous enough for a sanitizer build starting on a loaded machine.
    static constexpr int kTimeoutMs = 30000;

    static QString folder() { return Platform::RuntimeFolder(); }
    static QString lockPath() { return folder() + u"/Norvale.lock"_s; }
    static QString socketPath() { return folder() + u"/Norvale.socket"_s; }
    // The role of a start that ends at once, as a secondary does.
    static Role acquire(const QString &token = {})
    {
        return SingleInstance(u"Norvale"_s, folder()).Acquire(token);
    }

    static bool acceptsConnection()
    {
        QLocalSocket socket;
        socket.connectToServer(socketPath());
        return socket.waitForConnected(1000);
    }

    // Makes the lock look as if its owner had started long ago, without disturbing the owner.
    static bool backdate(int seconds)
    {
        QFile file(lockPath());
        return file.open(QIODevice::ReadOnly)
            && file.setFileTime(QDateTime::currentDateTime().addSecs(-seconds),
                                QFileDevice::FileModificationTime);
    }

private slots:
    void cleanup()
    {
        // A dead instance leaves its files; the next case starts from a clean folder.
        QFile::remove(lockPath());
        QFile::remove(socketPath());
    }

    // Held for a day, the lock is still the running instance's: only it lets go, and a successor
    // starting while it is torn down keeps the socket it made.
    void releasedOnlyByPrimary()
    {
        auto first = std::make_unique<SingleInstance>(u"Norvale"_s, folder());
        QCOMPARE(first->Acquire({}), Role::Primary);
        QVERIFY(backdate(24 * 3600));
        QCOMPARE(acquire(), Role::Secondary);
        QVERIFY(QFileInfo::exists(lockPath()));
        QVERIFY(acceptsConnection());

        std::unique_ptr<SingleInstance> successor;
        Role successorRole = Role::Failed;
        connect(first.get(), &QObject::destroyed, this, [&] {
            successor = std::make_unique<SingleInstance>(u"Norvale"_s, folder());
            successorRole = successor->Acquire({});
        });
        first.reset();
        QCOMPARE(successorRole, Role::Primary);
        QVERIFY(acceptsConnection());
    }

    void leftoverLock_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("ageSeconds");
        QTest::addColumn<Role>("role");

        // A pid far above any pid_max, so no process can have it.
        const QByteArray dead = "1073741824\nnorvale\n" + QSysInfo::machineHostName().toUtf8()
            + '\n' + QSysInfo::machineUniqueId() + '\n' + QSysInfo::bootUniqueId() + '\n';
        QTest::newRow("owner crashed just now") << dead << 0 << Role::Primary;
        QTest::newRow("owner died before writing it") << QByteArray() << 3600 << Role::Primary;
        // A starting instance creates its lock file empty and fills it in a moment later.
        QTest::newRow("being written right now") << QByteArray() << 0 << Role::Secondary;
    }

    void leftoverLock()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, ageSeconds);
        QFETCH(Role, role);
        QFile lock(lockPath());
        QVERIFY(lock.open(QIODevice::WriteOnly) && lock.write(content) == content.size());
        lock.close();
        QVERIFY(backdate(ageSeconds));
        // The dead owner's socket file stays behind too; it answers nobody.
        QVERIFY(QFile(socketPath()).open(QIODevice::WriteOnly));

        SingleInstance instance(u"Norvale"_s, folder());
        QCOMPARE(instance.Acquire({}), role);
        if (role == Role::Primary) {
            QVERIFY(acceptsConnection());
            QCOMPARE(acquire(), Role::Secondary);
        } else {
            QCOMPARE(QFileInfo(lockPath()).size(), content.size());
        }
    }

    void unusableFolderFails()
    {
        for (const QString &f : {u"/does/not/exist"_s, u"/dev/null"_s})
            QCOMPARE(SingleInstance(u"Norvale"_s, f).Acquire({}), Role::Failed);
    }

    void runtimeFolder_data()
    {
        QTest::addColumn<QString>("runtime"); // how XDG_RUNTIME_DIR is set up
        QTest::addColumn<bool>("usesRuntime");
        QTest::newRow("private") << u"private"_s << true;
        QTest::newRow("unset") << u"unset"_s << false;
        QTest::newRow("open to others") << u"open"_s << false;
        QTest::newRow("another user's") << u"foreign"_s << false;
    }

    // Anything but the user's own 0700 runtime folder gives a private folder in the cache; the
    // shared /tmp is never used, where another user could make the folder first.
    void runtimeFolder()
    {
        QFETCH(QString, runtime);
        QFETCH(bool, usesRuntime);
        const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
        const auto restore = qScopeGuard([&saved] { qputenv("XDG_RUNTIME_DIR", saved); });
        QTemporaryDir dir;
        const QString candidate = dir.filePath(u"run"_s);
        QVERIFY(QDir().mkdir(candidate));
        const QByteArray path = QFile::encodeName(candidate);
        QCOMPARE(::chmod(path.constData(), runtime == u"open" ? 0777 : 0700), 0);
        if (runtime == u"foreign") {
            if (::geteuid() != 0)
                QSKIP("giving a folder to another user needs root");
            QCOMPARE(::chown(path.constData(), 65534, 65534), 0);
        }
        if (runtime == u"unset")
            qunsetenv("XDG_RUNTIME_DIR");
        else
            qputenv("XDG_RUNTIME_DIR", path);

        const QString chosen = Platform::RuntimeFolder();
        if (usesRuntime) {
            QCOMPARE(chosen, candidate);
            return;
        }
        const QString cache
            = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
        QCOMPARE(chosen, cache + u"/Norvale/runtime"_s);
        struct stat st;
        QCOMPARE(::lstat(QFile::encodeName(chosen).constData(), &st), 0);
        QVERIFY(S_ISDIR(st.st_mode));
        QCOMPARE(st.st_uid, ::geteuid());
        QCOMPARE(st.st_mode & 07777, mode_t(0700));
        QCOMPARE(SingleInstance(u"Norvale"_s, chosen).Acquire({}), Role::Primary);

        // A cache folder made open is closed again; one that is not a folder is refused.
        QCOMPARE(::chmod(QFile::encodeName(chosen).constData(), 0755), 0);
        QCOMPARE(Platform::RuntimeFolder(), chosen);
        QCOMPARE(::lstat(QFile::encodeName(chosen).constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, mode_t(0700));
        QVERIFY(QDir(chosen).removeRecursively());
        QVERIFY(QFile::link(dir.path(), chosen));
        QCOMPARE(Platform::RuntimeFolder(), QString());
        QVERIFY(QFile::remove(chosen));
        QCOMPARE(SingleInstance(u"Norvale"_s, QString()).Acquire({}), Role::Failed);
    }

    void secondStartRaisesFirst_data()
    {
        QTest::addColumn<QByteArray>("token");
        QTest::newRow("token") << QByteArray("kwin-4711_\xC3\xA9t\xC3\xA9");
        QTest::newRow("no token") << QByteArray();
    }

    void secondStartRaisesFirst()
    {
        QFETCH(QByteArray, token);
        SingleInstance primary(u"Norvale"_s, folder());
        QCOMPARE(primary.Acquire(u"unused"_s), Role::Primary);
        QSignalSpy spy(&primary, &SingleInstance::activationRequested);
        // Something else talking on the socket must not raise the window.
        QLocalSocket stranger;
        stranger.connectToServer(socketPath());
        QVERIFY(stranger.waitForConnected(kTimeoutMs));
        stranger.write("quit\nstranger\n");
        QVERIFY(stranger.waitForBytesWritten(kTimeoutMs));

        // The second start, which ends at once.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
        env.remove(u"XDG_ACTIVATION_TOKEN"_s);
        if (!token.isNull())
            env.insert(u"XDG_ACTIVATION_TOKEN"_s, QString::fromUtf8(token));
        QProcess second;
        second.setProcessEnvironment(env);
        second.start(QStringLiteral(NORVALE_BINARY), {});
        QVERIFY(second.waitForFinished(kTimeoutMs));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 1, kTimeoutMs);
        QCOMPARE(spy.at(0).at(0).toString(), QString::fromUtf8(token));
    }
};

NORVALE_TEST_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
