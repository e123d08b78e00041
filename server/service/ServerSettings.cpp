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

bool setInt(int &target, const QString &text)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (ok)
        target = value;
    return ok;
}

using S = ServerSettings;

} // namespace

const std::vector<ServerSettings::Setting> &ServerSettings::table()
{
    static const std::vector<Setting> settings = {
        {"General", "AuthorName", "", "",
         "what GetAuthorName answers, and the author name every opened drawing starts with",
         [](S &s, const QString &v) {
             s.authorName = v;
             return true;
         }},
        {"General", "Affiliation", "", "", "the same for GetAffiliation and the affiliation",
         [](S &s, const QString &v) {
             s.affiliation = v;
             return true;
         }},
        {"General", "Backend", "TARSK_STANDIN_BACKEND", "convert",
         "convert, or record: save a text record of what was asked (for Norvale's tests)",
         [](S &s, const QString &v) {
             if (v.compare(QLatin1String("record"), Qt::CaseInsensitive) == 0)
                 s.backend = Backend::Record;
             else if (v.compare(QLatin1String("convert"), Qt::CaseInsensitive) == 0)
                 s.backend = Backend::Convert;
             else
                 return false;
             return true;
         }},
        {"Output", "DxfVersion", "", "R2000",
         "the DXF version SaveAs writes: R12, R2000, R2004, R2007, R2010, R2013 or R2018 (from "
         "R2007 on in UTF-8); read again for every drawing saved",
         [](S &s, const QString &v) {
             const std::optional<DxfVersion> version = DxfVersions::fromName(v);
             if (version)
                 s.dxfVersion = *version;
             return version.has_value();
         }},
        {"Testing", "Version", "TARSK_STANDIN_VERSION", "600", "what GetVersion answers",
         [](S &s, const QString &v) {
             return setInt(s.version, v);
         }},
        {"Testing", "FailOpen", "TARSK_STANDIN_FAIL_OPEN", "",
         "comma-separated file names (no folder, any case) whose Open fails with an error reply",
         [](S &s, const QString &v) {
             s.failOpen = splitNames(v);
             return true;
         }},
        {"Testing", "FailSave", "TARSK_STANDIN_FAIL_SAVE", "", "the same for SaveAs",
         [](S &s, const QString &v) {
             s.failSave = splitNames(v);
             return true;
         }},
        {"Testing", "CrashOn", "TARSK_STANDIN_CRASH_ON", "",
         "a file name on which Open or SaveAs exits at once without replying (exit status 3)",
         [](S &s, const QString &v) {
             s.crashOn = v;
             return true;
         }},
        {"Testing", "DelayMs", "TARSK_STANDIN_DELAY_MS", "0",
         "a pause at the start of every call, in milliseconds",
         [](S &s, const QString &v) {
             return setInt(s.delayMs, v);
         }},
        {"Testing", "IdleMs", "TARSK_STANDIN_IDLE_MS", "300000",
         "exit after this many milliseconds without a call",
         [](S &s, const QString &v) {
             return setInt(s.idleMs, v);
         }},
        {"Testing", "StatsFile", "TARSK_STANDIN_STATS_FILE", "",
         "at exit, append \"calls=N busy_us=M\": the calls taken and the time spent inside them",
         [](S &s, const QString &v) {
             s.statsFile = v;
             return true;
         }},
    };
    return settings;
}

ServerSettings::ServerSettings()
{
    for (const Setting &setting : table()) {
        if (*setting.byDefault)
            setting.apply(*this, QString::fromUtf8(setting.byDefault));
    }
}

QString ServerSettings::filePath()
{
    const QString explicitPath = environmentValue("TARSK_STANDIN_SETTINGS");
    if (!explicitPath.isEmpty())
        return explicitPath;
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/tarsk-standin/standin.ini");
}

ServerSettings ServerSettings::load(QStringList *warnings)
{
    ServerSettings result;
    const QString path = filePath();
    QSettings file(path, QSettings::IniFormat);
    const auto apply = [&](const Setting &setting, const QString &value, const QString &where) {
        if (setting.apply(result, value) || !warnings)
            return;
        warnings->append(QStringLiteral("%1: \"%2\" is not a value it takes; ignored%3")
                             .arg(where, value,
                                  *setting.byDefault ? QStringLiteral(" (the default is %1)")
                                                           .arg(QLatin1String(setting.byDefault))
                                                     : QString()));
    };
    for (const Setting &setting : table()) {
        if (*setting.variable) {
            const QString value = environmentValue(setting.variable);
            if (!value.isEmpty())
                apply(setting, value, QString::fromUtf8(setting.variable));
        }
        // [General] is where QSettings keeps the keys of no group. In a hand-written file an
        // unquoted comma makes the INI reader hand back a list.
        const QString key = qstrcmp(setting.section, "General") == 0
            ? QString::fromUtf8(setting.key)
            : QStringLiteral("%1/%2").arg(QString::fromUtf8(setting.section),
                                          QString::fromUtf8(setting.key));
        const QString value = file.value(key).toStringList().join(u',').trimmed();
        if (!value.isEmpty())
            apply(
                setting, value,
                QStringLiteral("%1 [%2] %3")
                    .arg(path, QString::fromUtf8(setting.section), QString::fromUtf8(setting.key)));
    }
    return result;
}

bool ServerSettings::saveChoices(const QString &authorName, const QString &affiliation,
                                 DxfVersion dxfVersion)
{
    QSettings file(filePath(), QSettings::IniFormat);
    file.setValue(QStringLiteral("AuthorName"), authorName);
    file.setValue(QStringLiteral("Affiliation"), affiliation);
    file.setValue(QStringLiteral("Output/DxfVersion"), DxfVersions::name(dxfVersion));
    file.sync();
    return file.status() == QSettings::NoError;
}
