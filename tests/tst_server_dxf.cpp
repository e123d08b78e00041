#include "DxfReader.h"
#include "DxfWriter.h"

#include <QBuffer>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace Drawing;
using namespace Qt::Literals::StringLiterals;

namespace {

const QString kLibrary = u"/usr/share/librecad/library"_s;
const QString kOracle = QStringLiteral(NORVALE_SOURCE_DIR "/tests/dxf_oracle.py");

// A DXF with the given header variables and the groups of its ENTITIES section.
QByteArray dxf(const QByteArray &version, const QByteArray &codePage, const QByteArray &entities)
{
    QByteArray header = "0\nSECTION\n2\nHEADER\n";
    if (!version.isEmpty())
        header += "9\n$ACADVER\n1\n" + version + '\n';
    if (!codePage.isEmpty())
        header += "9\n$DWGCODEPAGE\n3\n" + codePage + '\n';
    return header + "0\nENDSEC\n0\nSECTION\n2\nENTITIES\n" + entities + "0\nENDSEC\n0\nEOF\n";
}

QByteArray textEntity(const QByteArray &text)
{
    return "0\nTEXT\n8\n0\n10\n1\n20\n2\n40\n2.5\n1\n" + text + '\n';
}

QMap<QString, int> counted(const QVector<Entity> &entities)
{
    QMap<QString, int> counts;
    for (const Entity &entity : entities) {
        static const char *const kinds[]
            = {"LINE",  "CIRCLE", "ARC",    "ELLIPSE", "POLYLINE",  "POINT",
               "SOLID", "TEXT",   "INSERT", "HATCH",   "DIMENSION", "LEADER"};
        QString kind = QString::fromLatin1(kinds[entity.shape.index()]);
        if (const auto *text = std::get_if<Text>(&entity.shape); text && text->multiline)
            kind = u"MTEXT"_s;
        ++counts[kind];
    }
    return counts;
}

QMap<QString, int> counted(const QJsonObject &object)
{
    QMap<QString, int> counts;
    for (auto it = object.begin(); it != object.end(); ++it)
        counts[it.key()] = it.value().toInt();
    return counts;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Which part of two models differs first, for a failure message; empty when they are equal.
QString firstDifference(const Model &a, const Model &b)
{
    if (a.layers != b.layers)
        return u"layers"_s;
    if (a.linetypes != b.linetypes)
        return u"linetypes"_s;
    if (a.blocks.size() != b.blocks.size())
        return u"number of blocks"_s;
    for (int i = 0; i < a.blocks.size(); ++i) {
        if (!(a.blocks[i] == b.blocks[i]))
            return u"block "_s + a.blocks[i].name;
    }
    if (a.entities.size() != b.entities.size())
        return u"number of entities"_s;
    for (int i = 0; i < a.entities.size(); ++i) {
        if (!(a.entities[i] == b.entities[i]))
            return u"entity %1 (kind %2)"_s.arg(i).arg(a.entities[i].shape.index());
    }
    return a == b ? QString() : u"model"_s;
}

QJsonObject runOracle(const QStringList &arguments, QString *error)
{
    QProcess process;
    process.start(u"/usr/bin/python3"_s, QStringList {kOracle} + arguments);
    if (!process.waitForFinished(300000) || process.exitCode() != 0) {
        *error = QString::fromUtf8(process.readAllStandardError());
        return {};
    }
    return QJsonDocument::fromJson(process.readAllStandardOutput()).object();
}

} // namespace

class TestServerDxf : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void librecadParts_data();
    void librecadParts();
    void encodings_data();
    void encodings();
    void binaryDxfReadsAsAscii_data();
    void binaryDxfReadsAsAscii();
    void roundTrip_data();
    void roundTrip();
    void writtenDxfPassesTheAudit_data();
    void writtenDxfPassesTheAudit();

private:
    QHash<QString, QJsonObject> m_expected; // ezdxf's counts per library file
    QString m_oracleError;
};

