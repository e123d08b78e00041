// The name and number texts: thousands separators, the size and time columns and target names.
#include "conversion/ConversionEngine.h"
#include "fuzz/FuzzCheck.h"
#include "panes/FileListModel.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider provider(data, size);
    const qint64 nNumber = provider.ConsumeIntegral<qint64>();
    FileListModel::SizeText(nNumber);
    FileListModel::TimeText(nNumber);

    // Separators are only ever added: taking them out again gives the text back.
    const QString strNumber = QString::fromUtf8(provider.ConsumeRandomLengthString(40));
    QString strSeparated = strNumber;
    InsertThousandsSeparators(strSeparated);
    check(QString(strSeparated).remove(u',') == QString(strNumber).remove(u','), "separators");

    const QString strExt = QString::fromUtf8(provider.ConsumeRandomLengthString(8)).toLower();
    const QString strName = QString::fromUtf8(provider.ConsumeRemainingBytesAsString());
    const QByteArray target = ConversionEngine::TargetName(strName.toUtf8(), strExt);
    const qsizetype nDot = strName.indexOf(u'.');
    check(nDot <= 0 ? target.isEmpty() : target == (strName.left(nDot + 1) + strExt).toUtf8(),
          "target name");
    return 0;
}
