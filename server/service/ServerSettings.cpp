#include "server/service/ServerSettings.h"

#include <QSettings>
#include <QStandardPaths>

namespace {

// The activation environment of a bus cannot drop a variable, only blank it, so a blank value
// has to mean "not set".
QString environmentValue(const char *name)
{
    return qEnvironmentVariable(name).trimmed();
}

QStringList splitNames(const QString &text)
{
    QStringList names;
    for (const QString &name : text.split(u',', Qt::SkipEmptyParts)) {
        if (!name.trimmed().isEmpty())
            names.append(name.trimmed());
    }
    return names;
}

void overrideInt(int &target, const QString &text)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (ok)
        target = value;
}

void overrideBackend(ServerSettings::Backend &target, const QString &text)
{
    if (text.compare(QLatin1String("record"), Qt::CaseInsensitive) == 0)
        target = ServerSettings::Backend::Record;
    else if (text.compare(QLatin1String("convert"), Qt::CaseInsensitive) == 0)
        target = ServerSettings::Backend::Convert;
}

} // namespace

QString ServerSettings::filePath()
{
    const QString explicitPath = environmentValue("TARSK_STANDIN_SETTINGS");
    if (!explicitPath.isEmpty())
        return explicitPath;
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/tarsk-standin/standin.ini");
}

ServerSettings ServerSettings::load()
{
    ServerSettings result;
    overrideInt(result.version, environmentValue("TARSK_STANDIN_VERSION"));
    result.failOpen = splitNames(environmentValue("TARSK_STANDIN_FAIL_OPEN"));
    result.failSave = splitNames(environmentValue("TARSK_STANDIN_FAIL_SAVE"));
    result.crashOn = environmentValue("TARSK_STANDIN_CRASH_ON");
    overrideInt(result.delayMs, environmentValue("TARSK_STANDIN_DELAY_MS"));
    overrideInt(result.idleMs, environmentValue("TARSK_STANDIN_IDLE_MS"));
    result.statsFile = environmentValue("TARSK_STANDIN_STATS_FILE");
    overrideBackend(result.backend, environmentValue("TARSK_STANDIN_BACKEND"));

    QSettings file(filePath(), QSettings::IniFormat);
    // In a hand-written file an unquoted comma makes the INI reader hand back a list.
    const auto text = [&file](const char *key) {
        return file.value(QLatin1String(key)).toStringList().join(u',').trimmed();
    };
    result.authorName = text("AuthorName");
    result.affiliation = text("Affiliation");
    overrideBackend(result.backend, text("Backend"));

    file.beginGroup(QStringLiteral("Testing"));
    const auto overrideText = [](QString &target, const QString &value) {
        if (!value.isEmpty())
            target = value;
    };
    overrideInt(result.version, text("Version"));
    if (!text("FailOpen").isEmpty())
        result.failOpen = splitNames(text("FailOpen"));
    if (!text("FailSave").isEmpty())
        result.failSave = splitNames(text("FailSave"));
    overrideText(result.crashOn, text("CrashOn"));
    overrideInt(result.delayMs, text("DelayMs"));
    overrideInt(result.idleMs, text("IdleMs"));
    overrideText(result.statsFile, text("StatsFile"));
    return result;
}

bool ServerSettings::saveAuthor(const QString &authorName, const QString &affiliation)
{
    QSettings file(filePath(), QSettings::IniFormat);
    file.setValue(QStringLiteral("AuthorName"), authorName);
    file.setValue(QStringLiteral("Affiliation"), affiliation);
    file.sync();
    return file.status() == QSettings::NoError;
}
