#include "server/paint/EmfPaintDevice.h"

#include "server/paint/EmfPaintEngine.h"

#include <QtEndian>

#include <climits>
#include <cmath>

namespace {

constexpr int unitsPerMm = 100;

void put32(QByteArray &b, quint32 v)
{
    char bytes[4];
    qToLittleEndian(v, bytes);
    b.append(bytes, 4);
}

void putUtf16(QByteArray &b, const QString &text)
{
    for (QChar c : text) {
        b.append(char(c.unicode() & 0xff));
        b.append(char(c.unicode() >> 8));
    }
}

} // namespace

EmfPaintDevice::EmfPaintDevice(const QSizeF &sizeMm)
    : m_sizeMm(sizeMm)
    , m_engine(std::make_unique<EmfPaintEngine>())
{ }

EmfPaintDevice::~EmfPaintDevice() = default;

QPaintEngine *EmfPaintDevice::paintEngine() const
{
    return m_engine.get();
}

int EmfPaintDevice::metric(PaintDeviceMetric metric) const
{
    switch (metric) {
    case PdmWidth:
        return int(std::ceil(m_sizeMm.width() * unitsPerMm));
    case PdmHeight:
        return int(std::ceil(m_sizeMm.height() * unitsPerMm));
    case PdmWidthMM:
        return int(std::ceil(m_sizeMm.width()));
    case PdmHeightMM:
        return int(std::ceil(m_sizeMm.height()));
    case PdmNumColors:
        return INT_MAX;
    case PdmDepth:
        return 32;
    case PdmDpiX:
    case PdmDpiY:
    case PdmPhysicalDpiX:
    case PdmPhysicalDpiY:
        return qRound(unitsPerMm * 25.4);
    case PdmDevicePixelRatio:
        return 1;
    case PdmDevicePixelRatioScaled:
        return int(devicePixelRatioFScale());
    default:
        return 0;
    }
}

QByteArray EmfPaintDevice::document(const QString &title, const QString &comment) const
{
    const qint32 width = qint32(std::ceil(m_sizeMm.width() * unitsPerMm));
    const qint32 height = qint32(std::ceil(m_sizeMm.height() * unitsPerMm));

    QByteArray description;
    putUtf16(description, QStringLiteral("Norvale tarsk-standin"));
    description.append(2, '\0');
    putUtf16(description, title);
    description.append(4, '\0');
    const int descriptionChars = int(description.size() / 2);
    description.append((4 - description.size() % 4) % 4, '\0');

    QByteArray commentRecord;
    if (!comment.isEmpty()) {
        QByteArray data = comment.toUtf8();
        put32(commentRecord, 70); // EMR_COMMENT
        const int padding = (4 - data.size() % 4) % 4;
        put32(commentRecord, quint32(12 + data.size() + padding));
        put32(commentRecord, quint32(data.size()));
        commentRecord += data;
        commentRecord.append(padding, '\0');
    }

    const int headerSize = 108 + int(description.size());
    const QByteArray &records = m_engine->records();
    const int recordCount = 1 + (comment.isEmpty() ? 0 : 1) + m_engine->recordCount() + 1;
    const qint64 total = headerSize + commentRecord.size() + records.size() + 20;

    QByteArray out;
    out.reserve(int(total));
    put32(out, 1); // EMR_HEADER
    put32(out, quint32(headerSize));
    for (qint32 v : {0, 0, width - 1, height - 1}) // bounds, device units (inclusive)
        put32(out, quint32(v));
    for (qint32 v : {0, 0, width - 1, height - 1}) // frame, hundredths of a millimetre
        put32(out, quint32(v));
    put32(out, 0x464D4520); // " EMF"
    put32(out, 0x00010000);
    put32(out, quint32(total));
    put32(out, quint32(recordCount));
    put32(out, quint32(m_engine->handleCount())); // nHandles, then sReserved = 0
    put32(out, quint32(descriptionChars));
    put32(out, description.isEmpty() ? 0 : 108);
    put32(out, 0); // no palette
    // A reference device of 100 pixels per millimetre, so that a pixel is a hundredth of one.
    put32(out, 32000);
    put32(out, 24000);
    put32(out, 320);
    put32(out, 240);
    put32(out, 0); // no pixel format
    put32(out, 0);
    put32(out, 0); // not OpenGL
    put32(out, 320000);
    put32(out, 240000);
    out += description;
    out += commentRecord;
    out += records;
    put32(out, 14); // EMR_EOF
    put32(out, 20);
    put32(out, 0);
    put32(out, 16);
    put32(out, 20);
    return out;
}
