#include "tests/BusFixture.h"
#include "tests/SmallDisk.h"

#include "server/dxf/DxfReader.h"
#include "server/service/FormatRegistry.h"
#include "server/service/ServerSettings.h"
#include "server/sxf/SxfReader.h"

#include <QSettings>

#include <sys/stat.h>
#include <unistd.h>

Q_DECLARE_METATYPE(PlotSettings)

using namespace Drawing;
using namespace TestEnvironment;
using namespace Qt::Literals::StringLiterals;

namespace {

const QString kKinds
    = QStringLiteral(NORVALE_SOURCE_DIR "/fuzz/server/corpus/server_dxf/kinds.dxf");
const QString kSamples = QStringLiteral(NORVALE_SOURCE_DIR "/samples/");
const QString kOracle = QStringLiteral(NORVALE_SOURCE_DIR "/tests/server/dxf_oracle.py");

// What ezdxf reads from a DXF file: "colors", the distinct [colour number, true colour or -1]
// pairs; "audit", the audit's findings and the header.
QJsonDocument dxfOracle(const QString &command, const QString &file)
{
    QProcess oracle;
    oracle.start(u"/usr/bin/python3"_s, {kOracle, command, file});
    if (!oracle.waitForFinished(60000) || oracle.exitCode() != 0)
        qWarning() << oracle.readAllStandardError();
    return QJsonDocument::fromJson(oracle.readAllStandardOutput());
}

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

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System
                                  | QDir::NoDotAndDotDot);
}

} // namespace

// The drawing server through its D-Bus interface, on a bus daemon of this test's own: other test
// programs running at the same time must not quit or reconfigure the server under this one.
// First the text-record server the client tests' runs talk to (the formats it takes are their
// business; here are what it refuses, the author data, the failures its settings order and its
// life on the bus), then the converting server a user's runs talk to.
class TestService : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_server.start()); }
    void init() { QVERIFY(m_server.newFolder()); }

    void helpListsTheSettingsTheReadmeLists();
    void refusals_data();
    void refusals();
    void authorDataBelongsToTheOpenDrawing();
    void saveAsReplacesTheTargetByRenaming();
    void idleServerLeavesTheBus();

    void realConversions();
    void formatRefusals_data();
    void formatRefusals();
    void malformedInput_data();
    void malformedInput();
    void malformedInputStaysWithinTheMemoryBudget();
    void dxfVersionOfTheNextSave_data();
    void dxfVersionOfTheNextSave();
    void plotSettings_data();
    void plotSettings();
    void savingNeverWritesThroughALink_data();
    void savingNeverWritesThroughALink();
    void fullDiskLeavesTheOldTarget();
    void clientsHaveADrawingEach_data();
    void clientsHaveADrawingEach();

private:
    bool recording(const QByteArray &settings = {});
    bool converting();

    BusFixture m_server;
    bool m_converting = false;
};

// A fresh text-record server for every test.
bool TestService::recording(const QByteArray &settings)
{
    m_converting = false;
    return BusFixture::configure(settings);
}

// One converting server for all the tests that convert, so that the memory test sees the peak
// of everything they read.
bool TestService::converting()
{
    if (!m_converting)
        m_converting = recording(BusFixture::kConverting);
    return m_converting;
}

// Users read the settings in the README; the program prints them from the table it reads them
// by. The two name the same keys with the same variables.
void TestService::helpListsTheSettingsTheReadmeLists()
{
    QProcess program;
    program.start(QStringLiteral(TARSK_STANDIN), {u"--help"_s});
    QVERIFY(program.waitForFinished(10000) && program.exitCode() == 0);
    const QString help = QString::fromUtf8(program.readAllStandardOutput());
    // | `[Section]` `Key`, `Key` | `VARIABLE` | meaning |
    static const QRegularExpression row(u"^\\| `\\[(\\w+)\\]` ([^|]*)\\|([^|]*)\\|"_s,
                                        QRegularExpression::MultilineOption);
    static const QRegularExpression word(u"`(\\w+)`"_s);
    int keys = 0;
    for (const auto &r :
         row.globalMatch(QString::fromUtf8(readFile(NORVALE_SOURCE_DIR "/README.md"_L1)))) {
        const QString variable = word.match(r.captured(3)).captured(1);
        for (const auto &key : word.globalMatch(r.captured(2))) {
            const QString line
                = u"\n  [%1] %2%3\n"_s.arg(r.captured(1), key.captured(1),
                                           variable.isEmpty() ? QString() : u", "_s + variable);
            QVERIFY2(help.contains(line), qPrintable(line));
            ++keys;
        }
    }
    QVERIFY(keys > 0);
    QCOMPARE(help.count(u"\n  ["_s), keys);
}

