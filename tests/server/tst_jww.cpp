#include "tests/TestEnvironment.h"

#include "server/jww/JwwReader.h"
#include "server/sxf/SxfReader.h"
#include "server/sxf/SxfWriter.h"

#include <QBuffer>

using namespace Drawing;
using namespace Qt::Literals::StringLiterals;
using namespace TestEnvironment;

Q_DECLARE_METATYPE(Drawing::Point)

namespace {

// Writes JWW files as the format description of the program's author lays them out, field by
// field, for the versions the reader supports. Only what the tests and the sample need.
class JwwFile
{
public:
    struct Head
    {
        quint8 style = 1;
        quint16 color = 2;
        quint16 width = 0;
        quint16 layer = 0;
        quint16 group = 0;
    };

    explicit JwwFile(quint32 version)
        : m_version(version)
    { }

    QByteArray bytes;
    quint32 paper = 3; // A3
    double scales[16]
        = {100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100};

    template<typename T>
    void put(T v)
    {
        char b[sizeof v];
        qToLittleEndian(v, b);
        bytes.append(b, sizeof v);
    }
    void u8(quint8 v) { put(v); }
    void u16(quint16 v) { put(v); }
    void u32(quint32 v) { put(v); }
    void f64(double v) { put(v); }
    void str(const QString &s)
    {
        QStringEncoder encoder("windows-31j");
        const QByteArray raw = encoder.encode(s);
        if (raw.size() < 0xff) {
            u8(quint8(raw.size()));
        } else {
            u8(0xff);
            u16(quint16(raw.size()));
        }
        bytes += raw;
    }

    // Everything before the shapes: signature, version, memo, paper, layer states, settings.
    void header(const QString &memo, const QMap<int, QString> &layerNames, bool hundredths)
    {
        bytes += "JwwData.";
        u32(m_version);
        str(memo);
        u32(paper);
        u32(0);
        for (int g = 0; g < 16; ++g) {
            u32(g == 15 ? 0 : 2); // group 15 hidden
            u32(0);
            f64(scales[g]);
            u32(0);
            for (int l = 0; l < 16; ++l) {
                u32(l == 14 ? 0 : 2); // layer 14 of every group hidden
                u32(0);
            }
        }
        for (int i = 0; i < 14 + 5 + 1; ++i)
            u32(0);
        u32(hundredths ? quint32(-101) : 1);
        for (int i = 0; i < 3; ++i)
            f64(1);
        u32(0);
        u32(0);
        for (int i = 0; i < 5; ++i)
            f64(0);
        for (int n = 0; n < 256; ++n)
            str(layerNames.value(n));
        for (int n = 0; n < 16; ++n)
            str(u"グループ%1"_s.arg(n));
        f64(0), f64(35), u32(0), f64(0);
        f64(0), f64(0); // sky map
        u32(0);
        for (int i = 0; i < 6; ++i)
            f64(1);
        for (int n = 0; n < 8; ++n)
            f64(1), f64(0), f64(0), u32(0);
        f64(0), f64(0), f64(0), u32(0), f64(0), f64(0), f64(0), u32(0);
        for (int i = 0; i < 11; ++i)
            f64(1);
        for (int n = 0; n < 10; ++n)
            u32(0x00ff00ff), u32(1);
        for (int n = 0; n < 10; ++n)
            u32(0), u32(1), f64(0.3);
        for (int i = 0; i < 8 * 4 + 5 * 5 + 4 * 4; ++i)
            u32(0xf0f0f0f0);
        for (int i = 0; i < 12 + 1 + 3; ++i)
            u32(0);
        for (int i = 0; i < 5 + 4; ++i)
            f64(0);
        u32(0), u32(0x00ffffff);
        if (m_version >= 420) {
            for (int n = 0; n <= 256; ++n)
                u32(n == 17 ? 0x00563412 : 0), u32(1); // colour 117 is RGB 12 34 56
            for (int n = 0; n <= 256; ++n)
                str(n == 17 ? u"ユーザ色"_s : QString()), u32(0), u32(1), f64(0.3);
            for (int n = 0; n <= 32; ++n)
                u32(0), u32(0), u32(0), u32(0);
            for (int n = 0; n <= 32; ++n) {
                str(n == 16 ? u"独自線"_s : QString());
                u32(n == 16 ? 2 : 0);
                for (int j = 1; j <= 10; ++j)
                    f64(n == 16 && j <= 2 ? j * 1.5 : 0);
            }
        }
        for (int i = 1; i <= 10; ++i)
            f64(2), f64(2), f64(0), u32(1);
        f64(3), f64(3), f64(0), u32(1), u32(1);
        f64(1), f64(10), u32(0);
        for (int i = 0; i < 6; ++i)
            f64(0);
    }

