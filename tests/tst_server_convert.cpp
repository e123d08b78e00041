#include "FormatRegistry.h"

#include "TestEnvironment.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>

#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace TestEnvironment;
using namespace Qt::Literals::StringLiterals;

namespace {

const QString kService = u"Tarsk.Document"_s;
const QString kConnection = u"server-convert-test"_s;
const QString kKinds = QStringLiteral(NORVALE_SOURCE_DIR "/fuzz/corpus/server_dxf/kinds.dxf");
const QString kOracle = QStringLiteral(NORVALE_SOURCE_DIR "/tests/dxf_oracle.py");

QByteArray entities(const QByteArray &groups)
{
    return "0\nSECTION\n2\nENTITIES\n" + groups + "0\nENDSEC\n0\nEOF\n";
}

QByteArray blocks(const QByteArray &definitions, const QByteArray &modelSpace)
{
    return "0\nSECTION\n2\nBLOCKS\n" + definitions + "0\nENDSEC\n" + entities(modelSpace);
}

QByteArray block(const QByteArray &name, const QByteArray &groups)
{
    return "0\nBLOCK\n2\n" + name + "\n10\n0\n20\n0\n" + groups + "0\nENDBLK\n";
}

QByteArray insert(const QByteArray &name, int rows = 1, int columns = 1)
{
    return "0\nINSERT\n2\n" + name + "\n10\n0\n20\n0\n70\n" + QByteArray::number(columns) + "\n71\n"
        + QByteArray::number(rows) + '\n';
}

QByteArray randomBytes(int size, quint32 seed)
{
    QRandomGenerator generator(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &c : bytes)
        c = char(generator.bounded(256));
    return bytes;
}

QByteArray manyLines(int megabytes)
{
    const QByteArray line = "0\nLINE\n8\n0\n10\n1.5\n20\n2.5\n11\n100.25\n21\n-7.125\n";
    QByteArray body;
    body.reserve(megabytes * 1024 * 1024 + 64);
    while (body.size() < megabytes * 1024 * 1024)
        body += line;
    return body;
}

} // namespace

// The converting drawing server through its D-Bus interface, on a bus of this test's own.
class TestServerConvert : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void refusals_data();
    void refusals();
    void malformedInput_data();
    void malformedInput();
    void malformedInputStaysWithinTheMemoryBudget();
    void authorDataInTheDxfHeader_data();
    void authorDataInTheDxfHeader();
    void savingNeverWritesThroughALink_data();
    void savingNeverWritesThroughALink();
    void fullDiskLeavesTheOldTarget();

private:
    QDBusConnection bus() const { return QDBusConnection(kConnection); }
    QDBusMessage call(const QString &method, const QVariantList &arguments = {},
                      int timeout = 60000)
    {
        QDBusMessage message
            = QDBusMessage::createMethodCall(kService, u"/Tarsk/Document"_s, kService, method);
        message.setArguments(arguments);
        return bus().call(message, QDBus::Block, timeout);
    }
    bool succeeds(const QString &method, const QVariantList &arguments = {})
    {
        const QDBusMessage reply = call(method, arguments);
        if (reply.type() != QDBusMessage::ReplyMessage)
            qWarning() << reply.errorMessage();
        return reply.type() == QDBusMessage::ReplyMessage;
    }
    QStringList folderEntries() const
    {
        return m_dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System
                               | QDir::NoDotAndDotDot);
    }

    QProcess m_daemon;
    std::unique_ptr<QTemporaryDir> m_temporaryDir;
    QDir m_dir;
};

void TestServerConvert::initTestCase()
{
    // The test bus starts the text-record backend; this server converts, as a user's does.
    QVERIFY(writeFile(qEnvironmentVariable("XDG_CONFIG_HOME") + u"/tarsk-standin/standin.ini"_s,
                      "[General]\nBackend=convert\n"));
    const QString config = QCoreApplication::applicationDirPath() + u"/dbus-session.conf"_s;
    QVERIFY2(QFile::exists(config), qPrintable(config));
    m_daemon.setStandardErrorFile(QProcess::nullDevice());
    const QByteArray address = TestEnvironment::startPrivateBus(m_daemon, config);
    QVERIFY2(!address.isEmpty(), qPrintable(m_daemon.errorString()));
    QVERIFY(QDBusConnection::connectToBus(QString::fromUtf8(address), kConnection).isConnected());
}