void TestService::refusals_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("refusal"); // what the error names

    const QString open = u"Open"_s;
    const QString save = u"SaveAs"_s;
    QTest::newRow("open unknown format") << open << u"g.txt"_s << u"g.txt"_s;
    QTest::newRow("open without extension") << open << u"plan"_s << u"plan"_s;
    QTest::newRow("open missing") << open << u"missing.sfc"_s << u"missing.sfc"_s;
    QTest::newRow("open folder") << open << u"dir.sfc"_s << u"dir.sfc"_s;
    QTest::newRow("open relative path") << open << u"relative.sfc"_s << u"relative.sfc"_s;
    QTest::newRow("save, nothing open") << save << u"unopened.dxf"_s << u"unopened.dxf"_s;
    QTest::newRow("save unknown format") << save << u"o.txt"_s << u"o.txt"_s;
    QTest::newRow("save into a missing folder") << save << u"nowhere/o.dxf"_s << u"nowhere"_s;
    QTest::newRow("save onto a folder") << save << u"dir.dxf"_s << u"dir.dxf"_s;
}

void TestService::refusals()
{
    QFETCH(QString, method);
    QFETCH(QString, name);
    QFETCH(QString, refusal);
    QVERIFY(recording());
    QVERIFY(m_server.folder().mkdir(u"dir.sfc"_s) && m_server.folder().mkdir(u"dir.dxf"_s));
    for (const QString &file : {u"g.txt"_s, u"plan"_s, u"plan.sfc"_s})
        QVERIFY(!m_server.makeFile(file).isEmpty());
    if (method == "SaveAs"_L1 && name != "unopened.dxf"_L1)
        QVERIFY(BusFixture::succeeds(u"Open"_s, {m_server.path(u"plan.sfc"_s)}));

    const QString path = name.startsWith(u"relative") ? name : m_server.path(name);
    const QDBusMessage reply = BusFixture::call(method, {path});
    QCOMPARE(reply.errorName(), u"Tarsk.Document.Error"_s);
    QVERIFY2(reply.errorMessage().contains(refusal), qPrintable(reply.errorMessage()));
    if (method == "SaveAs"_L1)
        QVERIFY(!QFileInfo(path).isFile());
}

// The record names the drawing opened and the format saved, whatever the case of their names,
// and the author data set for that drawing alone.
void TestService::authorDataBelongsToTheOpenDrawing()
{
    QVERIFY(recording("[General]\nAuthorName=保存 太郎\nAffiliation=本社\n"));
    QCOMPARE(BusFixture::call(u"SetAuthorName"_s, {u"x"_s}).type(), QDBusMessage::ErrorMessage);

    const QString first = m_server.path(u"first.Emf"_s);
    const QString second = m_server.path(u"second.p21"_s);
    const QString source = m_server.makeFile(u"a.Sfc"_s);
    QVERIFY(BusFixture::succeeds(u"Open"_s, {source}));
    QVERIFY(BusFixture::succeeds(u"SetAuthorName"_s, {u"山田 花子"_s}));
    QVERIFY(BusFixture::succeeds(u"SetAffiliation"_s, {u"設計部"_s}));
    QVERIFY(BusFixture::succeeds(u"SaveAs"_s, {first}));
    // The stored values stay as they were, and the next drawing starts from them again.
    QCOMPARE(BusFixture::call(u"GetAuthorName"_s).arguments().value(0), QVariant(u"保存 太郎"_s));
    QCOMPARE(BusFixture::call(u"GetAffiliation"_s).arguments().value(0), QVariant(u"本社"_s));
    QVERIFY(BusFixture::succeeds(u"Open"_s, {m_server.makeFile(u"b.sfc"_s)}));
    QVERIFY(BusFixture::succeeds(u"SaveAs"_s, {second}));

    const QString firstRecord = QString::fromUtf8(readFile(first));
    const QString secondRecord = QString::fromUtf8(readFile(second));
    QVERIFY2(firstRecord.startsWith(u"Norvale stand-in"_s)
                 && firstRecord.contains(u"\nsource: "_s + source
                                         + u"\nsource-format: SFC\ntarget-format: EMF\n"_s)
                 && firstRecord.contains(u"\nauthor-name: 山田 花子\naffiliation: 設計部\n"_s),
             qPrintable(firstRecord));
    QVERIFY2(secondRecord.contains(u"\nauthor-name: 保存 太郎\naffiliation: 本社\n"_s),
             qPrintable(secondRecord));
}

