#include "tests/TestEnvironment.h"

#include "server/dxf/DxfReader.h"
#include "server/dxf/DxfWriter.h"
#include "server/sxf/SxfFile.h"
#include "server/sxf/SxfReader.h"
#include "server/sxf/SxfWriter.h"

using namespace Drawing;
using namespace Qt::Literals::StringLiterals;
using namespace TestEnvironment;

Q_DECLARE_METATYPE(Drawing::Entity)
Q_DECLARE_METATYPE(Drawing::Point)
Q_DECLARE_METATYPE(QVector<Drawing::Entity>)

namespace {

// A drawing with every table the feature rows below refer to: layer 1 "平面図" shown, layer 2
// hidden; predefined red (2); user colour 17; predefined "dashed" (2) and user line type 16;
// predefined width 0.35 (4) and user width 10; text fonts 1 "ＭＳ 明朝" and 2 the default.
QByteArray sfc(const QByteArray &features, const QByteArray &fileName = "'a.sfc'")
{
    QByteArray text = "ISO-10303-21;\nHEADER;\nFILE_DESCRIPTION(('SCADEC level2 feature_mode'),"
                      "'2;1');\nFILE_NAME("
        + fileName
        + ",'2026-01-01T00:00:00',('a'),('b'),"
          "'x$$3.1','y','');\nFILE_SCHEMA(('ASSOCIATIVE_DRAUGHTING'));\nENDSEC;\nDATA;\n";
    const QList<QByteArray> tables
        = {"layer_feature('\x95\xbd\x96\xca\x90\x7d','1')",
           "layer_feature('hidden','0')",
           "pre_defined_colour_feature('red')",
           "user_defined_colour_feature('10','20','30')",
           "pre_defined_font_feature('dashed')",
           "user_defined_font_feature('mine','2','(1.0,2.0)')",
           "width_feature('0.35')",
           "width_feature('0.3')",
           "text_font_feature('\x82\x6c\x82\x72 \x96\xbe\x92\xa9')",
           "text_font_feature('\x82\x6c\x82\x72 \x83\x53\x83\x56\x83\x62\x83\x4e')"};
    int id = 1;
    for (const QByteArray &t : tables + features.split('\n')) {
        if (!t.isEmpty())
            text += "/*SXF\n#" + QByteArray::number(id++) + " = " + t + "\nSXF*/\n";
    }
    return text + "ENDSEC;\nEND-ISO-10303-21;\n";
}

// The style an entity draws with once "by layer" is looked up.
Style effective(const Model &m, Style s)
{
    const Layer *l = m.layer(s.layer);
    if (!l)
        return s;
    if (s.color.kind != Color::Kind::Rgb)
        s.color = l->color;
    if (s.linetype.isEmpty())
        s.linetype = l->linetype;
    if (s.lineweight < 0)
        s.lineweight = l->lineweight;
    return s;
}

QVector<Entity> effective(const Model &m, const QVector<Entity> &entities)
{
    QVector<Entity> out = entities;
    for (Entity &e : out)
        e.style = effective(m, e.style);
    return out;
}

bool readSxf(const QByteArray &bytes, Model *m, QString *error = nullptr, bool p21 = false)
{
    SxfReader reader(p21 ? SxfReader::Form::P21 : SxfReader::Form::Sfc);
    QString reason;
    const bool ok = reader.read(bytes, *m, &reason);
    if (error)
        *error = reason;
    else if (!ok)
        qWarning() << reason;
    return ok;
}

QByteArray writeSxf(const Model &m, bool p21, const SaveInfo &info = {})
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QString error;
    SxfWriter writer(p21 ? SxfWriter::Form::P21 : SxfWriter::Form::Sfc);
    if (!writer.write(m, info, buffer, &error))
        qWarning() << error;
    return buffer.data();
}

Style style(const char *layer, Color c, const QString &type, double width)
{
    Style s;
    s.layer = QString::fromUtf8(layer);
    s.color = c;
    s.linetype = type;
    s.lineweight = width;
    return s;
}

const Color red = Color::fromRgb(0xff0000);
const Color user = Color::fromRgb(0x0a141e);
const Color black = Color::fromRgb(0);
const char *const plan = "平面図";

Text text(const QString &s, Point p, double height, double widthFactor, const QString &font = {})
{
    Text t;
    t.text = s;
    t.position = p;
    t.height = height;
    t.widthFactor = widthFactor;
    t.font = font;
    return t;
}