void TestServerConvert::init()
{
    m_temporaryDir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_temporaryDir->isValid());
    m_dir.setPath(m_temporaryDir->path());
}

void TestServerConvert::cleanupTestCase()
{
    if (bus().interface()->isServiceRegistered(kService))
        call(u"Quit"_s);
    QDBusConnection::disconnectFromBus(kConnection);
    m_daemon.terminate();
    m_daemon.waitForFinished();
}

void TestServerConvert::refusals_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("format");

    // Whatever the registry cannot read or write is refused, whoever adds formats to it.
    for (const char *format : {"TSK", "SFC", "P21", "JWW", "JWC"}) {
        if (!FormatRegistry::readerFor(QLatin1String(format)))
            QTest::addRow("open %s", format) << u"Open"_s << QString::fromLatin1(format);
    }
    for (const char *format : {"TSK", "SFC", "P21", "JWC", "UMB", "DWF"}) {
        if (!FormatRegistry::writerFor(QLatin1String(format)))
            QTest::addRow("save %s", format) << u"SaveAs"_s << QString::fromLatin1(format);
    }
}

void TestServerConvert::refusals()
{
    QFETCH(QString, method);
    QFETCH(QString, format);
    const QString source = m_dir.filePath(u"plan."_s + (method == "Open"_L1 ? format : u"dxf"_s));
    QVERIFY(QFile::copy(kKinds, source));
    if (method == "SaveAs"_L1)
        QVERIFY(succeeds(u"Open"_s, {source}));
    const QString path
        = method == "Open"_L1 ? source : m_dir.filePath(u"out."_s + format.toLower());

    const QDBusMessage reply = call(method, {path});
    QCOMPARE(reply.errorName(), u"Tarsk.Document.Error"_s);
    const QString message = reply.errorMessage();
    QVERIFY2(message.contains(path) && message.contains(format + u" 形式"_s), qPrintable(message));
    QVERIFY2(message.contains(method == "Open"_L1 ? u"読み込めません"_s : u"書き出せません"_s),
             qPrintable(message));
    if (method == "SaveAs"_L1)
        QVERIFY(!QFile::exists(path));
}

void TestServerConvert::malformedInput_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("reason"); // a part of the reason the reply must give

    const QByteArray kinds = [] {
        QFile file(kKinds);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    QTest::newRow("empty") << QByteArray() << u"SECTION がありません"_s;
    QTest::newRow("truncated") << kinds.left(kinds.size() / 2) << u"途切れて"_s;
    QTest::newRow("truncated in a value")
        << kinds.left(kinds.indexOf("LWPOLYLINE") + 3) << u"途切れて"_s;
    QTest::newRow("truncated binary")
        << QByteArray("AutoCAD Binary DXF\r\n\x1a\0\0\0SECT", 28) << u"バイナリ DXF"_s;
    QTest::newRow("random bytes") << randomBytes(100, 1) << u"グループコード"_s;
    QTest::newRow("random megabyte") << randomBytes(1 << 20, 2) << u"DXF"_s;
    QTest::newRow("NUL bytes") << QByteArray("0\nSECTION\n2\nENTITIES\n\0\0\0\0", 25) << u"NUL"_s;
    QTest::newRow("text where a number belongs")
        << entities("0\nLINE\n10\none\n20\n0\n") << u"数値ではありません"_s;
    QTest::newRow("not a number") << entities("0\nLINE\n10\nnan\n20\n0\n") << u"数値"_s;
    QTest::newRow("huge coordinates")
        << entities("0\nLINE\n10\n1e300\n20\n0\n11\n0\n21\n0\n") << u"大きすぎます"_s;
    QTest::newRow("polyline claiming two billion vertices")
        << entities("0\nLWPOLYLINE\n90\n2000000000\n70\n0\n10\n0\n20\n0\n10\n1\n20\n1\n")
        << u"2000000000"_s;
    QTest::newRow("hatch claiming two billion loops")
        << entities("0\nHATCH\n2\nSOLID\n70\n1\n91\n2000000000\n92\n2\n") << u"ハッチ"_s;
    QTest::newRow("spline claiming more points than it has")
        << entities("0\nSPLINE\n71\n3\n72\n2000000000\n73\n4\n10\n0\n20\n0\n") << u"スプライン"_s;
    QTest::newRow("block including itself")
        << blocks(block("A", insert("A")), insert("A")) << u"自分自身"_s;
    QTest::newRow("blocks including each other")
        << blocks(block("A", insert("B")) + block("B", insert("A")), insert("A")) << u"自分自身"_s;
    QTest::newRow("inserts multiplying beyond reason")
        << blocks(block("L", "0\nLINE\n10\n0\n20\n0\n11\n1\n21\n1\n")
                      + block("M", insert("L", 1000, 1000)) + block("N", insert("M", 100, 100)),
                  insert("N", 100, 100))
        << u"展開"_s;
    QByteArray chain;
    for (int i = 0; i < 1000; ++i)
        chain += block("B" + QByteArray::number(i), insert("B" + QByteArray::number(i + 1)));
    QTest::newRow("blocks nested a thousand deep") << blocks(chain, insert("B0")) << u"入れ子"_s;
    QTest::newRow("block without its end")
        << QByteArray("0\nSECTION\n2\nBLOCKS\n0\nBLOCK\n2\nA\n0\nLINE\n0\nENDSEC\n0\nEOF\n")
        << u"ENDBLK"_s;
    QByteArray big = "0\nSECTION\n2\nENTITIES\n" + manyLines(16);
    big.chop(3);
    QTest::newRow("sixteen megabytes cut short") << big << u"途切れて"_s;
}