    // MFC's object tags: the first object of a class names it, later ones refer to its number.
    void object(const char *className)
    {
        if (m_classes.contains(className)) {
            u16(quint16(0x8000 | m_classes.value(className)));
        } else {
            u16(0xffff);
            u16(quint16(m_version));
            u16(quint16(qstrlen(className)));
            bytes += className;
            m_classes.insert(className, m_map++);
        }
        ++m_map;
    }
    void head(const Head &h, quint8 style)
    {
        u32(0);
        u8(style);
        u16(h.color);
        u16(h.width);
        u16(h.layer);
        u16(h.group);
        u16(0);
    }
    void sen(const Head &h, Point a, Point b)
    {
        head(h, h.style);
        f64(a.x), f64(a.y), f64(b.x), f64(b.y);
    }
    void enko(const Head &h, Point c, double r, double start, double sweep, double tilt,
              double flat, bool full)
    {
        head(h, h.style);
        f64(c.x), f64(c.y), f64(r), f64(start), f64(sweep), f64(tilt), f64(flat), u32(full);
    }
    void ten(const Head &h, Point p, bool temporary, quint32 code = 0)
    {
        head(h, code ? 100 : 1);
        f64(p.x), f64(p.y), u32(temporary);
        if (code)
            u32(code), f64(0), f64(1);
    }
    void moji(const Head &h, Point p, double w, double hgt, double angle, const QString &font,
              const QString &text)
    {
        head(h, 1);
        f64(p.x), f64(p.y), f64(p.x + w * text.size()), f64(p.y);
        u32(1), f64(w), f64(hgt), f64(0), f64(angle);
        str(font), str(text);
    }
    void solid(const Head &h, quint8 style, const Point (&p)[4], quint32 rgb = 0)
    {
        head(h, style);
        for (const Point &pt : {p[0], p[3], p[1], p[2]})
            f64(pt.x), f64(pt.y);
        if (h.color == 10)
            u32(rgb);
    }
    void block(const Head &h, Point p, double sx, double sy, double rotation, quint32 number)
    {
        head(h, 1);
        f64(p.x), f64(p.y), f64(sx), f64(sy), f64(rotation), u32(number);
    }
    // A block definition; its shapes follow as a list of their own.
    void definition(quint32 number, const QString &name)
    {
        head({}, 1);
        u32(number), u32(1);
        if (m_version >= 600)
            f64(0); // eight-byte time
        else
            u32(0);
        str(name);
    }

private:
    quint32 m_version;
    QHash<QByteArray, int> m_classes;
    int m_map = 1;
};

// The sample site plan in JWW, and the drawing the tests read in every version.
QByteArray planJww(quint32 version)
{
    JwwFile f(version);
    f.header(u"配置図のサンプル"_s, {{1, u"壁"_s}, {2, u"文字"_s}}, version >= 600);
    const JwwFile::Head wall {1, 2, 50, 1, 0};
    const JwwFile::Head text {1, 8, 0, 2, 0};
    f.u16(version >= 420 ? 11 : 10);
    f.object("CDataSen"), f.sen(wall, {10, 10}, {50, 10});
    f.object("CDataSen"), f.sen({5, 6, 0, 3, 1}, {50, 10}, {50, 40});
    f.object("CDataEnko"), f.enko(wall, {30, 25}, 5, 0, 0, 0, 1, true);
    f.object("CDataEnko"), f.enko(wall, {30, 10}, 4, 0, M_PI / 2, 0, 1, false);
    f.object("CDataEnko"), f.enko(wall, {70, 25}, 8, 0, 0, M_PI / 6, 0.5, true);
    f.object("CDataTen"), f.ten(wall, {1, 2}, false, 3);
    f.object("CDataTen"), f.ten(wall, {3, 4}, true);
    f.object("CDataMoji"), f.moji(text, {10, 60}, 5, 5, 0, u"ＭＳ ゴシック"_s, u"配置図ソ表"_s);
    const Point quad[4] = {{0, 0}, {4, 0}, {4, 3}, {0, 3}};
    f.object("CDataSolid"), f.solid({1, 10, 0, 1, 0}, 1, quad, 0x00302010);
    f.object("CDataBlock"), f.block(wall, {20, 50}, 2, 2, M_PI / 2, 1);
    if (version >= 420) {
        f.object("CDataSunpou");
        f.head({}, 1);
        f.sen(wall, {10, 5}, {50, 5});
        f.moji(text, {30, 6}, 2.5, 2.5, 0, u"ＭＳ ゴシック"_s, u"40000"_s);
        f.u16(1);
        f.sen(wall, {10, 10}, {10, 4}), f.sen(wall, {50, 10}, {50, 4});
        for (int i = 0; i < 4; ++i)
            f.ten(wall, {10, 5}, false);
    }
    f.u16(1); // block definitions
    f.object("CDataList"), f.definition(1, u"窓@@SfigorgFlag@@4"_s);
    f.u16(1);
    f.object("CDataSen"), f.sen(wall, {0, 0}, {1, 0});
    if (version >= 700)
        f.u32(0); // no pictures
    return f.bytes;
}

} // namespace

