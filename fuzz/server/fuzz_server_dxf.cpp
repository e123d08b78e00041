// Feeds arbitrary bytes to the drawing server's DXF reader, and what it reads to its DXF writer,
// which expands nothing but must cope with whatever model a reader accepted.
#include "server/dxf/DxfReader.h"
#include "server/dxf/DxfWriter.h"

#include <QBuffer>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes
        = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    Drawing::Model model;
    QString error;
    if (!DxfReader().read(bytes, model, &error))
        return 0;
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    DxfWriter().write(model, {QStringLiteral("fuzz"), QStringLiteral("作成者"), QString()}, out,
                      &error);
    return 0;
}
