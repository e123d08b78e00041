#include "tests/TestEnvironment.h"

#include "server/dxf/DxfColors.h"
#include "server/dxf/DxfReader.h"
#include "server/dxf/DxfWriter.h"

using namespace Drawing;
using namespace TestEnvironment;
using namespace Qt::Literals::StringLiterals;

namespace {

const QString kLibrary = u"/usr/share/librecad/library"_s;
const QString kCorpus = QStringLiteral(NORVALE_SOURCE_DIR "/fuzz/server/corpus/server_dxf/");
const QString kOracle = QStringLiteral(NORVALE_SOURCE_DIR "/tests/server/dxf_oracle.py");
const QString kLayouts = QStringLiteral(NORVALE_SOURCE_DIR "/tests/server/layout_drawings.py");

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
    static const char *const kinds[]
        = {"LINE",   "CIRCLE", "ARC",       "ELLIPSE", "POLYLINE", "POINT", "SOLID",      "TEXT",
           "INSERT", "HATCH",  "DIMENSION", "LEADER",  "3DFACE",   "MLINE", "MULTILEADER"};
    QMap<QString, int> counts;
    for (const Entity &entity : entities) {
        const auto *text = std::get_if<Text>(&entity.shape);
        ++counts[text && text->multiline ? u"MTEXT"_s
                                         : QString::fromLatin1(kinds[entity.shape.index()])];
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
    for (int i = 0; i < std::min(a.sheets.size(), b.sheets.size()); ++i) {
        if (!(a.sheets[i] == b.sheets[i]))
            return u"sheet "_s + a.sheets[i].name;
    }
    return a == b ? QString() : u"model"_s;
}

// ezdxf, run by tests/server/dxf_oracle.py or by the script given; its standard output.
QByteArray python(const QStringList &arguments, QString *error, int timeout = 60000)
{
    QProcess process;
    process.start(u"/usr/bin/python3"_s, arguments);
    if (!process.waitForFinished(timeout) || process.exitCode() != 0) {
        *error = QString::fromUtf8(process.readAllStandardError());
        return {};
    }
    return process.readAllStandardOutput();
}

// What ezdxf's audit makes of DXF bytes, saved as `path` for it; empty when it could not tell.
QJsonObject audited(const QString &path, const QByteArray &bytes, QString *error)
{
    if (!writeFile(path, bytes))
        return {};
    return QJsonDocument::fromJson(python({kOracle, u"audit"_s, path}, error)).object();
}

// A drawing of every kind a version may lack, with text Shift-JIS holds and a character it lacks.
Model everyKind()
{
    Model model;
    Layer layer;
    layer.name = u"壁"_s;
    layer.color = Color::fromRgb(0x123456);
    model.layers = {Layer {u"0"_s}, layer};
    const auto add = [&](Shape shape, Color color = {}) {
        Entity entity;
        entity.style.layer = layer.name;
        entity.style.color = color;
        entity.shape = std::move(shape);
        model.entities.append(entity);
    };
    add(Line {{0, 0}, {100, 50}}, Color::fromRgb(0xc08040));
    Text text;
    text.text = u"居間 Küche"_s;
    text.position = {5, 60};
    add(text);
    text.text = u"会議室\n第二会議室"_s;
    text.multiline = true;
    text.valign = VAlign::Top;
    add(text);
    add(Polyline {{{{0, 0}, 0.5}, {{40, 0}, -1}, {{40, 30}}}, true});
    add(Ellipse {{70, 20}, {20, 5}, 0.5});
    Hatch hatch;
    hatch.loops = {{{{0, 0}}, {{30, 0}}, {{30, 20}}, {{0, 20}}}};
    hatch.pattern = u"ANSI31"_s;
    hatch.patternLines = {{45, {0, 0}, {-2.2, 2.2}, {}}};
    add(hatch);
    return model;
}

} // namespace

// The DXF reader and writer against real files: librecad-data's parts library, with ezdxf as
// the oracle of what they hold and of whether what the writer makes is sound.
class TestDxf : public QObject
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
    void versions_data();
    void versions();
    void layouts_data();
    void layouts();

