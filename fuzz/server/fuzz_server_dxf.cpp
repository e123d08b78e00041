// Feeds arbitrary bytes to the drawing server's DXF reader, and what it reads to its DXF writer,
// which expands nothing but must cope with whatever model a reader accepted. The version written
// follows the input's length, so that R12's replacements (hatches as lines, ellipses as
// polylines, text per line) meet every model too; what the writer makes must read again.
#include "server/dxf/DxfReader.h"
#include "server/dxf/DxfWriter.h"

#include <QBuffer>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes
        = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    Drawing::Model model;
    QString error;
    if (!DxfReader().read(bytes, model, &error))
        return 0;
    const auto version = DxfVersion(size % (int(DxfVersion::R2018) + 1));
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    // The writer may refuse a drawing it cannot write as DXF readers take it (points computed
    // beyond the coordinate limit); what it does write must read again.
    if (!DxfWriter(version).write(
            model, {QStringLiteral("fuzz"), QStringLiteral("作成者"), QString()}, out, &error))
        return 0;
    Drawing::Model again;
    if (!DxfReader().read(out.data(), again, &error)) {
        std::fprintf(stderr, "written as %s, read back: %s\n",
                     qPrintable(DxfVersions::name(version)), qPrintable(error));
        std::abort();
    }
    return 0;
}
