#include "tests/TestEnvironment.h"

#include "server/dxf/DxfReader.h"
#include "server/paint/DrawingRenderer.h"
#include "server/paint/EmfWriter.h"
#include "server/paint/HtmWriter.h"
#include "server/paint/PdfWriter.h"
#include "server/paint/SvgWriter.h"

#include <QImage>
#include <QPainter>

#include <cstring>

using namespace TestEnvironment;
using namespace Drawing;
using namespace Qt::Literals::StringLiterals;

Q_DECLARE_METATYPE(Drawing::Model)
Q_DECLARE_METATYPE(PlotSettings)

namespace {

Entity entity(Shape shape, const QString &layer = u"0"_s)
{
    Entity e;
    e.style.layer = layer;
    e.shape = std::move(shape);
    return e;
}

// A 100 × 50 mm drawing: lines along its bottom and top edges, a solid square at the right, a
// Japanese name in the middle and a line on a layer that is off across the left quarter. Its page
// is 120 × 70 mm at 1:1, the drawing 10 mm from every edge.
Model testModel()
{
    Model m;
    Layer off {u"OFF"_s, Color::fromRgb(0xff0000)};
    off.on = false;
    m.layers << Layer {u"0"_s} << off;
    m.entities << entity(Line {{0, 0}, {100, 0}}) << entity(Line {{0, 50}, {100, 50}});
    m.entities << entity(Line {{10, 25}, {30, 25}}, u"OFF"_s);
    Hatch square;
    square.solid = true;
    square.loops << QVector<Vertex> {Vertex {{80, 10}}, Vertex {{95, 10}}, Vertex {{95, 20}},
                                     Vertex {{80, 20}}};
    m.entities << entity(square);
    Text name;
    name.text = u"居間 Living"_s;
    name.position = {50, 35};
    name.height = 5;
    name.halign = HAlign::Center;
    m.entities << entity(name);
    return m;
}

Insert insert(const QString &block, Point position = {})
{
    Insert i;
    i.block = block;
    i.position = position;
    return i;
}

QByteArray written(const QString &format, const Model &model, const SaveInfo &info,
                   QString *error = nullptr, const PlotSettings &plot = {})
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QString message;
    std::unique_ptr<DrawingWriter> writer;
    if (format == "PDF"_L1)
        writer = std::make_unique<PdfWriter>(plot);
    else if (format == "SVG"_L1)
        writer = std::make_unique<SvgWriter>(plot);
    else if (format == "HTM"_L1)
        writer = std::make_unique<HtmWriter>(plot);
    else if (format == "EMF"_L1)
        writer = std::make_unique<EmfWriter>(plot);
    if (!writer || !writer->write(model, info, buffer, &message)) {
        if (error)
            *error = message;
        return {};
    }
    return buffer.data();
}

QString run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
        return {};
    return QString::fromUtf8(process.readAllStandardOutput());
}

// One EMF record: its type and body (after the type and size fields).
struct Record
{
    quint32 type;
    QByteArray body;
};

// A little-endian field; 0 past the end, so that a short record fails a check, not the test.
// Not inlined: GCC's bounds warning would take the empty array's one byte for every array.
Q_NEVER_INLINE quint32 u32(const QByteArray &b, int at)
{
    if (at < 0 || at + 4 > b.size())
        return 0;
    quint32 v = 0;
    std::memcpy(&v, b.constData() + at, 4);
    return qFromLittleEndian(v);
}

// Splits a metafile into records, checking the framing every reader relies on.
QVector<Record> records(const QByteArray &emf, QString *fault)
{
    QVector<Record> out;
    for (int at = 0; at < emf.size();) {
        if (at + 8 > emf.size()) {
            *fault = u"truncated record at %1"_s.arg(at);
            return out;
        }
        const quint32 size = u32(emf, at + 4);
        if (size < 8 || size % 4 || at + qint64(size) > emf.size()) {
            *fault = u"bad size %1 at %2"_s.arg(size).arg(at);
            return out;
        }
        out.append({u32(emf, at), emf.mid(at + 8, int(size) - 8)});
        at += int(size);
    }
    return out;
}

QString utf16(const QByteArray &bytes)
{
    return QString(reinterpret_cast<const QChar *>(bytes.constData()), bytes.size() / 2);
}

// Where a picture has ink (clearly darker than its white paper), white where it has none.
QImage ink(const QImage &image, QRect *box)
{
    const QImage picture = image.convertToFormat(QImage::Format_RGB32);
    QImage mask(picture.size(), QImage::Format_Grayscale8);
    mask.fill(255);
    *box = QRect();
    for (int y = 0; y < picture.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(picture.constScanLine(y));
        for (int x = 0; x < picture.width(); ++x) {
            if (qGray(line[x]) < 200) {
                mask.setPixel(x, y, 0);
                *box |= QRect(x, y, 1, 1);
            }
        }
    }
    return mask;
}

// The share of a's ink that lies within `reach` pixels of b's ink: b dilated, for line weights.
double covered(const QImage &a, const QImage &b, int reach)
{
    int inside = 0, total = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            if (qGray(a.pixel(x, y)) >= 128)
                continue;
            ++total;
            bool near = false;
            for (int dy = -reach; dy <= reach && !near; ++dy) {
                for (int dx = -reach; dx <= reach && !near; ++dx) {
                    const QPoint p(x + dx, y + dy);
                    near = b.valid(p) && qGray(b.pixel(p)) < 128;
                }
            }
            inside += near;
        }
    }
    return total ? double(inside) / total : 0;
}

} // namespace

class TestPaint : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void metadata_data();
    void metadata();
    void page_data();
    void page();
    void ink_data();
    void ink();
    void pdfUpdateIsWellFormed();
    void emfRecords();
    void plotted_data();
    void plotted();
    void hostileDrawings_data();
    void hostileDrawings();
    void features_data();
    void features();
    void sheets_data();
    void sheets();

private:
    QTemporaryDir m_dir;
    QString m_features; // the feature drawings and ezdxf's pictures of them, made once
};