private:
    QHash<QString, QJsonObject> m_expected; // ezdxf's counts per library file
    QTemporaryDir m_dir;
};

void TestDxf::initTestCase()
{
    if (!QFile::exists(kLibrary) || !QFile::exists(u"/usr/bin/python3"_s))
        QSKIP("librecad-data and python3-ezdxf are installed by `make test`");
    QStringList files;
    QDirIterator it(kLibrary, {u"*.dxf"_s}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(it.next());
    QString error;
    const QByteArray counts = python(QStringList {kOracle, u"counts"_s} + files, &error, 600000);
    QVERIFY2(!counts.isEmpty(), qPrintable(error));
    for (const QByteArray &line : counts.split('\n')) {
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        if (!object.isEmpty())
            m_expected.insert(object.value("file"_L1).toString(), object);
    }
    QCOMPARE(m_expected.size(), files.size());
    python({kLayouts, m_dir.path()}, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

void TestDxf::librecadParts_data()
{
    QTest::addColumn<QString>("path");
    QStringList files = m_expected.keys();
    files.sort();
    for (const QString &path : files)
        QTest::newRow(qPrintable(path.mid(kLibrary.size() + 1))) << path;
}

// Every part reads, with as many shapes of every kind, in model space and in blocks, as ezdxf sees.
void TestDxf::librecadParts()
{
    QFETCH(QString, path);
    Model model;
    QString error;
    QVERIFY2(DxfReader().read(readFile(path), model, &error), qPrintable(error));
    const QJsonObject expected = m_expected.value(path);
    QCOMPARE(counted(model.entities), counted(expected.value("model"_L1).toObject()));
    QVector<Entity> blockEntities;
    for (const Block &block : model.blocks)
        blockEntities += block.entities;
    QCOMPARE(counted(blockEntities), counted(expected.value("blocks"_L1).toObject()));
}

// One row per rule of how a text's bytes become characters.
void TestDxf::encodings_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("expected");

    const QByteArray shiftJis = "\x8d\x4c\x8e\x9a\x81\x40\x83\x5c\x83\x74\x83\x67"; // 広字　ソフト
    QTest::newRow("Shift-JIS by its code page")
        << dxf("AC1015", "ANSI_932", textEntity(shiftJis)) << u"広字　ソフト"_s;
    QTest::newRow("Shift-JIS when nothing says")
        << QByteArray("0\nSECTION\n2\nENTITIES\n" + textEntity(shiftJis) + "0\nENDSEC\n0\nEOF\n")
        << u"広字　ソフト"_s;
    QTest::newRow("UTF-8 from R2007 on, whatever the code page")
        << dxf("AC1021", "ANSI_1252", textEntity(u"居間 Küche"_s.toUtf8())) << u"居間 Küche"_s;
    QTest::newRow("another code page")
        << dxf("AC1009", "ANSI_1251", textEntity("\xc4\xe2\xe5\xf0\xfc")) << u"Дверь"_s;
    QTest::newRow("\\U+ and \\M+ escapes")
        << dxf("AC1015", "ANSI_1252", textEntity("\\U+5BDD\\U+5BA4 \\M+19781")) << u"寝室 浴"_s;
    QTest::newRow("specials") << dxf("AC1015", "ANSI_1252", textEntity("%%c50 45%%d %%p0.1 100%%%"))
                              << u"Ø50 45° ±0.1 100%"_s;
    QTest::newRow("CRLF and trailing blanks")
        << dxf("AC1015", "ANSI_932", textEntity(shiftJis)).replace("\n", "  \r\n")
        << u"広字　ソフト"_s;
    QTest::newRow("multi-line text codes")
        << dxf("AC1021", "",
               "0\nMTEXT\n8\n0\n10\n0\n20\n0\n40\n3\n3\n{\\fMS Gothic|b0;会議室}\\P\n"
               "1\n\\H2.5;\\S1^2;\\~\\\\end\n")
        << u"会議室\n1/2 \\end"_s;
}

void TestDxf::encodings()
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

void TestDxf::binaryDxfReadsAsAscii_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("R2000, Shift-JIS") << u"kinds.dxf"_s;
    QTest::newRow("R2018, UTF-8") << u"site-r2018.dxf"_s;
}

// ezdxf writes the same drawing as text and as binary DXF: both read to the same model.
void TestDxf::binaryDxfReadsAsAscii()
{
    QFETCH(QString, name);
    const QString ascii = m_dir.filePath(u"a.dxf"_s);
    const QString binary = m_dir.filePath(u"b.dxf"_s);
    QString error;
    python({u"-c"_s,
            u"import sys, ezdxf\nfrom ezdxf import recover\n"
            "d, _ = recover.readfile(sys.argv[1])\nd.saveas(sys.argv[2])\n"
            "d.saveas(sys.argv[3], fmt='bin')\n"_s,
            kCorpus + name, ascii, binary},
           &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    Model fromAscii;
    Model fromBinary;
    QVERIFY2(DxfReader().read(readFile(ascii), fromAscii, &error), qPrintable(error));
    QVERIFY2(DxfReader().read(readFile(binary), fromBinary, &error), qPrintable(error));
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

void TestDxf::roundTrip_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("author");
    for (const char *name :
         {"misc/tux.dxf", "elektro/transistor/vt31.dxf", "plan/architect/Complete-Lib-V.dxf"})
        QTest::newRow(name) << kLibrary + u'/' + QLatin1String(name) << false;
    // hatch-edge-angles-binary.dxf holds angles near 1e300, which once hung the reader.
    for (const char *name :
         {"kinds.dxf", "site-r2018.dxf", "r12.dxf", "features.dxf", "hatch-edge-angles-binary.dxf"})
        QTest::newRow(name) << kCorpus + QLatin1String(name) << true;
}

// What the writer makes reads back to the same model, and ezdxf's audit finds no fault in it;
// the author data lands in the header strict readers check, and nothing when unset.
void TestDxf::roundTrip()
{
    QFETCH(QString, path);
    QFETCH(bool, author);
    if (!QFile::exists(path))
        QSKIP("not installed here");
    Model original;
    QString error;
    QVERIFY2(DxfReader().read(readFile(path), original, &error), qPrintable(error));
    QVERIFY(!original.entities.isEmpty());
    QBuffer written;
    written.open(QIODevice::WriteOnly);
    const SaveInfo info {u"a3"_s, author ? u"山田 花子"_s : QString(),
                         author ? u"設計部 第二課"_s : QString()};
    QVERIFY2(DxfWriter().write(original, info, written, &error), qPrintable(error));
    Model again;
    QVERIFY2(DxfReader().read(written.data(), again, &error), qPrintable(error));
    const QString difference = firstDifference(original, again);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));

    const QJsonObject audit = audited(m_dir.filePath(u"out.dxf"_s), written.data(), &error);
    QVERIFY2(!audit.isEmpty(), qPrintable(error));
    QVERIFY2(audit.value("errors"_L1).toArray().isEmpty(),
             QJsonDocument(audit).toJson().constData());
    QCOMPARE(audit.value("version"_L1).toString(), u"AC1015"_s);
    QCOMPARE(audit.value("codepage"_L1).toString(), u"ANSI_932"_s);
    QCOMPARE(audit.value("entities"_L1).toInt(), original.entities.size());
    QCOMPARE(audit.value("lastSavedBy"_L1).toString(), info.authorName);
    QCOMPARE(audit.value("custom"_L1).toObject().value("Affiliation"_L1).toString(),
             info.affiliation);
}