// What the DXF writer makes of m, read back.
Model viaDxf(const Model &m)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QString error;
    Model back;
    if (!DxfWriter().write(m, {}, buffer, &error) || !DxfReader().read(buffer.data(), back, &error))
        qWarning() << error;
    return back;
}

// The site plan the samples hold: a building with a door, trees placed as a symbol, a hatched
// terrace, a dimension line and Japanese labels.
Model sampleModel()
{
    Model m;
    const char *names[] = {"外構", "建物", "寸法", "文字"};
    const quint32 colors[] = {0x00ff00, 0x000000, 0x0000ff, 0xff0000};
    for (int i = 0; i < 4; ++i) {
        Layer l;
        l.name = QString::fromUtf8(names[i]);
        l.color = Color::fromRgb(colors[i]);
        l.linetype = QStringLiteral("CONTINUOUS");
        l.lineweight = i == 1 ? 0.5 : i == 3 ? -3 : 0.25; // text states no width
        m.layers.append(l);
    }
    m.linetypes = {{QStringLiteral("CONTINUOUS"), {}, {}}, {QStringLiteral("dashed"), {}, {3, -1}}};
    Block tree;
    tree.name = QStringLiteral("樹木");
    tree.entities = {{style("外構", {}, {}, -1), Circle {{0, 0}, 1.5}},
                     {style("外構", {}, {}, -1), Line {{-1, 0}, {1, 0}}}};
    m.blocks.append(tree);
    auto add = [&](const char *layer, Shape s) {
        m.entities.append({style(layer, {}, {}, -1), s});
    };
    Polyline outline;
    for (Point p : {Point {10, 10}, Point {50, 10}, Point {50, 40}, Point {10, 40}})
        outline.vertices.append({p});
    outline.closed = true;
    add("建物", outline);
    add("建物", Arc {{30, 10}, 4, 0, 90});
    add("建物", Line {{30, 10}, {34, 10}});
    Hatch terrace;
    terrace.solid = true;
    terrace.loops = {{{{50, 15}}, {{60, 15}}, {{60, 35}}, {{55, 35}, 0.4}, {{50, 35}}}};
    add("外構", terrace);
    for (int i = 0; i < 4; ++i) {
        Insert in;
        in.block = tree.name;
        in.position = {15.0 + 10 * i, 50};
        add("外構", in);
    }
    add("外構", Ellipse {{70, 25}, {8, 0}, 0.5, 0, 6.283185307179586});
    add("寸法", Line {{10, 5}, {50, 5}});
    add("寸法", text(QStringLiteral("40000"), {30, 6}, 2.5, 1));
    add("文字", text(QStringLiteral("配置図 S=1/100"), {10, 60}, 5, 1));
    add("文字", text(QStringLiteral("東京都千代田区ソ表町一丁目"), {10, 68}, 3.5, 1));
    m.entities.append({style("外構", {}, QStringLiteral("dashed"), -1), Line {{0, 0}, {80, 0}}});
    return m;
}

} // namespace

class TestSxf : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readFeatures_data();
    void readFeatures();
    void writeFeatures_data();
    void writeFeatures();
    void symbols();
    void refusedWrites();
    void byLayer();
    void roundTrips();
    void sheets_data();
    void sheets();
    void strings_data();
    void strings();
    void malformed_data();
    void malformed();
    void dxfThroughSfc();
    void samples_data();
    void samples();
};