class TestJww : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void versions_data();
    void versions();
    void sheets_data();
    void sheets();
    void malformed_data();
    void malformed();
    void sample();
};

void TestJww::versions_data()
{
    QTest::addColumn<quint32>("version");
    for (quint32 v : {351u, 420u, 600u, 700u})
        QTest::newRow(qPrintable(QString::number(v))) << v;
}

void TestJww::versions()
{
    QFETCH(quint32, version);
    JwwReader reader;
    Model m;
    QString error;
    QVERIFY2(reader.read(planJww(version), m, &error), qPrintable(error));
    QCOMPARE(reader.version(), int(version));
    QCOMPARE(reader.memo(), u"配置図のサンプル"_s);
    QCOMPARE(m.entities.size(), version >= 420 ? 13 : 9); // the temporary point is left out

    const Entity &wall = m.entities[0];
    QVERIFY(wall.shape == Shape(Line {{1000, 1000}, {5000, 1000}}));
    QCOMPARE(wall.style.layer, u"0-1 壁"_s);
    QCOMPARE(wall.style.color.rgb, 0x000000u);
    QCOMPARE(wall.style.linetype, u"CONTINUOUS"_s);
    QCOMPARE(wall.style.lineweight, version >= 600 ? 0.5 : -1.0);
    const Entity &dotted = m.entities[1];
    QCOMPARE(dotted.style.linetype, u"一点鎖1"_s);
    QCOMPARE(dotted.style.color.rgb, 0x0000ffu);
    QCOMPARE(dotted.style.layer, u"1-3"_s);
    QVERIFY(m.layer(u"1-3"_s) && m.layer(u"1-3"_s)->on);
    QVERIFY(m.entities[2].shape == Shape(Circle {{3000, 2500}, 500}));
    QVERIFY(m.entities[3].shape == Shape(Arc {{3000, 1000}, 400, 0, 90}));
    const Ellipse e = std::get<Ellipse>(m.entities[4].shape);
    QVERIFY(e.center == (Point {7000, 2500}) && e.ratio == 0.5);
    QVERIFY((e.majorAxis == Point {800 * std::cos(M_PI / 6), 800 * std::sin(M_PI / 6)}));
    QVERIFY(m.entities[5].shape == Shape(Marker {{100, 200}}));
    const Text t = std::get<Text>(m.entities[6].shape);
    QCOMPARE(t.text, u"配置図ソ表"_s);
    QCOMPARE(t.font, u"ＭＳ ゴシック"_s);
    QVERIFY(t.position == (Point {1000, 6000}) && t.height == 500 && t.widthFactor == 1);
    QCOMPARE(m.entities[6].style.color.rgb, 0xff0000u);
    const Entity &solid = m.entities[7];
    QCOMPARE(solid.style.color.rgb, 0x102030u);
    QVERIFY(std::get<Solid>(solid.shape).corners[2] == (Point {400, 300}));
    const Insert in = std::get<Insert>(m.entities[8].shape);
    QCOMPARE(in.block, u"窓"_s);
    QVERIFY(in.position == (Point {2000, 5000}) && in.scaleX == 200 && in.rotation == 90);
    QCOMPARE(m.blocks.size(), 1);
    QVERIFY(m.blocks[0].entities.value(0).shape == Shape(Line {{0, 0}, {1, 0}}));
    if (version >= 420) {
        QVERIFY(m.entities[9].shape == Shape(Line {{1000, 500}, {5000, 500}}));
        QCOMPARE(std::get<Text>(m.entities[10].shape).text, u"40000"_s);
        QVERIFY(m.entities[11].shape == Shape(Line {{1000, 1000}, {1000, 400}}));
    }
}