void TestDxf::versions_data()
{
    QTest::addColumn<DxfVersion>("version");
    QTest::addColumn<QString>("codePage");
    for (const QString &name : DxfVersions::names()) {
        const DxfVersion version = *DxfVersions::fromName(name);
        QTest::newRow(qPrintable(name))
            << version << (version < DxfVersion::R2007 ? u"ANSI_932"_s : u"ANSI_1252"_s);
    }
}

// Every version reads back in ezdxf without an audit error as the version asked, with its text
// as written, and in our reader as the same drawing: R12 as what it draws instead of the kinds it
// lacks.
void TestDxf::versions()
{
    QFETCH(DxfVersion, version);
    QFETCH(QString, codePage);
    const Model original = everyKind();
    QBuffer written;
    written.open(QIODevice::WriteOnly);
    QString error;
    QVERIFY2(DxfWriter(version).write(original, {u"v"_s, u"山田 花子"_s, {}}, written, &error),
             qPrintable(error));
    // Shift-JIS lacks ü; UTF-8 has it.
    QCOMPARE(written.data().contains("\\U+00FC"), version < DxfVersion::R2007);

    Model again;
    QVERIFY2(DxfReader().read(written.data(), again, &error), qPrintable(error));
    const QJsonObject audit
        = audited(m_dir.filePath(DxfVersions::name(version) + u".dxf"_s), written.data(), &error);
    QVERIFY2(!audit.isEmpty(), qPrintable(error));
    QVERIFY2(audit.value("errors"_L1).toArray().isEmpty(),
             QJsonDocument(audit).toJson().constData());
    QCOMPARE(audit.value("version"_L1).toString(),
             QString::fromLatin1(DxfVersions::acadVer(version)));
    QCOMPARE(audit.value("codepage"_L1).toString(), codePage);
    QStringList texts;
    for (const QJsonValue &text : audit.value("texts"_L1).toArray())
        texts.append(text.toString());

    if (version != DxfVersion::R12) {
        const QString difference = firstDifference(original, again);
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
        QCOMPARE(texts, QStringList({u"居間 Küche"_s, u"会議室\n第二会議室"_s}));
        return;
    }
    QCOMPARE(texts, QStringList({u"居間 Küche"_s, u"会議室"_s, u"第二会議室"_s}));
    // No hatch, ellipse or multi-line text: lines, polylines and texts, true colours by number.
    QMap<QString, int> kinds = counted(again.entities);
    QVERIFY(kinds.take(u"LINE"_s) > 5);
    QCOMPARE(kinds, (QMap<QString, int> {{u"TEXT"_s, 3}, {u"POLYLINE"_s, 3}}));
    QCOMPARE(again.entities.first().shape, original.entities.first().shape);
    const int nearest = DxfColors::nearestIndex(0xc08040);
    QCOMPARE(again.entities.first().style.color, Color::fromRgb(DxfColors::rgb(nearest), nearest));
    QCOMPARE(again.entities[4].shape, original.entities[3].shape); // the bulges
    const auto *ellipse = std::get_if<Polyline>(&again.entities[5].shape);
    QVERIFY(ellipse && ellipse->closed && ellipse->vertices.size() == 96);
    QCOMPARE(ellipse->vertices[24].point, (Point {70 - 2.5, 20 + 10}));

    // Near the coordinate limit the polyline would reach beyond it: refused with a reason,
    // never written as a file no reader of ours takes.
    Model far;
    far.entities << Entity {Style(), Ellipse {{9e11, 0}, {9e11, 0}, 0.5}};
    QBuffer refused;
    refused.open(QIODevice::WriteOnly);
    error.clear();
    QVERIFY(!DxfWriter(version).write(far, {u"far"_s, {}, {}}, refused, &error));
    QVERIFY2(error.contains(u"DXF"_s), qPrintable(error));
}