void TestSxf::readFeatures_data()
{
    QTest::addColumn<QByteArray>("features");
    QTest::addColumn<QVector<Entity>>("expected");

    const Style full = style(plan, red, QStringLiteral("mine"), 0.3);
    const Style plain = style(plan, black, QStringLiteral("CONTINUOUS"), 0.35);
    // Shapes that state no line type or width take the layer's, which no shape then sets.
    auto bare = [](Color c) {
        return style(plan, c, u"CONTINUOUS"_s, -3);
    };
    QTest::newRow("line, every table, bare numbers")
        << QByteArray("line_feature(1,2,16,10,0.0,0,10.5,-5)")
        << QVector<Entity> {{full, Line {{0, 0}, {10.5, -5}}}};
    QTest::newRow("arc clockwise")
        << QByteArray("arc_feature('1','1','1','4','0','0','5','0','120','30')")
        << QVector<Entity> {{plain, Arc {{0, 0}, 5, 30, 120}}};
    QTest::newRow("ellipse, minor axis first")
        << QByteArray("ellipse_feature('1','1','1','4','0','0','2','4','0')")
        << QVector<Entity> {{plain, Ellipse {{0, 0}, {0, 4}, 0.5, 0, 6.283185307179586}}};
    Text japanese = text(QStringLiteral("図面ソ表"), {10, 20}, 5, 1, QStringLiteral("ＭＳ 明朝"));
    japanese.rotation = 30;
    japanese.halign = HAlign::Center;
    japanese.valign = VAlign::Middle;
    QTest::newRow("Shift-JIS text, centred") << QByteArray(
        "text_string_feature('1','2','1','\x90\x7d\x96\xca\x83\x5c\x95\x5c','10','20',"
        "'5','20','0','30','0','5','1')") << QVector<Entity> {{bare(red), japanese}};
    Polyline rounded;
    rounded.vertices = {{{0, 0}}, {{10, 0}, 1}, {{10, 10}}};
    QTest::newRow("composite curve with an arc")
        << QByteArray("polyline_feature('1','1','1','4','2','(0,10)','(0,0)')\n"
                      "arc_feature('1','1','1','4','10','5','5','1','270','90')\n"
                      "composite_curve_org_feature('1','1','4','0')")
        << QVector<Entity> {{plain, rounded}};
    Solid solid;
    solid.corners[0] = {0, 0};
    solid.corners[1] = {4, 0};
    solid.corners[2] = {4, 3};
    solid.corners[3] = {4, 3};
    QTest::newRow("filled triangle is a solid")
        << QByteArray("polyline_feature('1','2','1','4','4','(0,4,4,0)','(0,0,3,0)')\n"
                      "composite_curve_org_feature('2','1','4','1')\n"
                      "fill_area_style_colour_feature('1','2','1','0','()')")
        << QVector<Entity> {{bare(red), solid}};
    const QByteArray dim = "linear_dim_feature('1','1','1','4','0','5','10','5',"
                           "'1','0','0','0','1','0','6','0','0','0','0','0','0','0',"
                           "'1','1','0','5','1','1','1','10','5','1',"
                           "'1','1','10','5','6','2.5','5','0','0','0','2','1')";
    QTest::newRow("linear dimension: its lines and text")
        << dim
        << QVector<Entity> {{plain, Line {{0, 5}, {10, 5}}},
                            {plain, Line {{0, 1}, {0, 6}}},
                            {plain, [] {
                                 Text t = text(QStringLiteral("10"), {5, 6}, 2.5, 5.0 / 2.5,
                                               QStringLiteral("ＭＳ 明朝"));
                                 t.halign = HAlign::Center;
                                 return t;
                             }()}};
    QTest::newRow("balloon: leader, circle and text")
        << QByteArray("balloon_feature('1','1','1','4','2','(0,5)','(0,5)','7','7','2','1','1',"
                      "'1','2','A','7','7','2','1','0','0','0','5','1')")
        << QVector<Entity> {{plain, Leader {{{0, 0}, {5, 5}}, true}},
                            {plain, Circle {{7, 7}, 2}},
                            {plain, [] {
                                 Text t = text(QStringLiteral("A"), {7, 7}, 2, 1);
                                 t.halign = HAlign::Center;
                                 t.valign = VAlign::Middle;
                                 return t;
                             }()}};
}

void TestSxf::readFeatures()
{
    QFETCH(QByteArray, features);
    QFETCH(QVector<Entity>, expected);
    Model m;
    QVERIFY(readSxf(sfc(features), &m));
    QCOMPARE(m.layers.size(), 2);
    QCOMPARE(m.layers[0].name, QString::fromUtf8(plan));
    QVERIFY(!m.layers[1].on);
    QCOMPARE(m.linetypes.size(), 2);
    QCOMPARE(m.linetypes[1].pattern, (QVector<double> {1, -2}));
    const QVector<Entity> got = effective(m, m.entities);
    QCOMPARE(got.size(), expected.size());
    for (int i = 0; i < got.size(); ++i) {
        QVERIFY2(got[i].style == expected[i].style, qPrintable(QString::number(i)));
        QVERIFY2(got[i].shape == expected[i].shape, qPrintable(QString::number(i)));
    }
}