void TestPaint::metadata_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("author");
    QTest::addColumn<QString>("affiliation");
    for (const QString &format : {u"PDF"_s, u"SVG"_s, u"HTM"_s, u"EMF"_s}) {
        const QByteArray f = format.toLatin1();
        QTest::newRow(f + " Japanese")
            << format << u"平面図 1"_s << u"山田 太郎"_s << u"株式会社ノルヴェール 設計部"_s;
        QTest::newRow(f + " markup")
            << format << u"R&D <plan>"_s << u"O'Brien & \"Co\""_s << u"A<B>C"_s;
        QTest::newRow(f + " unset") << format << u"site"_s << QString() << QString();
    }
}

// What the automation client set reaches the place each format keeps it, and nothing when unset.
void TestPaint::metadata()
{
    QFETCH(QString, format);
    QFETCH(QString, title);
    QFETCH(QString, author);
    QFETCH(QString, affiliation);
    const QByteArray bytes = written(format, testModel(), {title, author, affiliation});
    QVERIFY(!bytes.isEmpty());

    QString gotTitle, gotAuthor, gotAffiliation;
    if (format == u"PDF") {
        if (QStandardPaths::findExecutable(u"pdfinfo"_s).isEmpty())
            QSKIP("pdfinfo (poppler-utils) is not installed");
        const QString path = m_dir.filePath(u"meta.pdf"_s);
        QVERIFY(writeFile(path, bytes));
        const QString info = run(u"pdfinfo"_s, {u"-enc"_s, u"UTF-8"_s, path});
        QVERIFY(!info.isEmpty());
        for (const QString &line : info.split(u'\n')) {
            const QString value = line.section(u':', 1).trimmed();
            if (line.startsWith(u"Title:"))
                gotTitle = value;
            else if (line.startsWith(u"Author:"))
                gotAuthor = value;
            else if (line.startsWith(u"Subject:"))
                gotAffiliation = value;
        }
    } else if (format == u"SVG" || format == u"HTM") {
        QString svg = QString::fromUtf8(bytes);
        if (format == u"HTM") {
            // The page's own head, then its inline SVG read as XML like the SVG file.
            const QString head = svg.left(svg.indexOf(u"<svg"_s));
            QVERIFY(head.contains(u"<meta charset=\"utf-8\">"_s));
            QVERIFY(head.contains(u"<title>"_s + title.toHtmlEscaped() + u"</title>"_s));
            QCOMPARE(head.contains(u"<meta name=\"author\""_s), !author.isEmpty());
            if (!author.isEmpty())
                QVERIFY(head.contains(u"<meta name=\"author\" content=\""_s
                                      + author.toHtmlEscaped().replace(u'\'', u"&#39;"_s)
                                      + u"\">"_s));
            svg = svg.mid(svg.indexOf(u"<svg"_s));
            svg = svg.left(svg.indexOf(u"</svg>"_s) + 6);
        }
        QXmlStreamReader xml(svg);
        int titles = 0;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement)
                continue;
            if (xml.qualifiedName() == u"title") {
                ++titles;
                gotTitle = xml.readElementText();
            } else if (xml.qualifiedName() == u"dc:creator") {
                gotAuthor = xml.readElementText();
            } else if (xml.qualifiedName() == u"dc:publisher") {
                gotAffiliation = xml.readElementText();
            }
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        QCOMPARE(titles, 1);
    } else {
        QString fault;
        const QVector<Record> list = records(bytes, &fault);
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
        const QByteArray &header = list.first().body;
        const QStringList description = utf16(header.mid(100)).split(QChar(0));
        QCOMPARE(description.value(1), title);
        for (const Record &r : list) {
            if (r.type != 70) // EMR_COMMENT
                continue;
            const QString text = QString::fromUtf8(r.body.mid(4, int(u32(r.body, 0))));
            QVERIFY(text.startsWith(u"NorvaleInfo\n"_s));
            for (const QString &line : text.split(u'\n')) {
                if (line.startsWith(u"Author="))
                    gotAuthor = line.mid(7);
                else if (line.startsWith(u"Affiliation="))
                    gotAffiliation = line.mid(12);
            }
        }
        gotTitle = description.value(1);
    }
    QCOMPARE(gotTitle, title);
    QCOMPARE(gotAuthor, author);
    QCOMPARE(gotAffiliation, affiliation);
}

void TestPaint::page_data()
{
    QTest::addColumn<Model>("model");
    QTest::addColumn<double>("scale");
    QTest::addColumn<QRectF>("extents");
    QTest::addColumn<QSizeF>("paper");
    const auto lines = [](double w, double h) {
        Model m;
        m.entities << entity(Line {{0, 0}, {w, h}});
        return m;
    };
    QTest::newRow("just fits at 1:1")
        << lines(1169, 10) << 1.0 << QRectF(0, 0, 1169, 10) << QSizeF(1189, 30);
    QTest::newRow("flat at 1:10") << lines(10800, 7200) << 0.1 << QRectF(0, 0, 10800, 7200)
                                  << QSizeF(1100, 740);
    QTest::newRow("3 m at 1:5") << lines(10, 3000) << 0.2 << QRectF(0, 0, 10, 3000)
                                << QSizeF(22, 620);
    QTest::newRow("site at 1:50") << lines(42000, 100) << 0.02 << QRectF(0, 0, 42000, 100)
                                  << QSizeF(860, 22);
    QTest::newRow("empty: A4") << Model() << 1.0 << QRectF() << QSizeF(210, 297);
    Model hidden = lines(100, 100);
    hidden.layers << Layer {u"0"_s};
    hidden.layers.last().on = false;
    QTest::newRow("all hidden: A4") << hidden << 1.0 << QRectF() << QSizeF(210, 297);
    // Left-aligned text starts at its position and its capitals are as high as it says; the
    // descent below the baseline stays above the line.
    Model text = lines(100, 0);
    Text t;
    t.text = u"ABC"_s;
    t.position = {0, 10};
    t.height = 10;
    text.entities << entity(t);
    QTest::newRow("text left") << text << 1.0 << QRectF(0, 0, 100, 20) << QSizeF(120, 40);
}