void TestService::saveAsReplacesTheTargetByRenaming()
{
    QVERIFY(recording());
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
    QVERIFY(BusFixture::succeeds(u"Open"_s, {m_server.makeFile(u"plan.sfc"_s)}));
    QVERIFY(BusFixture::succeeds(u"SaveAs"_s, {target}));

    // A file written in place would show through the old file's second name.
    QVERIFY(readFile(target).startsWith("Norvale stand-in"));
    QCOMPARE(readFile(alias), QByteArray("old"));
    QVERIFY(QFileInfo(target).lastModified() >= before);
    QCOMPARE(m_server.folder().entryList({u"*.dxf*"_s}, QDir::Files | QDir::Hidden),
             QStringList({u"alias.dxf"_s, u"plan.dxf"_s}));
}

void TestService::idleServerLeavesTheBus()
{
    QVERIFY(recording("[Testing]\nIdleMs=200\n"));
    QVERIFY(BusFixture::succeeds(u"GetVersion"_s));
    QVERIFY(BusFixture::running());
    QTRY_VERIFY_WITH_TIMEOUT(!BusFixture::running(), 10000);
}

// The whole way a user goes: SFC to DXF, DXF to SFC with author data, and JWW to DXF and to PDF,
// which once crashed the server. ezdxf reads the colours written to DXF as their nearest colour
// numbers with the true colours beside them, black and white as colour 7 alone.
void TestService::realConversions()
{
    QVERIFY(converting());
    Model fromSfc;
    Model fromDxf;
    QString error;
    QVERIFY2(
        SxfReader(SxfReader::Form::Sfc).read(readFile(kSamples + u"plan.sfc"_s), fromSfc, &error),
        qPrintable(error));
    QVERIFY(!fromSfc.entities.isEmpty());
    const QString dxf = m_server.path(u"plan.dxf"_s);
    QVERIFY(BusFixture::succeeds(u"Open"_s, {kSamples + u"plan.sfc"_s}));
    QVERIFY(BusFixture::succeeds(u"SaveAs"_s, {dxf}));
    QVERIFY2(DxfReader().read(readFile(dxf), fromDxf, &error), qPrintable(error));
    QCOMPARE(fromDxf.entities.size(), fromSfc.entities.size());
    QCOMPARE(dxfOracle(u"colors"_s, dxf),
             QJsonDocument::fromJson("[[1,16711680],[3,65280],[5,255],[7,-1]]"));

    const QString sfc = m_server.path(u"back.sfc"_s);
    QVERIFY(BusFixture::succeeds(u"Open"_s, {dxf}));
    QVERIFY(BusFixture::succeeds(u"SetAuthorName"_s, {u"山田太郎"_s}));
    QVERIFY(BusFixture::succeeds(u"SetAffiliation"_s, {u"ノルヴェール設計事務所"_s}));
    QVERIFY(BusFixture::succeeds(u"SaveAs"_s, {sfc}));
    SxfReader reader(SxfReader::Form::Sfc);
    Model back;
    QVERIFY2(reader.read(readFile(sfc), back, &error), qPrintable(error));
    QCOMPARE(back.entities.size(), fromSfc.entities.size());
    QCOMPARE(reader.fileName().authorName, u"山田太郎"_s);
    QCOMPARE(reader.fileName().affiliation, u"ノルヴェール設計事務所"_s);

    const QString pdf = m_server.path(u"plan.pdf"_s);
    QVERIFY(BusFixture::succeeds(u"Open"_s, {kSamples + u"plan.jww"_s}));
    QVERIFY(BusFixture::succeeds(u"SaveAs"_s, {dxf}));
    QCOMPARE(dxfOracle(u"colors"_s, dxf),
             QJsonDocument::fromJson("[[1,16711680],[5,255],[7,-1],[148,1056816]]"));
    QVERIFY(BusFixture::succeeds(u"SaveAs"_s, {pdf}));
    QVERIFY(readFile(pdf).startsWith("%PDF"));

    // A layout prints on its own paper, and a DXF target keeps it for other programs.
    QVERIFY(BusFixture::succeeds(u"Open"_s, {kSamples + u"floor-plan-a3.dxf"_s}));
    QVERIFY(BusFixture::succeeds(u"SaveAs"_s, {pdf}));
    QVERIFY(BusFixture::succeeds(u"SaveAs"_s, {dxf}));
    Model sheet;
    QVERIFY2(DxfReader().read(readFile(dxf), sheet, &error), qPrintable(error));
    QVERIFY(sheet.sheets.size() == 1 && sheet.currentSheet == 0);
    QCOMPARE(QSizeF(sheet.sheets[0].width, sheet.sheets[0].height), QSizeF(420, 297));
    if (!QStandardPaths::findExecutable(u"pdfinfo"_s).isEmpty()) {
        QProcess info;
        info.start(u"pdfinfo"_s, {pdf});
        QVERIFY(info.waitForFinished(30000));
        QVERIFY(info.readAllStandardOutput().contains("1191 x 842 pts (A3)"));
    }
}