void TestServerConvert::malformedInput()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reason);
    const QString source = m_dir.filePath(u"壊れた図面.dxf"_s);
    QVERIFY(writeFile(source, bytes));

    // The reply has to come within a second per megabyte; a slower one times the call out.
    // Built with AddressSanitizer, the same server runs about three times slower.
    int limit = 1000 + int(bytes.size() * 1000LL / (1 << 20));
#if defined(__SANITIZE_ADDRESS__)
    limit *= 3;
#endif
    const QDBusMessage reply = call(u"Open"_s, {source}, limit);
    QCOMPARE(reply.errorName(), u"Tarsk.Document.Error"_s);
    QVERIFY2(reply.errorMessage().contains(source) && reply.errorMessage().contains(reason),
             qPrintable(reply.errorMessage()));
    QCOMPARE(folderEntries(), QStringList {QFileInfo(source).fileName()});
}

void TestServerConvert::malformedInputStaysWithinTheMemoryBudget()
{
    // Runs after the table above, on the server that read all of it.
    const uint pid = bus().interface()->servicePid(kService).value();
    QVERIFY(pid > 0);
    const QByteArray status = readFile(u"/proc/%1/status"_s.arg(pid));
    const qsizetype at = status.indexOf("VmHWM:");
    QVERIFY(at >= 0);
    const qint64 peakKiB = status.mid(at + 6, status.indexOf('\n', at) - at - 6)
                               .replace("kB", "")
                               .trimmed()
                               .toLongLong();
    QVERIFY2(peakKiB > 0 && peakKiB < 512 * 1024, qPrintable(QString::number(peakKiB)));
}

void TestServerConvert::authorDataInTheDxfHeader_data()
{
    QTest::addColumn<QString>("author");
    QTest::addColumn<QString>("affiliation");
    QTest::newRow("Japanese") << u"山田 花子"_s << u"設計部 第二課"_s;
    QTest::newRow("Latin") << u"Jane Doe"_s << u"ACME Ltd."_s;
    QTest::newRow("unset") << QString() << QString();
}