// The page is the extents plus 10 mm, at the largest of 1:1, 1:2, 1:5, 1:10, ... that fits A0.
void TestPaint::page()
{
    QFETCH(Model, model);
    QFETCH(double, scale);
    QFETCH(QRectF, extents);
    QFETCH(QSizeF, paper);
    DrawingRenderer renderer(model);
    QVERIFY(renderer.check(nullptr));
    QCOMPARE(renderer.scale(), scale);
    QCOMPARE(renderer.extents(), extents);
    QCOMPARE(renderer.paperSize(), paper);
}

void TestPaint::ink_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QPointF>("world");
    QTest::addColumn<bool>("ink");
    for (const QString &format : {u"PDF"_s, u"SVG"_s}) {
        const QByteArray f = format.toLatin1();
        QTest::newRow(f + " bottom line") << format << QPointF(50, 0) << true;
        QTest::newRow(f + " solid hatch") << format << QPointF(87, 15) << true;
        QTest::newRow(f + " empty middle") << format << QPointF(50, 15) << false;
        QTest::newRow(f + " layer off") << format << QPointF(20, 25) << false;
    }
}

// Rasterised at 10 pixels per millimetre by the usual tools: ink where the drawing has lines
// and fills, none where it has none or only hidden ones.
void TestPaint::ink()
{
    QFETCH(QString, format);
    QFETCH(QPointF, world);
    QFETCH(bool, ink);
    const QString tool = format == u"PDF" ? u"pdftoppm"_s : u"rsvg-convert"_s;
    if (QStandardPaths::findExecutable(tool).isEmpty())
        QSKIP("the rasteriser is not installed");
    const QString source = m_dir.filePath(u"ink."_s + format.toLower());
    const QString png = m_dir.filePath(u"ink-"_s + format.toLower());
    QVERIFY(writeFile(source, written(format, testModel(), {u"ink"_s, {}, {}})));
    if (format == u"PDF")
        run(tool, {u"-r"_s, u"254"_s, u"-png"_s, u"-singlefile"_s, source, png});
    else
        run(tool, {u"-w"_s, u"1200"_s, u"-b"_s, u"white"_s, source, u"-o"_s, png + u".png"_s});
    const QImage image(png + u".png"_s);
    // Page sizes are whole points in PDF: a pixel either way.
    QVERIFY(std::abs(image.width() - 1200) <= 1 && std::abs(image.height() - 700) <= 1);
    // Paper: x = 10 + world x, y = 10 + 50 − world y (millimetres).
    const QPoint at(qRound((10 + world.x()) * 10), qRound((60 - world.y()) * 10));
    int darkest = 255;
    for (int dy = -3; dy <= 3; ++dy) {
        for (int dx = -3; dx <= 3; ++dx)
            darkest = std::min(darkest, qGray(image.pixel(at + QPoint(dx, dy))));
    }
    QCOMPARE(darkest < 128, ink);
}

// The author and the scale arrive by an incremental update of Qt's file, which strict readers
// must accept.
void TestPaint::pdfUpdateIsWellFormed()
{
    const QByteArray updated = written(u"PDF"_s, testModel(), {u"t"_s, u"著者"_s, u"所属"_s});
    // Qt's own document ends at its first end-of-file mark; the update follows it.
    const QByteArray plain = updated.left(updated.indexOf("%%EOF\n") + 6);
    QVERIFY(plain.size() > 6 && plain.size() < updated.size());
    QVERIFY(updated.mid(plain.size()).contains("/Author <FEFF84578005>"));
    QVERIFY(updated.mid(plain.size()).contains("/NorvaleScale (1:"));
    const QString path = m_dir.filePath(u"update.pdf"_s);
    QVERIFY(writeFile(path, updated));
    QProcess qpdf;
    qpdf.start(u"qpdf"_s, {u"--check"_s, path});
    if (!qpdf.waitForStarted())
        QSKIP("qpdf is not installed");
    QVERIFY(qpdf.waitForFinished(30000));
    QVERIFY2(qpdf.exitCode() == 0, qpdf.readAllStandardOutput().constData());
}

// The metafile's framing, header counts and handles are consistent, the page is its frame, the
// bottom line lands where the page puts it, and the Japanese name is there as UTF-16 text.
void TestPaint::emfRecords()
{
    const QByteArray emf = written(u"EMF"_s, testModel(), {u"図"_s, {}, {}});
    QString fault;
    const QVector<Record> list = records(emf, &fault);
    QVERIFY2(fault.isEmpty(), qPrintable(fault));
    QVERIFY(list.size() > 3);
    const QByteArray &header = list.first().body;
    QCOMPARE(list.first().type, 1u);
    QCOMPARE(u32(header, 32), 0x464D4520u);
    QCOMPARE(u32(header, 40), quint32(emf.size()));
    QCOMPARE(u32(header, 44), quint32(list.size()));
    QCOMPARE(qint32(u32(header, 24)), 12000 - 1); // frame right: 120 mm in 0.01 mm
    QCOMPARE(qint32(u32(header, 28)), 7000 - 1);
    QCOMPARE(list.last().type, 14u);
    const quint32 handles = u32(header, 48) & 0xffff;

    QSet<quint32> live;
    bool bottomLine = false, hiddenLine = false, fill = false;
    QString text;
    for (const Record &r : list) {
        switch (r.type) {
        case 95: // EMR_EXTCREATEPEN
        case 39: // EMR_CREATEBRUSHINDIRECT
        case 82: // EMR_EXTCREATEFONTINDIRECTW
            QVERIFY(u32(r.body, 0) > 0 && u32(r.body, 0) < handles);
            QVERIFY(!live.contains(u32(r.body, 0)));
            live.insert(u32(r.body, 0));
            break;
        case 37: // EMR_SELECTOBJECT: a live handle or a stock object
            QVERIFY(live.contains(u32(r.body, 0)) || (u32(r.body, 0) & 0x80000000));
            break;
        case 40: // EMR_DELETEOBJECT
            QVERIFY(live.remove(u32(r.body, 0)));
            break;
        case 4: { // EMR_POLYLINE: bounds, count, points
            const int count = int(u32(r.body, 16));
            QCOMPARE(r.body.size(), 20 + 8 * count);
            const auto y = [&](int i) {
                return qint32(u32(r.body, 20 + 8 * i + 4));
            };
            if (count == 2 && y(0) == 6000 && y(1) == 6000)
                bottomLine = true;
            if (count == 2 && y(0) == 3500)
                hiddenLine = true;
            break;
        }
        case 8: // EMR_POLYPOLYGON
        case 62: // EMR_FILLPATH
            fill = true;
            break;
        case 84: { // EMR_EXTTEXTOUTW: string at offString, counted in UTF-16 units
            const int chars = int(u32(r.body, 36));
            const int at = int(u32(r.body, 40)) - 8;
            text += utf16(r.body.mid(at, chars * 2));
            break;
        }
        default:
            break;
        }
    }
    QVERIFY(live.isEmpty());
    QVERIFY(bottomLine);
    QVERIFY(!hiddenLine);
    QVERIFY(fill);
    QCOMPARE(text.remove(u' '), u"居間Living"_s);
}