void TestService::formatRefusals_data()
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

void TestService::formatRefusals()
{
    QFETCH(QString, method);
    QFETCH(QString, format);
    QVERIFY(converting());
    const bool open = method == "Open"_L1;
    const QString source = m_server.copy(kKinds, u"plan."_s + (open ? format : u"dxf"_s));
    if (!open)
        QVERIFY(BusFixture::succeeds(u"Open"_s, {source}));
    const QString path = open ? source : m_server.path(u"out."_s + format.toLower());

    const QDBusMessage reply = BusFixture::call(method, {path});
    QCOMPARE(reply.errorName(), u"Tarsk.Document.Error"_s);
    const QString message = reply.errorMessage();
    QVERIFY2(message.contains(path) && message.contains(format + u" 形式"_s), qPrintable(message));
    QVERIFY2(message.contains(open ? u"読み込めません"_s : u"書き出せません"_s),
             qPrintable(message));
    if (!open)
        QVERIFY(!QFile::exists(path));
}

// One row for every way a damaged or hostile file could hang, exhaust or crash the server.
void TestService::malformedInput_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("reason"); // a part of the reason the reply must give

    const QByteArray kinds = readFile(kKinds);
    QByteArray random(1 << 20, Qt::Uninitialized);
    QRandomGenerator generator(2);
    for (char &c : random)
        c = char(generator.bounded(256));
    QTest::newRow("empty") << QByteArray() << u"SECTION がありません"_s;
    QTest::newRow("truncated in a value")
        << kinds.left(kinds.indexOf("LWPOLYLINE") + 3) << u"途切れて"_s;
    // Cut after a whole group inside each section, or as the issue found it, inside the header.
    const QByteArray site = readFile(kSamples + u"site.dxf"_s);
    QTest::newRow("cut inside HEADER") << site.left(3000) << u"途切れて"_s;
    for (const char *section : {"CLASSES", "TABLES", "BLOCKS", "ENTITIES", "OBJECTS"}) {
        const qsizetype inside = site.indexOf('\n' + QByteArray(section) + '\n') + 200;
        QTest::addRow("cut inside %s", section)
            << site.left(site.indexOf("\n0\n", inside) + 1) << u"途切れて"_s;
    }
    QTest::newRow("truncated binary")
        << QByteArray("AutoCAD Binary DXF\r\n\x1a\0\0\0SECT", 28) << u"バイナリ DXF"_s;
    QTest::newRow("random megabyte") << random << u"DXF"_s;
    QTest::newRow("NUL bytes") << QByteArray("0\nSECTION\n2\nENTITIES\n\0\0\0\0", 25) << u"NUL"_s;
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
    const QByteArray line = "0\nLINE\n8\n0\n10\n1.5\n20\n2.5\n11\n100.25\n21\n-7.125\n";
    QByteArray big = "0\nSECTION\n2\nENTITIES\n" + line.repeated(16 * 1024 * 1024 / line.size());
    big.chop(3);
    QTest::newRow("sixteen megabytes cut short") << big << u"途切れて"_s;
}