void TestServerConvert::authorDataInTheDxfHeader()
{
    QFETCH(QString, author);
    QFETCH(QString, affiliation);
    const QString source = m_dir.filePath(u"plan.dxf"_s);
    const QString target = m_dir.filePath(u"out/平面図.dxf"_s);
    QVERIFY(QFile::copy(kKinds, source));
    QVERIFY(m_dir.mkdir(u"out"_s));
    QVERIFY(succeeds(u"Open"_s, {source}));
    if (!author.isEmpty()) {
        QVERIFY(succeeds(u"SetAuthorName"_s, {author}));
        QVERIFY(succeeds(u"SetAffiliation"_s, {affiliation}));
    }
    QVERIFY(succeeds(u"SaveAs"_s, {target}));

    QProcess oracle;
    oracle.start(u"/usr/bin/python3"_s, {kOracle, u"audit"_s, target});
    QVERIFY(oracle.waitForFinished(60000));
    QVERIFY2(oracle.exitCode() == 0, oracle.readAllStandardError().constData());
    const QJsonObject audit = QJsonDocument::fromJson(oracle.readAllStandardOutput()).object();
    QCOMPARE(audit.value("lastSavedBy"_L1).toString(), author);
    QCOMPARE(audit.value("custom"_L1).toObject().value("Affiliation"_L1).toString(), affiliation);
    QVERIFY(audit.value("entities"_L1).toInt() > 20);
}

void TestServerConvert::savingNeverWritesThroughALink_data()
{
    QTest::addColumn<bool>("dangling");
    QTest::newRow("link to another file") << false;
    QTest::newRow("dangling link") << true;
}

void TestServerConvert::savingNeverWritesThroughALink()
{
    QFETCH(bool, dangling);
    // A shared folder, and outside it the file a link named like the target points to.
    QVERIFY(m_dir.mkdir(u"shared"_s));
    QCOMPARE(::chmod(QFile::encodeName(m_dir.filePath(u"shared"_s)).constData(), 01777), 0);
    const QString victim = m_dir.filePath(u"victim.txt"_s);
    if (!dangling)
        QVERIFY(writeFile(victim, "another user's file"));
    const QString target = m_dir.filePath(u"shared/plan.dxf"_s);
    QCOMPARE(
        ::symlink(QFile::encodeName(victim).constData(), QFile::encodeName(target).constData()), 0);
    const QString source = m_dir.filePath(u"plan.dxf"_s);
    QVERIFY(QFile::copy(kKinds, source));

    QVERIFY(succeeds(u"Open"_s, {source}));
    QVERIFY(succeeds(u"SaveAs"_s, {target}));

    const QFileInfo written(target);
    QVERIFY(!written.isSymLink());
    QVERIFY(readFile(target).contains("$ACADVER"));
    if (dangling)
        QVERIFY(!QFile::exists(victim));
    else
        QCOMPARE(readFile(victim), QByteArray("another user's file"));
    QCOMPARE(QDir(m_dir.filePath(u"shared"_s))
                 .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
             QStringList {u"plan.dxf"_s});
}

void TestServerConvert::fullDiskLeavesTheOldTarget()
{
    const QString disk = m_dir.filePath(u"disk"_s);
    QVERIFY(m_dir.mkdir(u"disk"_s));
    QProcess mount;
    mount.start(u"mount"_s, {u"-t"_s, u"tmpfs"_s, u"-o"_s, u"size=64k"_s, u"tmpfs"_s, disk});
    if (!mount.waitForFinished(10000) || mount.exitStatus() != QProcess::NormalExit
        || mount.exitCode() != 0)
        QSKIP("mounting a small file system is not allowed here");
    const auto unmount = qScopeGuard([&disk] { QProcess::execute(u"umount"_s, {disk}); });

    const QString target = disk + u"/plan.dxf"_s;
    const QByteArray old = "0\nSECTION\n2\nENTITIES\n0\nENDSEC\n0\nEOF\n";
    QVERIFY(writeFile(target, old));
    {
        QFile filler(disk + u"/filler"_s);
        QVERIFY(filler.open(QIODevice::WriteOnly));
        const QByteArray block(4096, 'x');
        while (filler.write(block) == block.size() && filler.flush()) { }
    }
    const QString source = m_dir.filePath(u"plan.dxf"_s);
    QVERIFY(QFile::copy(kKinds, source));
    QVERIFY(succeeds(u"Open"_s, {source}));

    const QDBusMessage reply = call(u"SaveAs"_s, {target});
    QCOMPARE(reply.errorName(), u"Tarsk.Document.Error"_s);
    QVERIFY2(reply.errorMessage().contains(target), qPrintable(reply.errorMessage()));
    QCOMPARE(readFile(target), old);
    QCOMPARE(
        QDir(disk).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
        QStringList({u"filler"_s, u"plan.dxf"_s}));
}

NORVALE_TEST_MAIN(TestServerConvert)
#include "tst_server_convert.moc"