// Drawings no one draws but a damaged file may hold: shapes without end, and blocks that
// include themselves, double at every level, repeat a billion times (empty ones too) or nest too
// deep behind a block first placed near the top.
void TestPaint::plotted_data()
{
    QTest::addColumn<PlotSettings>("plot");
    QTest::addColumn<QPointF>("world");
    QTest::addColumn<QColor>("ink"); // the darkest within 0.3 mm of the point
    QTest::addColumn<double>("width"); // millimetres of the line through it, 0 unmeasured
    PlotSettings grey, mono, byColor;
    grey.colors = PlotSettings::Colors::Grayscale;
    mono.colors = PlotSettings::Colors::Monochrome;
    byColor.weights = PlotSettings::Weights::ByColor;
    byColor.weightByColor = {{1, 2.0}, {7, 0.5}};
    const QPointF yellow(75, 45), whiteArea(22, 22);
    QTest::newRow("colour: yellow") << PlotSettings() << yellow << QColor(Qt::yellow) << 0.0;
    QTest::newRow("colour: white area") << PlotSettings() << whiteArea << QColor(Qt::black) << 0.0;
    QTest::newRow("grayscale: yellow") << grey << yellow << QColor(226, 226, 226) << 0.0;
    QTest::newRow("grayscale: white area") << grey << whiteArea << QColor(Qt::black) << 0.0;
    QTest::newRow("monochrome: yellow") << mono << yellow << QColor(Qt::black) << 0.25;
    QTest::newRow("monochrome: white area") << mono << whiteArea << QColor(Qt::white) << 0.0;
    QTest::newRow("weights: 1") << byColor << QPointF(75, 50) << QColor(Qt::red) << 2.0;
    QTest::newRow("weights: 7") << byColor << QPointF(75, 0) << QColor(Qt::black) << 0.5;
    QTest::newRow("weights: true colour, the nearest's")
        << byColor << QPointF(75, 25) << QColor(0xf00404) << 2.0;
    QTest::newRow("weights: 2 not listed") << byColor << yellow << QColor(Qt::yellow) << 0.25;
}

// Submission prints: light colours black in monochrome while white areas still mask, colours as
// their luminance in grayscale, and line weights by colour number, true colours by the nearest.
void TestPaint::plotted()
{
    QFETCH(PlotSettings, plot);
    QFETCH(QPointF, world);
    QFETCH(QColor, ink);
    QFETCH(double, width);
    Model m;
    m.layers << Layer {u"0"_s};
    const auto add = [&](Shape shape, Color color) {
        m.entities << entity(std::move(shape));
        m.entities.last().style.color = color;
    };
    add(Line {{0, 0}, {100, 0}}, Color::fromRgb(0xffffff, 7));
    add(Line {{0, 50}, {100, 50}}, Color::fromRgb(0xff0000, 1));
    add(Line {{50, 45}, {100, 45}}, Color::fromRgb(0xffff00, 2));
    add(Line {{50, 25}, {100, 25}}, Color::fromRgb(0xf00404));
    add(Solid {{{5, 5}, {40, 5}, {40, 40}, {5, 40}}}, Color::fromRgb(0));
    add(Solid {{{15, 15}, {30, 15}, {30, 30}, {15, 30}}}, Color::fromRgb(0xffffff, 7));
    DrawingRenderer renderer(m, plot);
    QVERIFY(renderer.check(nullptr));
    QImage image((renderer.paperSize() * 10).toSize(), QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.scale(10, 10);
    renderer.paint(painter);
    const QPoint at
        = (renderer.paperFromWorld() * QTransform::fromScale(10, 10)).map(world).toPoint();
    QRgb darkest = qRgb(255, 255, 255);
    for (int d = 0; d < 49; ++d) {
        const QRgb c = image.pixel(at + QPoint(d % 7 - 3, d / 7 - 3));
        darkest = qGray(c) < qGray(darkest) ? c : darkest;
    }
    QCOMPARE(QColor(darkest), ink);
    int inked = 0; // pixels of the column through the point, 3 mm either way
    for (int dy = -30; dy <= 30; ++dy)
        inked += image.pixel(at + QPoint(0, dy)) != qRgb(255, 255, 255);
    QVERIFY2(width == 0 || std::abs(inked / 10.0 - width) <= 0.2,
             qPrintable(QString::number(inked)));
}

void TestPaint::hostileDrawings_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("refusal"); // what the error names; empty when the writer copes
    const char *const kinds[] = {"hatch lines 1 µm apart",
                                 "16 million hatch dashes",
                                 "coordinates 1e200",
                                 "not a number",
                                 "block including itself",
                                 "blocks doubling 40 levels",
                                 "huge array",
                                 "huge array of an empty block",
                                 "blocks 70 deep, the deepest 60 placed first",
                                 "ellipse swept back 1e300 radians"};
    const QString refusals[]
        = {{}, {}, {}, {}, u"LOOP"_s, u"2000000"_s, u"2000000"_s, u"2000000"_s, u"D0"_s, {}};
    for (const QString &format : {u"PDF"_s, u"SVG"_s, u"HTM"_s, u"EMF"_s}) {
        for (int kind = 0; kind < 10; ++kind)
            QTest::addRow("%s %s", qPrintable(format), kinds[kind])
                << format << kind << refusals[kind];
    }
}