void TestService::malformedInput()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reason);
    QVERIFY(converting());
    const QString source = m_server.makeFile(u"壊れた図面.dxf"_s, bytes);
    QVERIFY(!source.isEmpty());

    // The reply has to come within a second per megabyte; a slower one times the call out.
    // Built with AddressSanitizer, the same server runs about three times slower.
    int limit = 1000 + int(bytes.size() * 1000LL / (1 << 20));
#if defined(__SANITIZE_ADDRESS__)
    limit *= 3;
#endif
    const QDBusMessage reply = BusFixture::call(u"Open"_s, {source}, limit);
    QCOMPARE(reply.errorName(), u"Tarsk.Document.Error"_s);
    QVERIFY2(reply.errorMessage().contains(source) && reply.errorMessage().contains(reason),
             qPrintable(reply.errorMessage()));
    QCOMPARE(entries(m_server.folder().path()), QStringList {QFileInfo(source).fileName()});
}

void TestService::malformedInputStaysWithinTheMemoryBudget()
{
    // Runs after the table above, on the server that read all of it.
    QVERIFY(m_converting);
    const uint pid
        = QDBusConnection::sessionBus().interface()->servicePid(BusFixture::kService).value();
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

void TestService::dxfVersionOfTheNextSave_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QString>("acadVer");
    QTest::addColumn<bool>("warned");
    QTest::newRow("R12") << QByteArray("R12") << u"AC1009"_s << false;
    QTest::newRow("any case") << QByteArray("r2018") << u"AC1032"_s << false;
    QTest::newRow("unknown: the default") << QByteArray("R14") << u"AC1015"_s << true;
    QTest::newRow("blank: the default") << QByteArray() << u"AC1015"_s << false;
}

// The version is read again for every drawing saved, so the window's choice reaches a server
// already running; a value it cannot read gives the default and a warning naming the key.
void TestService::dxfVersionOfTheNextSave()
{
    QFETCH(QByteArray, value);
    QFETCH(QString, acadVer);
    QFETCH(bool, warned);
    QVERIFY(converting());
    QVERIFY(BusFixture::succeeds(u"Open"_s, {m_server.copy(kKinds, u"plan.dxf"_s)}));
    QVERIFY(
        writeFile(ServerSettings::filePath(),
                  QByteArray(BusFixture::kConverting) + "[Output]\nDxfVersion=" + value + '\n'));
    QStringList warnings;
    ServerSettings::load(&warnings);
    QCOMPARE(warnings.size(), warned ? 1 : 0);
    QVERIFY(!warned || warnings.first().contains(u"[Output] DxfVersion"_s));
    const QString target = m_server.path(u"plan-out.dxf"_s);
    QVERIFY(BusFixture::succeeds(u"SaveAs"_s, {target}));
    QVERIFY(writeFile(ServerSettings::filePath(), BusFixture::kConverting));
    const QJsonObject audit = dxfOracle(u"audit"_s, target).object();
    QCOMPARE(audit.value("version"_L1).toString(), acadVer);
    QVERIFY(audit.value("entities"_L1).toInt() > 20);
}