void TestDxf::layouts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<DxfVersion>("version"); // written back as
    QTest::addColumn<QStringList>("sheets");
    QTest::addColumn<int>("current");
    QTest::addColumn<QVector<double>>("page"); // the first sheet's width, height, scale, offset
    QTest::addColumn<QVector<double>>("view"); // its viewport's scale, twist and clip points
    QTest::addColumn<QStringList>("frozen");
    const QVector<double> a3 {420, 297, 1, 20, 15}; // margins left 20, bottom 15
    const DxfVersion r2000 = DxfVersion::R2000;
    QTest::newRow("A3 at 1:100") << u"a3_1to100"_s << r2000 << QStringList {u"Layout1"_s} << 0 << a3
                                 << QVector<double> {0.01, 30, 0} << QStringList();
    QTest::newRow("tab order, model space current")
        << u"two_layouts"_s << r2000 << QStringList {u"立面図"_s, u"平面図"_s} << -1
        << QVector<double> {420, 297, 0.5, 20, 15} << QVector<double>() << QStringList();
    QTest::newRow("frozen layer") << u"frozen_layer"_s << r2000 << QStringList {u"Layout1"_s} << 0
                                  << a3 << QVector<double> {0.01, 0, 0}
                                  << QStringList {u"HIDDEN"_s};
    QTest::newRow("polygonal clip") << u"polygonal_clip"_s << r2000 << QStringList {u"Layout1"_s}
                                    << 0 << a3 << QVector<double> {0.01, 0, 4} << QStringList();
    // Turned a quarter: the paper's bottom margin is the page's left, its right the bottom;
    // then the plot origin (3, 4).
    QTest::newRow("rotated plot") << u"rotated"_s << r2000 << QStringList {u"Layout1"_s} << 0
                                  << QVector<double> {297, 420, 1, 15 + 3, 5 + 4}
                                  << QVector<double>() << QStringList();
    QTest::newRow("R12") << u"r12"_s << DxfVersion::R12 << QStringList {u"Layout1"_s} << 0
                         << QVector<double> {420, 297, 1, 0, 0} << QVector<double> {0.01, 0, 0}
                         << QStringList {u"HIDDEN"_s};
}

