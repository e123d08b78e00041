// Times each graphical writer of the drawing server on a drawing of about 200 shapes with
// Japanese text, beside a floor measured in the same run: writing the same number of bytes with
// QFile. With --out FOLDER it also leaves one file of each format there, to look at.

#include "server/service/FormatRegistry.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>

using namespace Drawing;

namespace {

Entity entity(Shape shape, const QString &layer = QStringLiteral("0"))
{
    Entity e;
    e.style.layer = layer;
    e.shape = std::move(shape);
    return e;
}

// A floor of rooms in a grid, a door block inserted in each, names in Japanese (or English), a
// hatch and a dimension line: the kinds of entity an ordinary plan has.
Model benchModel(bool japanese)
{
    Model m;
    m.linetypes << Linetype {QStringLiteral("CONTINUOUS"), QString(), {}}
                << Linetype {QStringLiteral("DASHED"), QStringLiteral("__ __"), {6, -3}};
    Layer walls {QStringLiteral("壁"), Color::fromRgb(0xffffff, 7)};
    walls.lineweight = 0.5;
    Layer grid {QStringLiteral("通り芯"), Color::fromRgb(0xff0000, 1), QStringLiteral("DASHED")};
    Layer text {QStringLiteral("文字"), Color::fromRgb(0x0000ff, 5)};
    Layer hidden {QStringLiteral("非表示"), Color::fromRgb(0x00ff00, 3)};
    hidden.on = false;
    m.layers << Layer {QStringLiteral("0")} << walls << grid << text << hidden;

    Block door {QStringLiteral("DOOR"), {0, 0}, {}};
    door.entities << entity(Line {{0, 0}, {0, 900}}) << entity(Arc {{0, 0}, 900, 0, 90});
    m.blocks << door;

    const QStringList names = japanese
        ? QStringList {QStringLiteral("居間"), QStringLiteral("台所"), QStringLiteral("寝室"),
                       QStringLiteral("浴室"), QStringLiteral("書斎")}
        : QStringList {QStringLiteral("Living"), QStringLiteral("Kitchen"), QStringLiteral("Bed"),
                       QStringLiteral("Bath"), QStringLiteral("Study")};
    for (int row = 0; row < 4; ++row) {
        for (int col = 0; col < 5; ++col) {
            const double x = col * 4000, y = row * 3500;
            Polyline room;
            room.closed = true;
            room.vertices << Vertex {{x, y}} << Vertex {{x + 4000, y}}
                          << Vertex {{x + 4000, y + 3500}} << Vertex {{x, y + 3500}};
            m.entities << entity(room, QStringLiteral("壁"));
            Insert insert;
            insert.block = QStringLiteral("DOOR");
            insert.position = {x + 500, y};
            m.entities << entity(insert, QStringLiteral("壁"));
            Text label;
            label.text = names[(row + col) % names.size()] + QString::number(row * 5 + col + 1);
            label.position = {x + 2000, y + 1750};
            label.height = 300;
            label.halign = HAlign::Center;
            label.valign = VAlign::Middle;
            m.entities << entity(label, QStringLiteral("文字"));
            Text area;
            area.text = QStringLiteral("14.0 m2");
            area.position = {x + 2000, y + 1200};
            area.height = 200;
            area.halign = HAlign::Center;
            m.entities << entity(area, QStringLiteral("文字"));
            m.entities << entity(Circle {{x + 3500, y + 3000}, 150});
            m.entities << entity(Line {{x + 200, y + 200}, {x + 800, y + 200}},
                                 QStringLiteral("非表示"));
            Hatch hatch;
            hatch.loops << QVector<Vertex> {
                Vertex {{x + 3000, y + 300}}, Vertex {{x + 3800, y + 300}},
                Vertex {{x + 3800, y + 900}}, Vertex {{x + 3000, y + 900}}};
            hatch.pattern = QStringLiteral("ANSI31");
            hatch.patternLines << PatternLine {45, {0, 0}, {-70.7, 70.7}, {}};
            m.entities << entity(hatch);
        }
    }
    for (int i = 0; i <= 5; ++i)
        m.entities << entity(Line {{i * 4000.0, -1000}, {i * 4000.0, 15000}},
                             QStringLiteral("通り芯"));
    return m;
}

double median(QVector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int outAt = int(args.indexOf(QStringLiteral("--out")));
    const Model japanese = benchModel(true), latin = benchModel(false);
    SaveInfo info {QStringLiteral("平面図"), QStringLiteral("山田 太郎"), QStringLiteral("設計部")};
    QTemporaryDir tmp;
    const int runs = 50;
    // "PDF-LATIN": the same drawing with Latin names, which embeds a small font instead of IPA
    // Gothic; most parts drawings are like it.
    for (QString format : {QStringLiteral("PDF"), QStringLiteral("PDF-LATIN"),
                           QStringLiteral("SVG"), QStringLiteral("HTM"), QStringLiteral("EMF")}) {
        const Model &model = format.endsWith(QLatin1String("LATIN")) ? latin : japanese;
        auto writer = FormatRegistry::writerFor(format.section(QLatin1Char('-'), 0, 0));
        format.replace(QLatin1Char('-'), QLatin1Char('_'));
        QByteArray bytes;
        QVector<double> times, floors;
        for (int i = 0; i < runs; ++i) {
            QFile file(tmp.filePath(QStringLiteral("out.") + format.toLower()));
            file.open(QIODevice::WriteOnly);
            QElapsedTimer timer;
            timer.start();
            QString error;
            if (!writer->write(model, info, file, &error)) {
                std::fprintf(stderr, "%s: %s\n", qPrintable(format), qPrintable(error));
                return 1;
            }
            file.close();
            times << timer.nsecsElapsed() / 1e6;
            if (bytes.isEmpty()) {
                QFile back(file.fileName());
                back.open(QIODevice::ReadOnly);
                bytes = back.readAll();
            }
            QFile floor(tmp.filePath(QStringLiteral("floor")));
            floor.open(QIODevice::WriteOnly);
            timer.restart();
            floor.write(bytes);
            floor.close();
            floors << timer.nsecsElapsed() / 1e6;
        }
        std::printf("writer_%s_median_ms %.3f\n", qPrintable(format.toLower()), median(times));
        std::printf("writer_%s_floor_ms %.3f\n", qPrintable(format.toLower()), median(floors));
        std::printf("writer_%s_ratio %.1f\n", qPrintable(format.toLower()),
                    median(times) / std::max(median(floors), 1e-3));
        std::printf("writer_%s_bytes %lld\n", qPrintable(format.toLower()),
                    static_cast<long long>(bytes.size()));
        if (outAt >= 0 && outAt + 1 < args.size()) {
            const QDir folder(args.at(outAt + 1));
            QFile out(folder.filePath(QStringLiteral("bench.") + format.toLower()));
            if (out.open(QIODevice::WriteOnly))
                out.write(bytes);
        }
    }
    return 0;
}
