// Times the drawing server's SXF and JWW code on the samples scaled to 1,000 shapes: reading SFC,
// writing SFC and reading JWW. Each timing stands beside a floor measured in the same run and on
// the same bytes -- one pass over them, which no reader or writer can beat -- so that the ratios
// say how far the code is from touching every byte once, whatever the machine's load.
// Prints "<name> <value>" lines: median and 99th percentile in milliseconds of elapsed time and of
// the processor time of the timing thread (what other programs on a loaded machine cannot steal),
// and the median ratio to the floor.
#include "server/jww/JwwReader.h"
#include "server/sxf/SxfReader.h"
#include "server/sxf/SxfWriter.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QtEndian>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>

namespace {

const int kShapes = 1000;
const int kRuns = 200;

QByteArray readSample(const char *name)
{
    QFile file(QStringLiteral(NORVALE_SOURCE_DIR "/samples/") + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

double percentile(QVector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    return values[std::min<qsizetype>(values.size() - 1, qsizetype(p * values.size()))];
}

// The floor: one pass over the bytes, counting lines, into a fresh buffer.
int floorPass(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    buffer.write(bytes);
    return int(std::count(bytes.begin(), bytes.end(), '\n'));
}

double threadCpuMs()
{
    timespec t {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

void measure(const char *name, const QByteArray &bytes, const std::function<bool()> &work)
{
    QVector<double> times, cpu, ratios;
    QElapsedTimer timer;
    volatile int sink = 0;
    for (int run = 0; run < kRuns; ++run) {
        timer.start();
        sink = sink + floorPass(bytes);
        const double floor = double(std::max<qint64>(timer.nsecsElapsed(), 1));
        const double cpuStart = threadCpuMs();
        timer.start();
        if (!work()) {
            std::fprintf(stderr, "%s failed\n", name);
            std::exit(1);
        }
        const double t = double(timer.nsecsElapsed());
        cpu.append(threadCpuMs() - cpuStart);
        times.append(t / 1e6);
        ratios.append(t / floor);
    }
    std::printf("%s_median_ms %.3f\n%s_p99_ms %.3f\n", name, percentile(times, 0.5), name,
                percentile(times, 0.99));
    std::printf("%s_cpu_median_ms %.3f\n%s_cpu_p99_ms %.3f\n", name, percentile(cpu, 0.5), name,
                percentile(cpu, 0.99));
    std::printf("%s_ratio %.1f\n", name, percentile(ratios, 0.5));
}

// The sample plan repeated on a grid until it holds kShapes shapes.
Drawing::Model scaled(const Drawing::Model &plan)
{
    Drawing::Model m = plan;
    m.entities.clear();
    for (int copy = 0; m.entities.size() < kShapes; ++copy) {
        for (Drawing::Entity e : plan.entities) {
            if (m.entities.size() == kShapes)
                break;
            const double dx = (copy % 10) * 100.0, dy = (copy / 10) * 100.0;
            if (auto *l = std::get_if<Drawing::Line>(&e.shape)) {
                l->start.x += dx, l->start.y += dy, l->end.x += dx, l->end.y += dy;
            } else if (auto *t = std::get_if<Drawing::Text>(&e.shape)) {
                t->position.x += dx, t->position.y += dy;
            } else if (auto *in = std::get_if<Drawing::Insert>(&e.shape)) {
                in->position.x += dx, in->position.y += dy;
            }
            m.entities.append(e);
        }
    }
    return m;
}

// The JWW sample with lines added at the end of its shape list up to kShapes records. Its first
// class is the line class, so each added record refers to class number 1.
QByteArray scaledJww(const QByteArray &plan)
{
    const qsizetype firstClass = plan.indexOf(QByteArray("\x08\x00"
                                                         "CDataSen",
                                                         10))
        - 4;
    const qsizetype countAt = firstClass - 2;
    const qsizetype listEnd = plan.indexOf(QByteArray("\x09\x00"
                                                      "CDataList",
                                                      11))
        - 4 - 2;
    if (firstClass < 2 || listEnd < firstClass)
        return QByteArray();
    const quint16 count = qFromLittleEndian<quint16>(plan.constData() + countAt);
    QByteArray lines;
    for (int i = count; i < kShapes; ++i) {
        char record[2 + 15 + 32] = {};
        qToLittleEndian<quint16>(0x8001, record);
        record[2 + 4] = 1; // solid line
        record[2 + 5] = 2; // black
        for (int k = 0; k < 4; ++k)
            qToLittleEndian<double>(double(i + k * 7 % 13), record + 2 + 15 + 8 * k);
        lines.append(record, sizeof record);
    }
    QByteArray out = plan.left(listEnd) + lines + plan.mid(listEnd);
    qToLittleEndian<quint16>(quint16(std::max(count, quint16(kShapes))), out.data() + countAt);
    return out;
}

} // namespace

int main()
{
    Drawing::Model plan;
    QString error;
    if (!SxfReader(SxfReader::Form::Sfc).read(readSample("plan.sfc"), plan, &error)) {
        std::fprintf(stderr, "plan.sfc: %s\n", qPrintable(error));
        return 1;
    }
    const Drawing::Model model = scaled(plan);
    const Drawing::SaveInfo info {QStringLiteral("plan"), QStringLiteral("山田太郎"),
                                  QStringLiteral("ノルヴェール設計事務所")};
    QBuffer sfcBuffer;
    sfcBuffer.open(QIODevice::WriteOnly);
    SxfWriter(SxfWriter::Form::Sfc).write(model, info, sfcBuffer, &error);
    const QByteArray sfc = sfcBuffer.data();
    const QByteArray jww = scaledJww(readSample("plan.jww"));
    std::printf("shapes %d\n", kShapes);

    measure("sfc_read", sfc, [&] {
        Drawing::Model m;
        return SxfReader(SxfReader::Form::Sfc).read(sfc, m, &error) && m.entities.size() == kShapes;
    });
    measure("sfc_write", sfc, [&] {
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        return SxfWriter(SxfWriter::Form::Sfc).write(model, info, out, &error);
    });
    measure("jww_read", jww, [&] {
        Drawing::Model m;
        return JwwReader().read(jww, m, &error) && m.entities.size() >= kShapes;
    });
    return 0;
}