void TestSxf::writeFeatures_data()
{
    QTest::addColumn<Entity>("entity");
    QTest::addColumn<QByteArray>("feature");

    const Style s = style(plan, red, QStringLiteral("CONTINUOUS"), 0.35);
    QTest::newRow("line") << Entity {s, Line {{0, 0}, {10.5, -5}}}
                          << QByteArray("line_feature('1','2','1','4','0.0','0.0','10.5','-5.0')");
    QTest::newRow("user colour, line type and width")
        << Entity {style(plan, user, QStringLiteral("mine"), 0.3), Circle {{1, 2}, 3}}
        << QByteArray("circle_feature('1','17','16','10','1.0','2.0','3.0')");
    QTest::newRow("arc") << Entity {s, Arc {{0, 0}, 5, 30, 120}}
                         << QByteArray("arc_feature('1','2','1','4','0.0','0.0','5.0','1','30.0',"
                                       "'120.0')");
    QTest::newRow("ellipse") << Entity {s, Ellipse {{0, 0}, {0, 4}, 0.5, 0, 6.283185307179586}}
                             << QByteArray(
                                    "ellipse_feature('1','2','1','4','0.0','0.0','4.0','2.0',"
                                    "'90.0')");
    QTest::newRow("elliptic arc")
        << Entity {s, Ellipse {{1, 1}, {4, 0}, 0.5, 0, 1.5707963267948966}}
        << QByteArray("ellipse_arc_feature('1','2','1','4','1.0','1.0','4.0','2.0','1','0.0','0.0',"
                      "'90.0')");
    Polyline closed;
    closed.vertices = {{{0, 0}}, {{10, 0}}, {{10, 10}}};
    closed.closed = true;
    QTest::newRow("closed polyline")
        << Entity {s, closed}
        << QByteArray("polyline_feature('1','2','1','4','4','(0.0,10.0,10.0,0.0)',"
                      "'(0.0,0.0,10.0,0.0)')");
    Polyline rounded;
    rounded.vertices = {{{0, 0}}, {{10, 0}, -1}, {{10, 10}}};
    QTest::newRow("polyline with a clockwise arc")
        << Entity {s, rounded} << QByteArray("composite_curve_org_feature('2','1','4','0')");
    QTest::newRow("marker") << Entity {s, Marker {{1.5, 2.5}}}
                            << QByteArray(
                                   "point_marker_feature('1','2','1.5','2.5','1','0.0','1.0')");
    Solid quad;
    quad.corners[0] = {0, 0};
    quad.corners[1] = {4, 0};
    quad.corners[2] = {4, 3};
    quad.corners[3] = {0, 3};
    QTest::newRow("solid") << Entity {s, quad}
                           << QByteArray("fill_area_style_colour_feature('1','2','1','0','()')");
    Text t = text(QStringLiteral("図面ソ表 'A'\\"), {10, 20}, 5, 1, QStringLiteral("ＭＳ 明朝"));
    t.halign = HAlign::Right;
    t.valign = VAlign::Top;
    t.rotation = 30;
    QTest::newRow("Japanese text")
        << Entity {s, t}
        << QByteArray(
               "text_string_feature('1','2','1','\x90\x7d\x96\xca\x83\x5c\x95\x5c ''A''\\\\',"
               "'10.0','20.0','5.0','32.5','0.0','30.0','0.0','9','1')");
    Hatch ring;
    ring.solid = true;
    ring.loops = {{{{5, 0}, 1}, {{-5, 0}, 1}}, {{{1, 0}, 1}, {{-1, 0}, 1}}};
    QTest::newRow("filled ring") << Entity {
        s, ring} << QByteArray("fill_area_style_colour_feature('1','2','1','1','(2.0)')");
    Hatch hatched;
    hatched.pattern = QStringLiteral("SXF");
    hatched.loops = {{{{0, 0}}, {{4, 0}}, {{4, 4}}, {{0, 4}}}};
    hatched.patternLines = {{45, {1, 1}, {-1.4142135623730951, 1.4142135623730951}, {}}};
    QTest::newRow("hatching") << Entity {s, hatched}
                              << QByteArray("fill_area_style_hatching_feature('1','1','(2,1,4,1.0,"
                                            "1.0,2.0,45.0)','1','0','()')");
}

