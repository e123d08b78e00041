// Feeds arbitrary bytes to the JWW reader.
#include "server/jww/JwwReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes
        = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    JwwReader reader;
    Drawing::Model model;
    QString error;
    reader.read(bytes, model, &error);
    return 0;
}
