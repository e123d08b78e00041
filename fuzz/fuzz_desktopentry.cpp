// Desktop entries and their Exec values: any entry file, any Exec text with field codes and
// %NAME% references, split and cut down to a program as the launch button does (nothing is
// started); and the same entry asked whether it opens a type, as opening a file asks. An entry
// that names the type in its MimeType, with an Exec and nothing that hides it, must be found.
#include "platform/DesktopEntry.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // In memory where possible: a save syncs the file, which on a disk costs more than the rest.
    static QTemporaryDir dir(
        (QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath())
        + QStringLiteral("/norvale-fuzz-XXXXXX"));
    static const bool bReady = [] {
        QDir().mkpath(dir.filePath(QStringLiteral("applications")));
        qputenv("XDG_DATA_HOME", QFile::encodeName(dir.path()));
        qputenv("XDG_DATA_DIRS", "/nonexistent");
        // References that expand to text holding more references and field codes.
        qputenv("NORVALE_FUZZ_A", "%NORVALE_FUZZ_B% %f \"q\\\"");
        qputenv("NORVALE_FUZZ_B", "/opt/x y/%%");
        return true;
    }();
    (void)bReady;

    FuzzedDataProvider provider(data, size);
    const QString strExec = QString::fromUtf8(provider.ConsumeRandomLengthString(200));
    const QString strExpanded = Platform::ExpandExecValue(strExec);
    Platform::ExecutableFromCommand(strExpanded);
    Platform::SplitCommandLine(strExpanded);
    Platform::SplitCommandLine(strExec);

    const QString strType = QString::fromUtf8(provider.ConsumeRandomLengthString(40));
    const std::string entry = provider.ConsumeRemainingBytesAsString();
    QFile file(dir.filePath(QStringLiteral("applications/Tarsk.Document.desktop")));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(entry.data(), qint64(entry.size())) != qint64(entry.size()))
        abort();
    file.close();
    const QString strCommand
        = Platform::DesktopEntryCommand(QStringLiteral("Tarsk.Document.desktop"));
    Platform::SplitCommandLine(Platform::ExecutableFromCommand(strCommand));
    const QString strProgram = Platform::DesktopEntryForTypes({strType});
    // A plain entry made of the type itself is found whatever the fuzzed one holds.
    if (!strType.isEmpty() && !strType.contains(QLatin1Char(';')) && strType.trimmed() == strType
        && !strType.contains(QLatin1Char('\n')) && !strType.contains(QLatin1Char('\\'))) {
        QFile plain(dir.filePath(QStringLiteral("applications/zz-plain.desktop")));
        if (!plain.open(QIODevice::WriteOnly | QIODevice::Truncate)
            || plain.write("[Desktop Entry]\nName=Plain\nExec=plain %f\nMimeType="
                           + strType.toUtf8() + ";\n")
                < 0)
            abort();
        plain.close();
        if (Platform::DesktopEntryForTypes({strType}).isEmpty())
            abort();
        plain.remove();
    }
    (void)strProgram;
    return 0;
}