void TestService::plotSettings_data()
{
    QTest::addColumn<QByteArray>("keys");
    QTest::addColumn<QString>("saved"); // what the window would save of what was read
    QTest::addColumn<QStringList>("unread"); // keys warned of with their values
    const QString defaults = u"Centered=true Colors=Color LineWeights=Drawing Margin=10 "
                             "Orientation=Auto Paper=Own Scale=Own WeightByColor="_s;
    QTest::newRow("every key")
        << QByteArray("Paper=500 X 297.5\nOrientation=landscape\nScale=1:2.5\nMargin=0\n"
                      "Centered=FALSE\nColors=Monochrome\nLineWeights=bycolor\n"
                      "WeightByColor=255:2.11, 1:0.5")
        << u"Centered=false Colors=Monochrome LineWeights=ByColor Margin=0 "
           "Orientation=Landscape Paper=500x297.5 Scale=1:2.5 WeightByColor=1:0.5,255:2.11"_s
        << QStringList();
    QTest::newRow("unknown names")
        << QByteArray("Paper=A5\nOrientation=sideways\nScale=2:1\nCentered=yes\nColors=sepia\n"
                      "LineWeights=thick")
        << defaults << QStringList {u"Paper"_s,    u"Orientation"_s, u"Scale"_s,
                                    u"Centered"_s, u"Colors"_s,      u"LineWeights"_s};
    QTest::newRow("numbers out of range")
        << QByteArray("Paper=6000x300\nScale=1:0\nMargin=nan\nWeightByColor=256:0.5") << defaults
        << QStringList {u"Paper"_s, u"Scale"_s, u"Margin"_s, u"WeightByColor"_s};
    QTest::newRow("slips") << QByteArray("Paper=300x\nMargin=-1\nWeightByColor=1:0.5,1:0.35")
                           << defaults << QStringList {u"Paper"_s, u"Margin"_s, u"WeightByColor"_s};
}

// Every [Plot] key: what it takes and how the window writes it back; a value it cannot read
// leaves the default with a warning that names the key and the value.
void TestService::plotSettings()
{
    QFETCH(QByteArray, keys);
    QFETCH(QString, saved);
    QFETCH(QStringList, unread);
    // The converting server of the other tests may be started again by the bus meanwhile.
    const QString path = ServerSettings::filePath();
    const QByteArray before = readFile(path);
    const auto restore = qScopeGuard([&] { writeFile(path, before); });
    QVERIFY(writeFile(path, "[Plot]\n" + keys + '\n'));
    QStringList warnings;
    QVERIFY(ServerSettings::saveChoices(ServerSettings::load(&warnings)));
    QCOMPARE(warnings.size(), unread.size());
    for (const QString &key : unread) {
        const QString value = QString::fromLatin1(keys).section(key + u'=', 1).section(u'\n', 0, 0);
        QVERIFY2(warnings.join(u'\n').contains(u"[Plot] %1: \"%2\""_s.arg(key, value)),
                 qPrintable(warnings.join(u'\n')));
    }
    QSettings file(path, QSettings::IniFormat);
    file.beginGroup(u"Plot"_s);
    QStringList values;
    for (const QString &key : file.childKeys())
        values << key + u'=' + file.value(key).toString();
    QCOMPARE(values.join(u' '), saved);
}

void TestService::savingNeverWritesThroughALink_data()
{
    QTest::addColumn<bool>("dangling");
    QTest::newRow("link to another file") << false;
    QTest::newRow("dangling link") << true;
}

void TestService::savingNeverWritesThroughALink()
{
    QFETCH(bool, dangling);
    QVERIFY(converting());
    // A shared folder, and outside it the file a link named like the target points to.
    const QString shared = m_server.path(u"shared"_s);
    QVERIFY(m_server.folder().mkdir(u"shared"_s));
    QCOMPARE(::chmod(QFile::encodeName(shared).constData(), 01777), 0);
    const QString victim = m_server.path(u"victim.txt"_s);
    if (!dangling)
        QVERIFY(writeFile(victim, "another user's file"));
    const QString target = shared + u"/plan.dxf"_s;
    QCOMPARE(
        ::symlink(QFile::encodeName(victim).constData(), QFile::encodeName(target).constData()), 0);

    QVERIFY(BusFixture::succeeds(u"Open"_s, {m_server.copy(kKinds, u"plan.dxf"_s)}));
    QVERIFY(BusFixture::succeeds(u"SaveAs"_s, {target}));

    QVERIFY(!QFileInfo(target).isSymLink());
    QVERIFY(readFile(target).contains("$ACADVER"));
    if (dangling)
        QVERIFY(!QFile::exists(victim));
    else
        QCOMPARE(readFile(victim), QByteArray("another user's file"));
    QCOMPARE(entries(shared), QStringList {u"plan.dxf"_s});
}