// The writer finishes at once: with a page no larger than A0, whatever it leaves out, or with the
// reason it refuses before anything is painted.
void TestPaint::hostileDrawings()
{
    QFETCH(QString, format);
    QFETCH(int, kind);
    QFETCH(QString, refusal);
    Model m;
    m.entities << entity(Line {{0, 0}, {1000, 1000}});
    Hatch hatch;
    hatch.loops << QVector<Vertex> {Vertex {{0, 0}}, Vertex {{1000, 0}}, Vertex {{1000, 1000}},
                                    Vertex {{0, 1000}}};
    if (kind == 0)
        hatch.patternLines << PatternLine {0, {0, 0}, {0, 0.001}, {}};
    if (kind == 1)
        hatch.patternLines << PatternLine {45, {0, 0}, {0, 0.5}, {0.25, -0.25}};
    for (int copy = 0; kind < 2 && copy < 20; ++copy)
        m.entities << entity(hatch);
    if (kind == 2)
        m.entities << entity(Line {{-1e200, -1e200}, {1e200, 1e200}});
    if (kind == 3)
        m.entities << entity(Circle {{qQNaN(), 0}, qInf()});
    if (kind == 4) {
        Block loop {u"LOOP"_s, {}, {}};
        loop.entities << entity(Line {{0, 0}, {1, 0}}) << entity(insert(u"loop"_s, {1, 0}));
        m.blocks << loop;
        m.entities << entity(insert(u"LOOP"_s));
    }
    if (kind == 5) {
        for (int level = 0; level < 40; ++level) {
            Block b {u"B%1"_s.arg(level), {}, {}};
            if (level == 39)
                b.entities << entity(Line {{0, 0}, {1, 0}});
            else
                b.entities << entity(insert(u"B%1"_s.arg(level + 1)))
                           << entity(insert(u"B%1"_s.arg(level + 1), {1, 1}));
            m.blocks << b;
        }
        m.entities << entity(insert(u"B0"_s));
    }
    if (kind == 6 || kind == 7) {
        m.blocks << Block {u"DOT"_s, {}, {}};
        if (kind == 6)
            m.blocks.last().entities << entity(Circle {{0, 0}, 1});
        Insert array = insert(u"DOT"_s);
        array.rows = array.columns = 40000;
        array.rowSpacing = array.columnSpacing = 3;
        m.entities << entity(array);
    }
    if (kind == 8) { // S0 … S9 place D0 … D59, whose 60 levels the walk meets first
        const auto name = [](int l) {
            return l < 10 ? u"S%1"_s.arg(l) : u"D%1"_s.arg(l - 10);
        };
        for (int level = 0; level < 70; ++level)
            m.blocks << Block {name(level), {}, {entity(insert(name(level + 1)))}};
        m.blocks.last().entities = {entity(Line {{0, 0}, {1, 0}})};
        m.entities << entity(insert(u"D0"_s)) << entity(insert(u"S0"_s));
    }
    if (kind == 9)
        m.entities << entity(Ellipse {{0, 0}, {10, 0}, 0.5, 1e300, 0});
    QElapsedTimer timer;
    timer.start();
    QString error;
    const QByteArray bytes = written(format, m, {u"x"_s, {}, {}}, &error);
    if (!refusal.isEmpty()) {
        QVERIFY(bytes.isEmpty());
        QVERIFY2(error.contains(refusal), qPrintable(error));
        QVERIFY(timer.elapsed() < 1000);
        return;
    }
    QVERIFY2(!bytes.isEmpty(), qPrintable(error));
    QVERIFY(timer.elapsed() < 3000);
    DrawingRenderer renderer(m);
    QVERIFY(renderer.check(nullptr));
    QVERIFY(renderer.paperSize().width() <= DrawingRenderer::maxPaperSide);
    QVERIFY(renderer.paperSize().height() <= DrawingRenderer::maxPaperSide);
}

using Regions = QVector<QRectF>;
Q_DECLARE_METATYPE(Regions)

void TestPaint::features_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<double>("overlap"); // of ours and ezdxf's ink both ways; 0 where ezdxf errs
    QTest::addColumn<Regions>("ink"); // drawing millimetres where ink must be
    QTest::addColumn<Regions>("blank"); // and where none may be
    QTest::newRow("spline through fit points") << u"spline-fit"_s << 0.9 << Regions() << Regions();
    QTest::newRow("layer not plotted, entity invisible")
        << u"not-printed"_s << 0.9 << Regions {{40, -1, 20, 2}}
        << Regions {{40, 9, 20, 2}, {40, 39, 20, 2}};
    // Dashes of 6 and gaps of 4 times $LTSCALE 2: 12 and 8; times the second line's 0.5: 6, 4.
    QTest::newRow("linetype scale") << u"linetype-scale"_s << 0.9 << Regions {{2, -1, 8, 2}}
                                    << Regions {{13, -1, 6, 2}, {27, 19, 2, 2}};
    QTest::newRow("mirrored text and attributes")
        << u"mirrored-text"_s << 0.8 << Regions {{62, 22, 30, 4}} << Regions {{-97, 22, 30, 4}};
    // ezdxf leaves constant attributes out: the text must be under both circles all the same.
    QTest::newRow("constant attribute")
        << u"constant-attribute"_s << 0.0 << Regions {{-7, -13.5, 8, 2}, {33, -13.5, 8, 2}}
        << Regions();
    QTest::newRow("text wrapped at its width")
        << u"mtext-width"_s << 0.6 << Regions {{0.5, -21.5, 10, 3}} << Regions {{52, -20, 20, 20}};
    // ezdxf breaks Japanese text only at spaces: six characters on the first line of ours, the
    // seventh beginning the second before its closing mark.
    QTest::newRow("Japanese text wrapped at its width")
        << u"mtext-width-japanese"_s << 0.0 << Regions {{0.5, -13, 5.5, 3}}
        << Regions {{40.5, -4.5, 5.5, 3}, {51, -20, 20, 20}};
    // ezdxf draws no line for the codes of single-line text.
    QTest::newRow("underline and overline") << u"decorations"_s << 0.0
                                            << Regions {{2, -1.6, 20, 1.2},
                                                        {2, 25.4, 15, 1.2},
                                                        {62, -1.6, 20, 1.2},
                                                        {106, 5.4, 15, 1.2}}
                                            << Regions {{30, -1.6, 12, 1.2}, {89, -1.6, 12, 1.2}};
    QTest::newRow("3D faces") << u"3dface"_s << 0.9 << Regions() << Regions {{79, 15, 2, 10}};
    QTest::newRow("multiline") << u"multiline"_s << 0.85 << Regions() << Regions();
    QTest::newRow("multileader") << u"multileader"_s << 0.8 << Regions() << Regions();
    QTest::newRow("dimensions without their blocks")
        << u"dimensions"_s << 0.8 << Regions() << Regions();
}