void TestServerDxf::initTestCase()
{
    if (!QFile::exists(kLibrary) || !QFile::exists(u"/usr/bin/python3"_s))
        QSKIP("librecad-data and python3-ezdxf are installed by `make test`");
    QStringList files;
    QDirIterator it(kLibrary, {u"*.dxf"_s}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(it.next());
    files.sort();
    QProcess oracle;
    oracle.start(u"/usr/bin/python3"_s, QStringList {kOracle, u"counts"_s} + files);
    QVERIFY(oracle.waitForFinished(600000));
    QVERIFY2(oracle.exitCode() == 0, oracle.readAllStandardError().constData());
    for (const QByteArray &line : oracle.readAllStandardOutput().split('\n')) {
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        if (!object.isEmpty())
            m_expected.insert(object.value("file"_L1).toString(), object);
    }
    QCOMPARE(m_expected.size(), files.size());
}

void TestServerDxf::librecadParts_data()
{
    QTest::addColumn<QString>("path");
    QStringList files = m_expected.keys();
    files.sort();
    for (const QString &path : files)
        QTest::newRow(qPrintable(path.mid(kLibrary.size() + 1))) << path;
}

void TestServerDxf::librecadParts()
{
    QFETCH(QString, path);
    Model model;
    QString error;
    QVERIFY2(DxfReader().read(readAll(path), model, &error), qPrintable(error));
    const QJsonObject expected = m_expected.value(path);
    QCOMPARE(counted(model.entities), counted(expected.value("model"_L1).toObject()));
    QVector<Entity> blockEntities;
    for (const Block &block : model.blocks)
        blockEntities += block.entities;
    QCOMPARE(counted(blockEntities), counted(expected.value("blocks"_L1).toObject()));
}

void TestServerDxf::encodings_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("expected");

    const QByteArray shiftJis = "\x8d\x4c\x8e\x9a\x81\x40\x83\x5c\x83\x74\x83\x67"; // 広字　ソフト
    const QString shiftJisText = u"広字　ソフト"_s;
    QTest::newRow("Shift-JIS with its code page")
        << dxf("AC1015", "ANSI_932", textEntity(shiftJis)) << shiftJisText;
    QTest::newRow("Shift-JIS without a code page")
        << dxf("AC1015", "", textEntity(shiftJis)) << shiftJisText;
    QTest::newRow("Shift-JIS without a header")
        << QByteArray("0\nSECTION\n2\nENTITIES\n" + textEntity(shiftJis) + "0\nENDSEC\n0\nEOF\n")
        << shiftJisText;
    QTest::newRow("UTF-8 from R2007 on")
        << dxf("AC1021", "ANSI_1252", textEntity(u"居間 Küche"_s.toUtf8())) << u"居間 Küche"_s;
    QTest::newRow("UTF-8 in R2018")
        << dxf("AC1032", "ANSI_932", textEntity(u"台所"_s.toUtf8())) << u"台所"_s;
    QTest::newRow("Latin-1 code page") << dxf("AC1015", "ANSI_1252",
                                              textEntity("K\xfc"
                                                         "che"))
                                       << u"Küche"_s;
    QTest::newRow("Cyrillic code page")
        << dxf("AC1009", "ANSI_1251", textEntity("\xc4\xe2\xe5\xf0\xfc")) << u"Дверь"_s;
    QTest::newRow("\\U+ escapes") << dxf("AC1015", "ANSI_1252", textEntity("\\U+5BDD\\U+5BA4 A"))
                                  << u"寝室 A"_s;
    QTest::newRow("\\M+ escape") << dxf("AC1015", "ANSI_1252", textEntity("\\M+19781")) << u"浴"_s;
    QTest::newRow("specials") << dxf("AC1015", "ANSI_1252", textEntity("%%c50 45%%d %%p0.1 100%%%"))
                              << u"Ø50 45° ±0.1 100%"_s;
    QTest::newRow("CRLF and trailing blanks")
        << dxf("AC1015", "ANSI_932", textEntity(shiftJis)).replace("\n", "  \r\n") << shiftJisText;
    QTest::newRow("multi-line text codes")
        << dxf("AC1021", "",
               "0\nMTEXT\n8\n0\n10\n0\n20\n0\n40\n3\n3\n{\\fMS Gothic|b0;会議室}\\P\n"
               "1\n\\H2.5;\\S1^2;\\~\\\\end\n")
        << u"会議室\n1/2 \\end"_s;
}

void TestServerDxf::encodings()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, expected);
    Model model;
    QString error;
    QVERIFY2(DxfReader().read(file, model, &error), qPrintable(error));
    QCOMPARE(model.entities.size(), 1);
    const auto *text = std::get_if<Text>(&model.entities.front().shape);
    QVERIFY(text);
    QCOMPARE(text->text, expected);
}

void TestServerDxf::binaryDxfReadsAsAscii_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("R2000, Shift-JIS") << u"kinds.dxf"_s;
    QTest::newRow("R2018, UTF-8") << u"site-r2018.dxf"_s;
}