// Each shape is written as the feature SXF readers expect and reads back as it was.
void TestSxf::writeFeatures()
{
    QFETCH(Entity, entity);
    QFETCH(QByteArray, feature);
    Model m;
    Layer l;
    l.name = QString::fromUtf8(plan);
    m.layers.append(l);
    m.linetypes.append({QStringLiteral("mine"), {}, {1, -2}});
    m.entities
        = {entity, {style(plan, black, QStringLiteral("dashed"), 0.13), Line {{0, 0}, {1, 1}}}};
    for (bool p21 : {false, true}) {
        const QByteArray bytes = writeSxf(m, p21);
        if (!p21)
            QVERIFY2(bytes.contains(feature), bytes.constData());
        Model back;
        QVERIFY(readSxf(bytes, &back, nullptr, p21));
        QCOMPARE(back.entities.size(), 2);
        // Markers, solids, fills and text state no line type or width; they take the layer's,
        // which the dashed line beside them gives it.
        Style expected = entity.style;
        const Shape &shape = entity.shape;
        if (std::holds_alternative<Marker>(shape) || std::holds_alternative<Solid>(shape)
            || std::holds_alternative<Text>(shape)
            || (std::holds_alternative<Hatch>(shape) && std::get<Hatch>(shape).solid)) {
            expected.linetype = u"dashed"_s;
            expected.lineweight = 0.13;
        }
        QVERIFY(effective(back, back.entities[0].style) == expected);
        QVERIFY(back.entities[0].shape == entity.shape);
    }
}

void TestSxf::symbols()
{
    const QByteArray features = "circle_feature('1','1','1','4','0','0','1')\n"
                                "sfig_org_feature('tree','4')\n"
                                "sfig_locate_feature('1','tree','1','2','0','1','1')\n"
                                "sfig_org_feature('grove','4')\n"
                                "sfig_locate_feature('2','grove','5','6','90','2','3')\n"
                                "drawing_sheet_feature('s','9','1','100','100')";
    Model m;
    QVERIFY(readSxf(sfc(features), &m));
    QCOMPARE(m.blocks.size(), 2);
    QVERIFY(std::holds_alternative<Circle>(m.blocks[0].entities.value(0).shape));
    QCOMPARE(std::get<Insert>(m.blocks[1].entities.value(0).shape).block, QStringLiteral("tree"));
    QCOMPARE(m.entities.size(), 1);
    const Insert in = std::get<Insert>(m.entities[0].shape);
    QCOMPARE(in.block, QStringLiteral("grove"));
    QCOMPARE(m.entities[0].style.layer, QStringLiteral("hidden"));
    QVERIFY(in.position == (Point {5, 6}) && in.rotation == 90 && in.scaleX == 2 && in.scaleY == 3);

    // Written back, the symbols come before what places them, and read back the same.
    Model back;
    QVERIFY(readSxf(writeSxf(m, false), &back));
    QVERIFY(back.blocks == m.blocks);
    QVERIFY(back.entities == m.entities);
}

// What SXF cannot hold is refused with the reason rather than written wrong or without end.
void TestSxf::refusedWrites()
{
    Model m = sampleModel();
    Insert &in = std::get<Insert>(m.entities[4].shape);
    in.rows = in.columns = 1000;
    Model cyclic = sampleModel();
    Insert self;
    self.block = u"樹木"_s;
    cyclic.blocks[0].entities.append({style("外構", {}, {}, -1), self});
    Model missing = sampleModel();
    std::get<Insert>(missing.entities[4].shape).block = u"none"_s;
    for (const auto &[model, reason] :
         {std::pair {m, u"array"_s}, std::pair {cyclic, u"includes itself"_s},
          std::pair {missing, u"does not define"_s}}) {
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        QString error;
        QVERIFY(!SxfWriter(SxfWriter::Form::Sfc).write(model, {}, out, &error));
        QVERIFY2(error.contains(reason), qPrintable(error));
    }
}

// Shapes of one layer that agree on colour, line type and width give them to the layer; when
// they differ, each keeps its own.
void TestSxf::byLayer()
{
    Model m;
    QVERIFY(readSxf(sfc("line_feature('1','2','1','4','0','0','1','1')\n"
                        "line_feature('1','17','1','4','0','0','2','2')"),
                    &m));
    QCOMPARE(m.layers[0].linetype, QStringLiteral("CONTINUOUS"));
    QCOMPARE(m.layers[0].lineweight, 0.35);
    QVERIFY(m.entities[0].style.color == red);
    QVERIFY(m.entities[1].style.color == user);
    QVERIFY(m.entities[0].style.linetype.isEmpty() && m.entities[0].style.lineweight == -1);
}