// Small drawings of what other CAD programs write, made by ezdxf, read by the DXF reader and
// drawn: in PDF and SVG as ezdxf draws them (the pictures cropped to their ink and laid over
// each other) or with ink where it must be; in EMF with every part of the picture in a record.
void TestPaint::features()
{
    QFETCH(QString, name);
    QFETCH(double, overlap);
    QFETCH(Regions, ink);
    QFETCH(Regions, blank);
    if (m_features.isEmpty()) {
        m_features = m_dir.filePath(u"features"_s);
        QDir().mkpath(m_features);
        const QString script
            = QStringLiteral(NORVALE_SOURCE_DIR "/tests/server/feature_drawings.py");
        if (run(u"/usr/bin/python3"_s, {script, m_features}).isNull()
            && !QFile::exists(m_features + u"/spline-fit.png"_s))
            QSKIP("python3-ezdxf and python3-matplotlib are installed by `make test`");
    }
    Model model;
    QString error;
    QVERIFY2(DxfReader().read(readFile(m_features + u'/' + name + u".dxf"_s), model, &error),
             qPrintable(error));
    DrawingRenderer renderer(model);
    QVERIFY(renderer.check(nullptr));
    const QTransform toPixels = renderer.paperFromWorld() * QTransform::fromScale(10, 10);
    QRect theirBox;
    const QImage theirs = ::ink(QImage(m_features + u'/' + name + u".png"_s), &theirBox);
    QRectF pdfBox;
    for (const QString &format : {u"PDF"_s, u"SVG"_s}) {
        const QString source = m_dir.filePath(name + u'.' + format.toLower());
        const QString png = m_dir.filePath(name + u'-' + format.toLower());
        QVERIFY(writeFile(source, written(format, model, {name, {}, {}})));
        if (format == u"PDF")
            run(u"pdftoppm"_s, {u"-r"_s, u"254"_s, u"-png"_s, u"-singlefile"_s, source, png});
        else
            run(u"rsvg-convert"_s,
                {u"-w"_s, QString::number(qRound(renderer.paperSize().width() * 10)), u"-b"_s,
                 u"white"_s, source, u"-o"_s, png + u".png"_s});
        QRect box;
        const QImage ours = ::ink(QImage(png + u".png"_s), &box);
        QVERIFY2(!box.isEmpty(), qPrintable(format));
        if (format == u"PDF")
            pdfBox = QRectF(box.topLeft() / 10.0, box.size() / 10.0);
        const auto inkIn = [&](const QRectF &region) {
            const QRect pixels = toPixels.mapRect(region).toAlignedRect() & ours.rect();
            QRect inside;
            return !pixels.isEmpty() && (::ink(ours.copy(pixels), &inside), !inside.isEmpty());
        };
        for (const QRectF &region : ink)
            QVERIFY2(inkIn(region), qPrintable(format + u" no ink where it must be"_s));
        for (const QRectF &region : blank)
            QVERIFY2(!inkIn(region), qPrintable(format + u" ink where none may be"_s));
        if (overlap == 0)
            continue;
        const QImage a = ours.copy(box).scaled(theirBox.size(), Qt::IgnoreAspectRatio,
                                               Qt::SmoothTransformation);
        const QImage b = theirs.copy(theirBox);
        const double oursCovered = covered(a, b, 3), theirsCovered = covered(b, a, 3);
        QVERIFY2(oursCovered >= overlap && theirsCovered >= overlap,
                 qPrintable(u"%1: %2 of our ink on theirs, %3 of theirs on ours"_s.arg(format)
                                .arg(oursCovered)
                                .arg(theirsCovered)));
    }
    // The metafile draws everything the PDF shows, and nothing beside it: its records' bounds
    // (hundredths of a millimetre, as is the page) against the PDF's ink.
    QString fault;
    const QVector<Record> list = records(written(u"EMF"_s, model, {name, {}, {}}), &fault);
    QVERIFY2(fault.isEmpty(), qPrintable(fault));
    // Fonts cannot mirror: each mirrored text is drawn under a world transform that mirrors.
    int mirroredTexts = 0, mirroringTransforms = 0;
    for (const Entity &e : std::as_const(model.entities)) {
        QVector<Text> texts;
        if (const auto *t = std::get_if<Text>(&e.shape))
            texts << *t;
        if (const auto *insert = std::get_if<Insert>(&e.shape))
            texts << insert->attributes;
        for (const Text &t : std::as_const(texts))
            mirroredTexts += t.backward != t.upsideDown;
    }
    QRectF shapes, all;
    for (const Record &r : list) {
        const QRectF bounds(QPointF(qint32(u32(r.body, 0)), qint32(u32(r.body, 4))) / 100,
                            QPointF(qint32(u32(r.body, 8)), qint32(u32(r.body, 12))) / 100);
        if (r.type == 35) { // EMR_SETWORLDTRANSFORM: eM11, eM12, eM21, eM22 as floats
            float m[4];
            std::memcpy(m, r.body.constData(), sizeof m);
            mirroringTransforms += m[0] * m[3] - m[1] * m[2] < 0;
        }
        if (r.type == 84) // text: a box that surely holds it
            all |= bounds;
        else if (r.type == 3 || r.type == 4 || r.type == 8 || (r.type >= 62 && r.type <= 64))
            shapes |= bounds;
    }
    all |= shapes;
    QVERIFY(all.adjusted(-1, -1, 1, 1).contains(pdfBox));
    QVERIFY(shapes.isNull() || pdfBox.adjusted(-1, -1, 1, 1).contains(shapes));
    QCOMPARE(mirroringTransforms, mirroredTexts);
}