void TestJww::sheets_data()
{
    QTest::addColumn<quint32>("paper");
    QTest::addColumn<Point>("size"); // landscape; 0 × 0: no paper the format knows
    const double papers[][3]
        = {{0, 1189, 841},   {1, 841, 594},     {2, 594, 420},      {3, 420, 297},
           {4, 297, 210},    {8, 1682, 1189},   {9, 2378, 1682},    {10, 3364, 2378},
           {11, 4756, 3364}, {12, 10000, 7071}, {13, 50000, 35355}, {14, 100000, 70711},
           {7, 0, 0}};
    for (const auto &p : papers)
        QTest::addRow("%g", p[0]) << quint32(p[0]) << Point {p[1], p[2]};
}

// Shapes come at real size, and each group's viewport puts them back where the file has them,
// measured from the paper's centre; through SFC each scale is a part figure placed at its ratio.
void TestJww::sheets()
{
    QFETCH(quint32, paper);
    QFETCH(Point, size);
    const double detail = paper % 2 ? 100 : 20; // group 1's scale; group 0 is at 1:100
    JwwFile f(700);
    f.paper = paper;
    f.scales[1] = detail;
    f.header({}, {}, true);
    f.u16(4);
    f.object("CDataSen"), f.sen({1, 2, 0, 1, 0}, {-85, 0}, {85, 0});
    f.object("CDataMoji"), f.moji({1, 2, 0, 1, 0}, {10, -20}, 3, 3, 0, {}, u"壁"_s);
    f.object("CDataSen"), f.sen({1, 2, 0, 2, 1}, {0, 10}, {10, 10});
    f.object("CDataBlock"), f.block({1, 2, 0, 2, 1}, {0, 0}, 1, 1, 0, 1);
    f.u16(1), f.object("CDataList"), f.definition(1, u"b"_s);
    f.u16(1), f.object("CDataSen"), f.sen({1, 2, 0, 3, 0}, {0, 0}, {1, 0}); // only in the block
    f.u32(0);
    Model m;
    QString error;
    QVERIFY2(JwwReader().read(f.bytes, m, &error), qPrintable(error));
    QVERIFY(m.entities[0].shape == Shape(Line {{-8500, 0}, {8500, 0}}));
    QCOMPARE(std::get<Text>(m.entities[1].shape).height, 300.0);
    QCOMPARE(m.sheets.size(), size.x > 0 ? 1 : 0);
    if (size.x == 0)
        return;
    const Sheet &sheet = m.sheets[0];
    QVERIFY(sheet.width == size.x && sheet.height == size.y && m.currentSheet == 0);
    QCOMPARE(sheet.viewports.size(), detail == 100 ? 1 : 2);
    const Point half {size.x / 2, size.y / 2};
    const QVector<Viewport> &views = sheet.viewports;
    for (const Viewport &v : views)
        QVERIFY(v.width == size.x && v.height == size.y && v.center == half
                && !v.frozenLayers.contains(u"0-3"_s));
    for (const auto &[i, onFile] : {std::pair {0, Point {-85, 0}}, {2, {0, 10}}}) {
        const Point p = std::get<Line>(m.entities[i].shape).start;
        const auto shows = [&](const Viewport &v) {
            return !v.frozenLayers.contains(m.entities[i].style.layer);
        };
        QCOMPARE(std::count_if(views.begin(), views.end(), shows), 1);
        const Viewport v = *std::find_if(views.begin(), views.end(), shows);
        QVERIFY((Point {half.x + (p.x - v.viewCenter.x) * v.scale,
                        half.y + (p.y - v.viewCenter.y) * v.scale})
                == (Point {half.x + onFile.x, half.y + onFile.y}));
    }
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    Model back;
    QVERIFY(SxfWriter(SxfWriter::Form::Sfc).write(m, {}, out, &error));
    QVERIFY2(SxfReader(SxfReader::Form::Sfc).read(out.data(), back, &error), qPrintable(error));
    QVERIFY(back.sheets.value(0).width == size.x && back.sheets.value(0).height == size.y);
    QCOMPARE(back.entities.size(), sheet.viewports.size());
    for (int i = 0; i < back.entities.size(); ++i) {
        const Insert in = std::get<Insert>(back.entities[i].shape);
        QVERIFY(in.position == half && in.scaleX == sheet.viewports[i].scale);
        QVERIFY(back.block(in.block)->entities[0].shape == m.entities[i ? 2 : 0].shape);
    }
}

