// Feeds arbitrary bytes to the SXF reader in both forms. What reads must also write and read
// back: a drawing the reader accepts that the writer cannot reproduce is a fault too.
#include "server/sxf/SxfReader.h"
#include "server/sxf/SxfWriter.h"

#include <QBuffer>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes
        = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    for (SxfReader::Form form : {SxfReader::Form::Sfc, SxfReader::Form::P21}) {
        SxfReader reader(form);
        Drawing::Model model;
        QString error;
        if (!reader.read(bytes, model, &error))
            continue;
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        SxfWriter writer(SxfWriter::Form::Sfc);
        if (!writer.write(model, reader.fileName(), out, &error))
            continue; // a drawing may place a block its writer cannot order; that is refused
        Drawing::Model again;
        if (!SxfReader(SxfReader::Form::Sfc).read(out.data(), again, &error))
            std::abort();
    }
    return 0;
}
