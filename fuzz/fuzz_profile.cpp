// The settings reader and writer: any file content must load, and every value written must read
// back unchanged, before and after the file is saved and loaded again.
#include "fuzz/FuzzCheck.h"
#include "platform/IniProfile.h"

#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <vector>

namespace {

struct Write
{
    QString strSection;
    QString strKey;
    QString strValue;
};

QString flattened(QString text)
{
    return text.replace(u'\r', u' ').replace(u'\n', u' ');
}

// Names that a line can carry: a section name without "]", a key without "=" that does not read
// as a comment or a header. The writer flattens line breaks and trims blanks the same way.
QString name(FuzzedDataProvider &provider, bool bSection)
{
    QString text = flattened(QString::fromUtf8(provider.ConsumeRandomLengthString(12))).trimmed();
    text.remove(bSection ? u']' : u'=');
    // trimmed() removes more than the blanks the reader trims; keep what both agree on.
    while (!text.isEmpty()
           && (text.front() == u';' || text.front() == u'[' || text.front().isSpace()))
        text.remove(0, 1);
    return text.trimmed();
}

void checkWrites(const IniProfile &profile, const std::vector<Write> &aWrites, const char *pszWhen)
{
    for (size_t i = 0; i < aWrites.size(); ++i) {
        // A later write of the same section and key (in any case) wins.
        QString strExpected = aWrites[i].strValue;
        for (size_t j = i + 1; j < aWrites.size(); ++j) {
            if (aWrites[j].strSection.compare(aWrites[i].strSection, Qt::CaseInsensitive) == 0
                && aWrites[j].strKey.compare(aWrites[i].strKey, Qt::CaseInsensitive) == 0)
                strExpected = aWrites[j].strValue;
        }
        const QString strRead = profile.readString(aWrites[i].strSection, aWrites[i].strKey);
        if (strRead != flattened(strExpected)) {
            for (const Write &write : aWrites)
                fprintf(stderr, "write [%s] %s = \"%s\"\n", write.strSection.toUtf8().constData(),
                        write.strKey.toUtf8().constData(), write.strValue.toUtf8().constData());
            fprintf(stderr, "[%s] %s = \"%s\", expected \"%s\"\n",
                    aWrites[i].strSection.toUtf8().constData(),
                    aWrites[i].strKey.toUtf8().constData(), strRead.toUtf8().constData(),
                    flattened(strExpected).toUtf8().constData());
        }
        check(strRead == flattened(strExpected), pszWhen);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // In memory where possible: a save syncs the file, which on a disk costs more than the rest.
    static QTemporaryDir dir(
        (QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath())
        + QStringLiteral("/norvale-fuzz-XXXXXX"));
    const QString path = dir.filePath(QStringLiteral("Norvale.ini"));
    FuzzedDataProvider provider(data, size);

    std::vector<Write> aWrites(provider.ConsumeIntegralInRange<size_t>(0, 6));
    for (Write &write : aWrites) {
        write.strSection = name(provider, true);
        write.strKey = name(provider, false);
        write.strValue = QString::fromUtf8(provider.ConsumeRandomLengthString(40));
    }
    const std::string content = provider.ConsumeRemainingBytesAsString();
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(content.data(), qint64(content.size())) != qint64(content.size()))
        abort();
    file.close();

    IniProfile profile(path);
    profile.readInt(QStringLiteral("Common"), QStringLiteral("Mode"), 1);
    profile.readString(QStringLiteral("Original"), QStringLiteral("Folder#0"));
    for (const Write &write : aWrites)
        profile.writeString(write.strSection, write.strKey, write.strValue);
    checkWrites(profile, aWrites, "read after write");
    check(profile.save(), "save");
    checkWrites(IniProfile(path), aWrites, "read after save and load");
    return 0;
}