void TestJww::malformed_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("reason");
    const QByteArray good = planJww(700);
    QTest::newRow("empty") << QByteArray() << u"signature"_s;
    QTest::newRow("not JWW") << QByteArray("JwcData.\x5e\x01\0\0", 12) << u"signature"_s;
    QByteArray old = good;
    old[8] = char(44);
    old[9] = char(1);
    QTest::newRow("version 3.00") << old << u"version 300"_s;
    for (int cut : {13, 2000, 10000, int(good.indexOf("CDataMoji")) + 20, int(good.size()) - 30})
        QTest::newRow(qPrintable(u"cut at %1"_s.arg(cut))) << good.left(cut) << u"truncated"_s;
    QByteArray absurd = good;
    const int list = good.indexOf("CDataSen") - 8;
    absurd[list] = char(0xff);
    absurd[list + 1] = char(0xff);
    QTest::newRow("absurd count") << absurd << u"claims"_s;
    QByteArray unknown = good;
    unknown.replace("CDataSen", "CDataXyz");
    QTest::newRow("unknown record") << unknown << u"CDataXyz"_s;
    JwwFile f(700);
    f.header({}, {}, false);
    f.u16(0);
    f.u16(1);
    f.object("CDataList"), f.definition(7, u"loop"_s);
    f.u16(1);
    f.object("CDataBlock"), f.block({}, {0, 0}, 1, 1, 0, 7);
    f.u32(0);
    QTest::newRow("block placing itself") << f.bytes << u"includes itself"_s;
    JwwFile g(700);
    g.header({}, {}, false);
    g.u16(1);
    g.object("CDataBlock"), g.block({}, {0, 0}, 1, 1, 0, 9);
    g.u16(0);
    g.u32(0);
    QTest::newRow("undefined block") << g.bytes << u"definition 9"_s;
    JwwFile h(700);
    h.header({}, {}, false);
    h.u16(1);
    h.u16(0x8005);
    h.bytes += QByteArray(64, '\0');
    QTest::newRow("class never named") << h.bytes << u"has not defined"_s;
    JwwFile s(700);
    s.header({}, {}, false);
    s.u16(1);
    s.object("CDataMoji");
    s.head({}, 1);
    for (int i = 0; i < 8; ++i)
        s.f64(1);
    s.u32(1);
    s.u8(0xff), s.u16(0xffff), s.u32(0x7fffffff);
    QTest::newRow("endless string") << s.bytes << u"truncated"_s;
    JwwFile r(700);
    r.header({}, {}, false);
    r.u16(1);
    const Point round[4] = {{0, 0}, {0, 0}, {qInf(), 0}, {5, 1}}; // its sweep is the third x
    r.object("CDataSolid"), r.solid({}, 101, round);
    r.u16(0), r.u32(0);
    QTest::newRow("round solid swept without end") << r.bytes << u"not finite"_s;
}

void TestJww::malformed()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reason);
    Model m;
    QString error;
    QVERIFY(!JwwReader().read(bytes, m, &error));
    QVERIFY2(error.contains(reason), qPrintable(error));
}

// The sample is the test writer's plan (NORVALE_WRITE_SAMPLES=1 writes it again): what the
// conversion tests read is what this reader is tested on.
void TestJww::sample()
{
    const QString path = QStringLiteral(NORVALE_SOURCE_DIR "/samples/plan.jww");
    const QByteArray made = planJww(700);
    if (qEnvironmentVariableIsSet("NORVALE_WRITE_SAMPLES"))
        QVERIFY(writeFile(path, made));
    QCOMPARE(readFile(path), made);
}

NORVALE_TEST_MAIN(TestJww)
#include "tst_jww.moc"