// The site plan through SFC, P21 (which keeps no raw Shift-JIS), SFC again and DXF comes back
// the same, with the shapes, colours (black as black, not DXF's white) and layers of the model
// first written.
void TestSxf::roundTrips()
{
    const Model first = sampleModel();
    Model fromSfc, fromP21, again;
    QVERIFY(readSxf(writeSxf(first, false), &fromSfc));
    const QByteArray p21 = writeSxf(fromSfc, true);
    QVERIFY(!p21.contains("\x90\x7d"));
    QVERIFY(readSxf(p21, &fromP21, nullptr, true));
    QVERIFY(fromP21 == fromSfc);
    QVERIFY(readSxf(writeSxf(viaDxf(fromP21), false), &again));
    QVERIFY(again == fromSfc);
    QCOMPARE(again.entities.size(), first.entities.size());
    for (int i = 0; i < first.entities.size(); ++i) {
        QVERIFY2(again.entities[i].shape == first.entities[i].shape,
                 qPrintable(QString::number(i)));
        QVERIFY(effective(again, again.entities[i].style).color
                == effective(first, first.entities[i].style).color);
    }
    for (int i = 0; i < first.layers.size(); ++i)
        QVERIFY(again.layers[i] == first.layers[i]);
}

void TestSxf::sheets_data()
{
    QTest::addColumn<QByteArray>("declared"); // type, orientation, width, height
    QTest::addColumn<Point>("size"); // 0 × 0: no sheet
    QTest::addColumn<bool>("layout"); // its viewport made a DXF layout's, smaller and at 1:2
    QTest::addColumn<QByteArray>("written");
    const auto row = [](const char *declared, Point size, const char *written,
                        bool layout = false) {
        QTest::newRow(declared) << QByteArray(declared) << size << layout << QByteArray(written);
    };
    row("'0','0','0','0'", {841, 1189}, "'0','0','841','1189'");
    row("'1','1','0','0'", {841, 594}, "'1','1','841','594'");
    row("'2','1','594','420'", {594, 420}, "'2','1','594','420'");
    row("'4','0','0','0'", {210, 297}, "'4','0','210','297'");
    row("'9','0','500','300'", {500, 300}, "'9','1','500','300'");
    row("'9','1','300','500'", {300, 500}, "'9','0','300','500'");
    row("'9','1','420','297'", {420, 297}, "'3','1','420','297'");
    row("'7','1','0','0'", {0, 0}, "'9','1','1','1'");
    row("'3','1','0','0'", {420, 297}, "'3','1','420','297'", true);
}

// The declared sheet holds the shapes at full size, and is declared again when written; a
// layout's paper is declared while its shapes, which no part figure can clip, stay as they are.
void TestSxf::sheets()
{
    QFETCH(QByteArray, declared);
    QFETCH(Point, size);
    QFETCH(bool, layout);
    QFETCH(QByteArray, written);
    Model m;
    QVERIFY(readSxf(sfc("line_feature('1','2','1','4','0','0','1','1')\n"
                        "drawing_sheet_feature('a',"
                        + declared + ')'),
                    &m));
    QCOMPARE(m.sheets.size(), size.x > 0 ? 1 : 0);
    if (size.x > 0) {
        const Viewport v = m.sheets[0].viewports.value(0);
        QVERIFY(m.sheets[0].width == size.x && m.sheets[0].height == size.y);
        QVERIFY(v.center == (Point {size.x / 2, size.y / 2}) && v.viewCenter == v.center);
        QVERIFY(v.width == size.x && v.height == size.y && v.scale == 1);
        m.sheets[0].viewports[0].scale = layout ? 0.5 : 1;
        m.sheets[0].viewports[0].width /= layout ? 2 : 1;
    }
    const QByteArray back = writeSxf(m, false, {u"a"_s, {}, {}});
    QVERIFY2(back.contains("drawing_sheet_feature('a'," + written + ')'), back.constData());
    Model again;
    QVERIFY(readSxf(back, &again));
    QVERIFY(again.entities == m.entities);
    QVERIFY(again.sheets == m.sheets || layout || size.x == 0);
}

void TestSxf::strings_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("Japanese with 0x5c trail bytes") << QStringLiteral("ソ表能十");
    QTest::newRow("quotes and backslashes") << QStringLiteral("It's C:\\dir\\");
    QTest::newRow("comment end and tab") << QStringLiteral("a*/b\tc");
    QTest::newRow("outside Shift-JIS") << QStringLiteral("é € 😀");
    QTest::newRow("empty") << QString();
}