void TestServerDxf::binaryDxfReadsAsAscii()
{
    QFETCH(QString, name);
    QString error;
    QTemporaryDir dir;
    const QString ascii = dir.filePath(u"a.dxf"_s);
    const QString binary = dir.filePath(u"b.dxf"_s);
    const QString source = QStringLiteral(NORVALE_SOURCE_DIR "/fuzz/corpus/server_dxf/") + name;
    QProcess convert;
    convert.start(u"/usr/bin/python3"_s,
                  {u"-c"_s,
                   u"import sys, ezdxf\nfrom ezdxf import recover\n"
                   "d, _ = recover.readfile(sys.argv[1])\nd.saveas(sys.argv[2])\n"
                   "d.saveas(sys.argv[3], fmt='bin')\n"_s,
                   source, ascii, binary});
    QVERIFY(convert.waitForFinished(60000));
    QVERIFY2(convert.exitCode() == 0, convert.readAllStandardError().constData());
    Model fromAscii;
    Model fromBinary;
    QVERIFY2(DxfReader().read(readAll(ascii), fromAscii, &error), qPrintable(error));
    QVERIFY2(DxfReader().read(readAll(binary), fromBinary, &error), qPrintable(error));
    QVERIFY(!fromAscii.entities.isEmpty());
    bool japanese = false;
    for (const Entity &entity : std::as_const(fromBinary.entities)) {
        if (const auto *text = std::get_if<Text>(&entity.shape))
            japanese = japanese || text->text.contains(u"敷地"_s) || text->text.contains(u"居間"_s);
    }
    QVERIFY(japanese);
    const QString difference = firstDifference(fromAscii, fromBinary);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

void TestServerDxf::roundTrip_data()
{
    QTest::addColumn<QString>("path");
    for (const char *name : {"misc/a3.dxf", "misc/tux.dxf", "misc/screw.dxf",
                             "elektro/transistor/vt31.dxf", "plan/architect/Complete-Lib-V.dxf"})
        QTest::newRow(name) << kLibrary + u'/' + QLatin1String(name);
    for (const char *name : {"kinds.dxf", "site-r2018.dxf", "r12.dxf"})
        QTest::newRow(name) << QStringLiteral(NORVALE_SOURCE_DIR "/fuzz/corpus/server_dxf/")
                + QLatin1String(name);
}

void TestServerDxf::roundTrip()
{
    QFETCH(QString, path);
    if (!QFile::exists(path))
        QSKIP("not installed here");
    Model original;
    QString error;
    QVERIFY2(DxfReader().read(readAll(path), original, &error), qPrintable(error));
    QBuffer written;
    written.open(QIODevice::WriteOnly);
    QVERIFY2(DxfWriter().write(original, {u"a3"_s, u"山田 花子"_s, u"設計部"_s}, written, &error),
             qPrintable(error));
    Model again;
    QVERIFY2(DxfReader().read(written.data(), again, &error), qPrintable(error));
    QVERIFY(!original.entities.isEmpty());
    const QString difference = firstDifference(original, again);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

void TestServerDxf::writtenDxfPassesTheAudit_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("author");
    QTest::addColumn<QString>("affiliation");
    QTest::newRow("Japanese author data")
        << u"misc/a3.dxf"_s << u"山田 花子"_s << u"設計部 第二課"_s;
    QTest::newRow("no author data") << u"misc/tux.dxf"_s << QString() << QString();
    QTest::newRow("blocks and inserts")
        << u"plan/architect/Complete-Lib-V.dxf"_s << u"Jane Doe"_s << u"ACME"_s;
}

void TestServerDxf::writtenDxfPassesTheAudit()
{
    QFETCH(QString, path);
    QFETCH(QString, author);
    QFETCH(QString, affiliation);
    path = kLibrary + u'/' + path;
    if (!QFile::exists(path))
        QSKIP("not installed here");
    Model model;
    QString error;
    QVERIFY2(DxfReader().read(readAll(path), model, &error), qPrintable(error));
    QTemporaryDir dir;
    QFile target(dir.filePath(u"out.dxf"_s));
    QVERIFY(target.open(QIODevice::WriteOnly));
    QVERIFY2(DxfWriter().write(model, {u"out"_s, author, affiliation}, target, &error),
             qPrintable(error));
    target.close();

    const QJsonObject audit = runOracle({u"audit"_s, target.fileName()}, &error);
    QVERIFY2(!audit.isEmpty(), qPrintable(error));
    QVERIFY2(audit.value("errors"_L1).toArray().isEmpty(),
             QJsonDocument(audit).toJson().constData());
    QCOMPARE(audit.value("version"_L1).toString(), u"AC1015"_s);
    QCOMPARE(audit.value("codepage"_L1).toString(), u"ANSI_932"_s);
    QCOMPARE(audit.value("entities"_L1).toInt(), model.entities.size());
    QCOMPARE(audit.value("lastSavedBy"_L1).toString(), author);
    QCOMPARE(audit.value("custom"_L1).toObject().value("Affiliation"_L1).toString(), affiliation);
}

QTEST_GUILESS_MAIN(TestServerDxf)
#include "tst_server_dxf.moc"