namespace {

// An A3 landscape sheet, its origin at the page's lower-left corner, with a 100 mm square
// viewport in its middle showing model space at 1:100 around (2500, 0), and a border line 10 mm
// above the bottom edge. Model space: a 5,000 mm line through the view's centre, one on the
// layer FROZEN (frozen in the viewport) 20 mm above it on paper, one 80 mm above it on paper,
// outside the viewport.
Model sheetModel()
{
    Model m;
    m.entities << entity(Line {{0, 0}, {5000, 0}})
               << entity(Line {{0, 2000}, {5000, 2000}}, u"FROZEN"_s)
               << entity(Line {{0, 8000}, {5000, 8000}});
    Sheet sheet;
    sheet.name = u"A3"_s;
    sheet.width = 420;
    sheet.height = 297;
    sheet.entities << entity(Line {{10, 10}, {410, 10}});
    Viewport view;
    view.center = {210, 148.5};
    view.width = view.height = 100;
    view.viewCenter = {2500, 0};
    view.scale = 0.01;
    view.frozenLayers << u"frozen"_s;
    sheet.viewports << view;
    m.sheets << sheet;
    m.currentSheet = 0;
    return m;
}

// Page sizes in millimetres, from pdfinfo's points.
QVector<QSizeF> pdfPages(const QString &info)
{
    static const QRegularExpression re(u"Page +\\d+ size: +([\\d.]+) x ([\\d.]+) pts"_s);
    QVector<QSizeF> pages;
    for (auto it = re.globalMatch(info); it.hasNext();) {
        const auto m = it.next();
        pages << QSizeF(m.captured(1).toDouble() * 25.4 / 72, m.captured(2).toDouble() * 25.4 / 72);
    }
    return pages;
}

} // namespace

void TestPaint::sheets_data()
{
    QTest::addColumn<Model>("model");
    QTest::addColumn<PlotSettings>("plot");
    QTest::addColumn<QVector<QSizeF>>("pages");
    QTest::addColumn<QVector<QPointF>>("inked"); // paper millimetres on the first page, y down
    QTest::addColumn<QVector<QPointF>>("blank");

    // The 5,000 mm line is 50 mm long at 1:100: from x 185 to 235 at the page's middle height.
    const QVector<QPointF> line {{187, 148.5}, {233, 148.5}, {100, 287}};
    const QVector<QPointF> outside {{240, 148.5}, {210, 128.5}, {210, 68.5}};
    QTest::newRow("viewport at 1:100 on A3")
        << sheetModel() << PlotSettings() << QVector<QSizeF> {{420, 297}} << line << outside;

    Model clipped = sheetModel();
    clipped.sheets[0].viewports[0].clip = {{160, 98.5}, {260, 98.5}, {160, 198.5}};
    QTest::newRow("polygonal clip")
        << clipped << PlotSettings() << QVector<QSizeF> {{420, 297}}
        << QVector<QPointF> {{195, 148.5}} << QVector<QPointF> {{215, 148.5}};

    Model shifted = sheetModel();
    shifted.sheets[0].offset = {20, 10};
    shifted.sheets[0].scale = 0.5;
    QTest::newRow("sheet offset and scale")
        << shifted << PlotSettings() << QVector<QSizeF> {{420, 297}}
        << QVector<QPointF> {{25, 282}, {200, 282}} << QVector<QPointF> {{100, 287}};

    Model two = sheetModel();
    Sheet second;
    second.name = u"A4"_s;
    second.width = 210;
    second.height = 297;
    second.entities << entity(Line {{0, 0}, {210, 297}});
    second.tabOrder = -1;
    two.sheets << second << Sheet();
    QTest::newRow("tab order, empty sheet left out")
        << two << PlotSettings() << QVector<QSizeF> {{210, 297}, {420, 297}}
        << QVector<QPointF> {{105, 148.5}} << QVector<QPointF> {};

    // At 1:10, the largest usual scale that fits A0.
    Model empty = sheetModel();
    empty.sheets[0].viewports.clear();
    empty.sheets[0].entities.clear();
    QTest::newRow("empty sheet: model space")
        << empty << PlotSettings() << QVector<QSizeF> {{520, 820}} << QVector<QPointF> {}
        << QVector<QPointF> {};

    PlotSettings a4fit;
    a4fit.paper = PlotSettings::Paper::A4;
    a4fit.scale = PlotSettings::Scale::Fit;
    // The A3 sheet fits A4 landscape less 10 mm margins at 277/420.
    QTest::newRow("A4, fit") << sheetModel() << a4fit << QVector<QSizeF> {{297, 210}}
                             << QVector<QPointF> {{148.5, 105}} << QVector<QPointF> {{148.5, 95}};

    // 1:N is the scale of the sheet's main view: the 5,000 mm line becomes 25 mm.
    PlotSettings half;
    half.scale = PlotSettings::Scale::Ratio;
    half.ratio = 200;
    QTest::newRow("sheet at 1:200")
        << sheetModel() << half << QVector<QSizeF> {{420, 297}}
        << QVector<QPointF> {{199, 148.5}, {221, 148.5}} << QVector<QPointF> {{226, 148.5}};

    Model plain;
    plain.entities << entity(Line {{0, 0}, {5000, 0}}) << entity(Line {{0, 0}, {0, 3000}});
    PlotSettings ratio;
    ratio.scale = PlotSettings::Scale::Ratio;
    ratio.ratio = 50;
    ratio.margin = 5;
    QTest::newRow("model space at 1:50")
        << plain << ratio << QVector<QSizeF> {{110, 70}} << QVector<QPointF> {{5, 40}, {100, 65}}
        << QVector<QPointF> {{100, 60}};

    PlotSettings a3;
    a3.paper = PlotSettings::Paper::A3;
    a3.orientation = PlotSettings::Orientation::Portrait;
    a3.scale = PlotSettings::Scale::Ratio;
    a3.ratio = 100;
    a3.centered = false;
    // 50 × 30 mm from the lower-left corner, 10 mm in.
    QTest::newRow("A3 portrait, 1:100, not centred")
        << plain << a3 << QVector<QSizeF> {{297, 420}} << QVector<QPointF> {{35, 410}, {10, 390}}
        << QVector<QPointF> {{148.5, 210}};
}