// Every string survives both spellings, whatever it holds.
void TestSxf::strings()
{
    QFETCH(QString, text);
    Model m;
    Layer l;
    l.name = text.isEmpty() ? u"0"_s : text;
    m.layers.append(l);
    m.entities.append({style(qPrintable(l.name), red, {}, 0.35), ::text(text, {0, 0}, 2.5, 1)});
    for (bool p21 : {false, true}) {
        Model back;
        const QByteArray bytes = writeSxf(m, p21);
        QVERIFY(readSxf(bytes, &back, nullptr, p21));
        QCOMPARE(back.layers.value(0).name, l.name);
        QCOMPARE(std::get<Text>(back.entities.value(0).shape).text, text);
    }
    QCOMPARE(SxfFile::decodeString("\\X2\\5E73976256F3\\X0\\ \\X\\E9 C:\\dir"),
             QStringLiteral("平面図 é C:\\dir"));
}

void TestSxf::malformed_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("reason");
    const QByteArray good = sfc("line_feature('1','2','1','4','0','0','1','1')\n"
                                "text_string_feature('1','2','1','abc','0','0','2','3','0','0','0',"
                                "'1','1')");
    QTest::newRow("empty") << QByteArray() << u"not an ISO 10303-21"_s;
    static const char random[] = "\x13\x88\xfe garbage \x00\x01";
    QTest::newRow("random") << QByteArray(random, sizeof random - 1) << u"not an ISO 10303-21"_s;
    QTest::newRow("cut in the header") << good.left(good.indexOf("ENDSEC")) << u"HEADER"_s;
    QTest::newRow("cut in a feature") << good.left(good.indexOf("abc") + 2) << u"never ends"_s;
    QTest::newRow("cut after the data") << good.left(good.size() - 10) << u"truncated"_s;
    QTest::newRow("endless comment")
        << sfc("").replace("ENDSEC;\nEND", "/* open") << u"never ends"_s;
    QTest::newRow("absurd point count")
        << sfc("polyline_feature('1','1','1','4','900000000','(0,1)','(0,1)')")
        << u"declares 900000000 points"_s;
    QTest::newRow("undefined layer")
        << sfc("line_feature('9','1','1','4','0','0','1','1')") << u"layer 9"_s;
    QTest::newRow("undefined colour")
        << sfc("line_feature('1','40','1','4','0','0','1','1')") << u"colour 40"_s;
    QTest::newRow("parameter missing")
        << sfc("circle_feature('1','1','1','4','0','0')") << u"6 parameters instead of 7"_s;
    QTest::newRow("not a number") << sfc("circle_feature('1','1','1','4','0','x','1')")
                                  << u"parameter 6"_s;
    QTest::newRow("symbol placed before it is defined")
        << sfc("sfig_locate_feature('1','a','0','0','0','1','1')") << u"not defined before it"_s;
    QTest::newRow("symbol defined twice, then placing itself")
        << sfc("point_marker_feature('1','1','0','0','1','0','1')\nsfig_org_feature('a','4')\n"
               "sfig_locate_feature('1','a','0','0','0','1','1')\nsfig_org_feature('a','4')")
        << u"twice"_s;
    QTest::newRow("fill of no outline")
        << sfc("fill_area_style_colour_feature('1','1','3','0','()')") << u"composite curve"_s;
    QTest::newRow("lists nested deep")
        << sfc("line_feature(" + QByteArray(100000, '(')) << u"nest too deep"_s;
    QTest::newRow("feature comment unclosed")
        << sfc("line_feature('1','1','1','4','0','0','1','1') no end") << u"malformed"_s;
    QString ap202 = QString::fromLatin1(sfc(""));
    ap202.replace(u"DATA;\n"_s, u"DATA;\n#1=CARTESIAN_POINT('',(0.,0.));\n"_s);
    ap202.remove(QRegularExpression(u"/\\*SXF.*?SXF\\*/\n"_s,
                                    QRegularExpression::DotMatchesEverythingOption));
    QTest::newRow("AP202 entity form") << ap202.toLatin1() << u"AP202 entity form"_s;
}