// Each layout is a sheet, in tab order, with its page and viewports as its plot settings say;
// what the writer makes of it reads back the same and passes ezdxf's audit.
void TestDxf::layouts()
{
    QFETCH(QString, name);
    QFETCH(DxfVersion, version);
    QFETCH(QStringList, sheets);
    QFETCH(int, current);
    QFETCH(QVector<double>, page);
    QFETCH(QVector<double>, view);
    QFETCH(QStringList, frozen);
    Model model;
    QString error;
    QVERIFY2(DxfReader().read(readFile(m_dir.filePath(name + u".dxf"_s)), model, &error),
             qPrintable(error));
    QStringList names;
    for (const Sheet &sheet : std::as_const(model.sheets))
        names.append(sheet.name);
    QCOMPARE(names, sheets);
    QCOMPARE(model.currentSheet, current);
    const Sheet &sheet = model.sheets.first();
    QCOMPARE(
        (QVector<double> {sheet.width, sheet.height, sheet.scale, sheet.offset.x, sheet.offset.y}),
        page);
    QCOMPARE(sheet.entities.size(), view.value(2) ? 2 : 1); // a line, and the clip's polyline
    QCOMPARE(sheet.viewports.size(), view.isEmpty() ? 0 : 1);
    if (!view.isEmpty()) {
        const Viewport &viewport = sheet.viewports.first();
        QCOMPARE((QVector<double> {viewport.scale, viewport.twist, double(viewport.clip.size())}),
                 view);
        QCOMPARE(viewport.center, (Point {200, 140}));
        QCOMPARE(viewport.viewCenter, (Point {10000, 5000}));
        QCOMPARE(viewport.frozenLayers, frozen);
    }

    QBuffer written;
    written.open(QIODevice::WriteOnly);
    QVERIFY2(DxfWriter(version).write(model, {}, written, &error), qPrintable(error));
    Model again;
    QVERIFY2(DxfReader().read(written.data(), again, &error), qPrintable(error));
    const QString difference = firstDifference(model, again);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
    const QJsonObject audit = audited(m_dir.filePath(u"again.dxf"_s), written.data(), &error);
    QVERIFY2(audit.value("errors"_L1).toArray().isEmpty(),
             QJsonDocument(audit).toJson().constData());
}

NORVALE_TEST_MAIN(TestDxf)
#include "tst_dxf.moc"