void TestService::fullDiskLeavesTheOldTarget()
{
    QVERIFY(converting());
    SmallDisk disk;
    if (!disk.isMounted())
        QSKIP("mounting a small file system is not allowed here");
    const QString target = disk.path() + u"/plan.dxf"_s;
    const QByteArray old = entities({});
    QVERIFY(writeFile(target, old));
    QVERIFY(disk.fill());
    QVERIFY(BusFixture::succeeds(u"Open"_s, {m_server.copy(kKinds, u"plan.dxf"_s)}));

    const QDBusMessage reply = BusFixture::call(u"SaveAs"_s, {target});
    QCOMPARE(reply.errorName(), u"Tarsk.Document.Error"_s);
    QVERIFY2(reply.errorMessage().contains(target), qPrintable(reply.errorMessage()));
    QCOMPARE(readFile(target), old);
    QCOMPARE(entries(disk.path()), QStringList({u".filler"_s, u"plan.dxf"_s}));
}

void TestService::clientsHaveADrawingEach_data()
{
    QTest::addColumn<QString>("firstEnds"); // how the first client ends halfway, if it does
    QTest::newRow("both run through") << QString();
    QTest::newRow("first quits halfway") << u"Quit"_s;
    QTest::newRow("first leaves the bus halfway") << u"leave"_s;
}

// Two clients convert four drawings each, their calls interleaved: each target holds its own
// source. A client that quits (twice: the second time with no drawing) or leaves between opening
// and saving ends only its own session, and the server leaves the bus when the last session quits.
void TestService::clientsHaveADrawingEach()
{
    QFETCH(QString, firstEnds);
    QVERIFY(converting() && BusFixture::quit());
    // Held by name only: a connection closes when nothing holds it.
    const QString names[2] = {u"first"_s, u"second"_s};
    const QString firstName
        = QDBusConnection::connectToBus(QDBusConnection::SessionBus, names[0]).baseService();
    QDBusConnection::connectToBus(QDBusConnection::SessionBus, names[1]);
    const auto succeeds = [&](int client, const QString &method, const QString &name = {}) {
        QDBusMessage message = QDBusMessage::createMethodCall(
            BusFixture::kService, u"/Tarsk/Document"_s, BusFixture::kService, method);
        if (!name.isEmpty())
            message << m_server.path(name);
        return QDBusConnection(names[client]).call(message).type() == QDBusMessage::ReplyMessage;
    };
    for (int i = 0; i < 8; ++i)
        m_server.makeFile(u"%1.dxf"_s.arg(i),
                          entities("0\nTEXT\n1\nsource " + QByteArray::number(i) + '\n'));
    bool firstRuns = true;
    for (int drawing = 0; drawing < 4; ++drawing) {
        for (const QString &method : {u"Open"_s, u"SaveAs"_s}) {
            if (drawing == 1 && method == "SaveAs"_L1 && firstEnds == "Quit"_L1) {
                QVERIFY(succeeds(0, u"Quit"_s) && succeeds(0, u"Quit"_s) && BusFixture::running());
                firstRuns = false;
            } else if (drawing == 1 && method == "SaveAs"_L1 && firstEnds == "leave"_L1) {
                QDBusConnection::disconnectFromBus(names[0]);
                QTRY_VERIFY(
                    !QDBusConnection::sessionBus().interface()->isServiceRegistered(firstName));
                firstRuns = false;
            }
            for (int client = firstRuns ? 0 : 1; client < 2; ++client)
                QVERIFY(succeeds(client, method,
                                 u"%1%2.dxf"_s.arg(client * 4 + drawing)
                                     .arg(method == "Open"_L1 ? u""_s : u"-out"_s)));
        }
    }
    for (int i = 0; i < 8; ++i) {
        const bool converted = i >= 4 || i == 0 || firstEnds.isEmpty();
        QCOMPARE(readFile(m_server.path(u"%1-out.dxf"_s.arg(i)))
                     .contains("\nsource " + QByteArray::number(i) + '\n'),
                 converted);
    }
    if (firstEnds.isEmpty())
        QVERIFY(succeeds(0, u"Quit"_s) && BusFixture::running());
    QVERIFY(succeeds(1, u"Quit"_s) && !BusFixture::running());
    for (const QString &name : names)
        QDBusConnection::disconnectFromBus(name);
}

NORVALE_TEST_MAIN(TestService)
#include "tst_service.moc"