void TestSxf::malformed()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reason);
    for (bool p21 : {false, true}) {
        Model m;
        QString error;
        QVERIFY(!readSxf(bytes, &m, &error, p21));
        QVERIFY2(error.contains(reason), qPrintable(error));
    }
}

// A real DXF through SFC keeps every shape, layer, colour and text.
void TestSxf::dxfThroughSfc()
{
    Model dxf;
    QString error;
    QVERIFY2(DxfReader().read(readFile(QStringLiteral(NORVALE_SOURCE_DIR "/samples/site.dxf")), dxf,
                              &error),
             qPrintable(error));
    const Model viaSfc = viaDxf([&] {
        Model m;
        readSxf(writeSxf(dxf, false), &m);
        return m;
    }());
    for (const Layer &l : dxf.layers)
        QVERIFY2(viaSfc.layer(l.name), qPrintable(l.name));
    // SXF has no multi-line text, attributes or insert arrays: a paragraph comes back as one
    // text per line, an insert's attributes as plain texts after it. Everything else comes back one
    // for one.
    int j = 0;
    auto expectText = [&](const QString &text, const Entity &from) {
        QVERIFY(j < viaSfc.entities.size());
        const auto *t = std::get_if<Text>(&viaSfc.entities[j].shape);
        QVERIFY2(t, qPrintable(text));
        QCOMPARE(t->text, text);
        QCOMPARE(effective(viaSfc, viaSfc.entities[j].style).color.rgb,
                 effective(dxf, from.style).color.rgb);
        ++j;
    };
    for (const Entity &e : std::as_const(dxf.entities)) {
        const auto *t = std::get_if<Text>(&e.shape);
        if (t && t->multiline) {
            for (const QString &line : t->text.split(u'\n'))
                expectText(line, e);
            continue;
        }
        if (t) {
            expectText(t->text, e);
            continue;
        }
        // An array of inserts comes back as one insert per cell.
        const auto *insert = std::get_if<Insert>(&e.shape);
        for (int cell = insert ? insert->rows * insert->columns : 1; cell > 0; --cell) {
            QVERIFY(j < viaSfc.entities.size());
            QCOMPARE(viaSfc.entities[j].shape.index(), e.shape.index());
            QCOMPARE(effective(viaSfc, viaSfc.entities[j].style).color.rgb,
                     effective(dxf, e.style).color.rgb);
            ++j;
        }
        if (insert) {
            for (const Text &attribute : insert->attributes)
                expectText(attribute.text, e);
        }
    }
    QCOMPARE(j, viaSfc.entities.size());
}

void TestSxf::samples_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("author"); // as the header spells it
    QTest::newRow("SFC: Shift-JIS")
        << u"plan.sfc"_s << QByteArray("('\x8e\x52\x93\x63\x91\xbe\x98\x59')");
    QTest::newRow("P21: UCS-2") << u"plan.p21"_s << QByteArray("('\\X2\\5C717530592A90CE\\X0\\')");
}

// The samples are what the writers make of the site plan today (NORVALE_WRITE_SAMPLES=1 writes
// them again); they read back with the author data in the header.
void TestSxf::samples()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, author);
    const QString path = QStringLiteral(NORVALE_SOURCE_DIR "/samples/") + name;
    const bool p21 = name.endsWith(u".p21"_s);
    const SaveInfo info {u"plan"_s, u"山田太郎"_s, u"ノルヴェール設計事務所"_s};
    qputenv("SOURCE_DATE_EPOCH", "1796601600");
    const QByteArray made = writeSxf(sampleModel(), p21, info);
    qunsetenv("SOURCE_DATE_EPOCH");
    if (qEnvironmentVariableIsSet("NORVALE_WRITE_SAMPLES"))
        QVERIFY(writeFile(path, made));
    QCOMPARE(readFile(path), made);
    QVERIFY2(made.contains("FILE_NAME(") && made.contains(author), made.left(400).constData());

    SxfReader reader(p21 ? SxfReader::Form::P21 : SxfReader::Form::Sfc);
    Model m;
    QString error;
    QVERIFY2(reader.read(made, m, &error), qPrintable(error));
    QCOMPARE(m.entities.size(), sampleModel().entities.size());
    QCOMPARE(reader.fileName().authorName, info.authorName);
    QCOMPARE(reader.fileName().affiliation, info.affiliation);
    QCOMPARE(reader.fileName().title, name);
}

NORVALE_TEST_MAIN(TestSxf)
#include "tst_sxf.moc"
