#pragma once

#include <QByteArray>
#include <QPaintDevice>
#include <QSizeF>

#include <memory>

class EmfPaintEngine;

// A paint device whose pixels are hundredths of a millimetre and whose painting becomes an
// Enhanced Metafile: paint on it, then take document().
class EmfPaintDevice : public QPaintDevice
{
public:
    explicit EmfPaintDevice(const QSizeF &sizeMm);
    ~EmfPaintDevice() override;

    QPaintEngine *paintEngine() const override;

    // The whole file: header (frame = the page, description = program and title), an
    // EMR_COMMENT holding `comment` as UTF-8 when it is not empty, the painted records, EMR_EOF.
    QByteArray document(const QString &title, const QString &comment) const;

protected:
    int metric(PaintDeviceMetric metric) const override;

private:
    QSizeF m_sizeMm;
    std::unique_ptr<EmfPaintEngine> m_engine;
};