// Each sheet that holds something is a page of its own paper, its viewports showing model space
// at their scale inside their bounds, less their frozen layers; the plot settings put pages on
// other paper at other scales.
void TestPaint::sheets()
{
    QFETCH(Model, model);
    QFETCH(PlotSettings, plot);
    QFETCH(QVector<QSizeF>, pages);
    QFETCH(QVector<QPointF>, inked);
    QFETCH(QVector<QPointF>, blank);
    for (const QString &tool : {u"pdfinfo"_s, u"pdftoppm"_s}) {
        if (QStandardPaths::findExecutable(tool).isEmpty())
            QSKIP("poppler-utils is not installed");
    }
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QVERIFY(PdfWriter(plot).write(model, {u"sheets"_s, {}, {}}, buffer, nullptr));
    const QString pdf = m_dir.filePath(u"sheets.pdf"_s);
    QVERIFY(writeFile(pdf, buffer.data()));
    const QVector<QSizeF> got
        = pdfPages(run(u"pdfinfo"_s, {u"-f"_s, u"1"_s, u"-l"_s, u"99"_s, pdf}));
    QCOMPARE(got.size(), pages.size());
    for (int i = 0; i < pages.size(); ++i) {
        QVERIFY2(std::abs(got[i].width() - pages[i].width()) < 0.5
                     && std::abs(got[i].height() - pages[i].height()) < 0.5,
                 qPrintable(
                     u"page %1: %2 × %3 mm"_s.arg(i + 1).arg(got[i].width()).arg(got[i].height())));
    }
    // The one-page formats get the sheet that was current.
    DrawingRenderer renderer(model, plot);
    QVERIFY(renderer.check(nullptr));
    QVERIFY(std::abs(renderer.paperSize().width() - pages.last().width()) < 1e-6
            || pages.size() > 1);

    // EMF keeps each viewport of the current sheet as a clip path, and gives the page back after.
    QString fault;
    const QVector<Record> emf
        = records(written(u"EMF"_s, model, {u"sheets"_s, {}, {}}, nullptr, plot), &fault);
    QVERIFY2(fault.isEmpty(), qPrintable(fault));
    int clipped = 0, open = 0;
    for (const Record &r : emf) {
        if (r.type == 67) { // EMR_SELECTCLIPPATH
            QCOMPARE(open, 0);
            ++open;
            ++clipped;
        } else if (r.type == 75) { // EMR_EXTSELECTCLIPRGN
            open = 0;
        }
    }
    QCOMPARE(open, 0);
    const bool current
        = model.currentSheet >= 0 && model.sheets[model.currentSheet].holdsAnything();
    QCOMPARE(clipped, current ? int(model.sheets[model.currentSheet].viewports.size()) : 0);

    if (inked.isEmpty() && blank.isEmpty())
        return;
    // One-page drawings look the same in SVG, clipped to their viewports as well.
    QStringList pictures {u"pdf"_s};
    if (pages.size() == 1 && !QStandardPaths::findExecutable(u"rsvg-convert"_s).isEmpty()) {
        const QString svg = m_dir.filePath(u"sheets.svg"_s);
        QVERIFY(writeFile(svg, written(u"SVG"_s, model, {u"sheets"_s, {}, {}}, nullptr, plot)));
        run(u"rsvg-convert"_s,
            {u"-w"_s, QString::number(qRound(pages[0].width() * 10)), u"-b"_s, u"white"_s, svg,
             u"-o"_s, m_dir.filePath(u"sheets-svg.png"_s)});
        pictures << u"svg"_s;
    }
    run(u"pdftoppm"_s,
        {u"-r"_s, u"254"_s, u"-png"_s, u"-singlefile"_s, pdf, m_dir.filePath(u"sheets-pdf"_s)});
    for (const QString &picture : pictures) {
        const QImage image(m_dir.filePath(u"sheets-%1.png"_s.arg(picture)));
        QVERIFY2(!image.isNull(), qPrintable(picture));
        const auto darkest = [&](const QPointF &mm) {
            const QPoint at(qRound(mm.x() * 10), qRound(mm.y() * 10));
            int dark = 255;
            for (int dy = -4; dy <= 4; ++dy) {
                for (int dx = -4; dx <= 4; ++dx) {
                    if (image.valid(at + QPoint(dx, dy)))
                        dark = std::min(dark, qGray(image.pixel(at + QPoint(dx, dy))));
                }
            }
            return dark;
        };
        for (const QPointF &p : inked)
            QVERIFY2(darkest(p) < 128,
                     qPrintable(u"%1: no ink at %2, %3"_s.arg(picture).arg(p.x()).arg(p.y())));
        for (const QPointF &p : blank)
            QVERIFY2(darkest(p) >= 128,
                     qPrintable(u"%1: ink at %2, %3"_s.arg(picture).arg(p.x()).arg(p.y())));
    }
}

NORVALE_TEST_MAIN(TestPaint)
#include "tst_paint.moc"
