#include "server/service/ServerSettings.h"

#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>

#include <algorithm>

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

// The names the settings file gives each choice, in the order of its enum; a paper of the user's
// size and a ratio are written as their numbers instead.
const char *const kPapers[] = {"Own", "A0", "A1", "A2", "A3", "A4"};
const char *const kOrientations[] = {"Auto", "Portrait", "Landscape"};
const char *const kScales[] = {"Own", "Fit"};
const char *const kColors[] = {"Color", "Grayscale", "Monochrome"};
const char *const kWeights[] = {"Drawing", "ByColor"};

template<typename E, size_t N>
bool setChoice(E &target, const QString &value, const char *const (&names)[N])
{
    for (size_t i = 0; i < N; ++i) {
        if (value.compare(QLatin1String(names[i]), Qt::CaseInsensitive) == 0) {
            target = E(i);
            return true;
        }
    }
    return false;
}

template<typename E, size_t N>
QString choiceName(E value, const char *const (&names)[N])
{
    return QLatin1String(names[std::min(size_t(value), N - 1)]);
}

// A number within [low, high]; never infinite or NaN, which no comparison lets through.
std::optional<double> number(const QString &text, double low, double high)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || !(value >= low && value <= high))
        return std::nullopt;
    return value;
}

QString numberText(double value)
{
    return QString::number(value, 'g', 10);
}

bool setPaper(PlotSettings &plot, const QString &value)
{
    if (setChoice(plot.paper, value, kPapers))
        return true;
    static const QRegularExpression times(QStringLiteral("[xX×*]"));
    const QStringList sides = value.split(times);
    if (sides.size() != 2)
        return false;
    const auto width = number(sides[0], S::kMinPaperSide, S::kMaxPaperSide);
    const auto height = number(sides[1], S::kMinPaperSide, S::kMaxPaperSide);
    if (!width || !height)
        return false;
    plot.paper = PlotSettings::Paper::Custom;
    plot.customWidth = *width;
    plot.customHeight = *height;
    return true;
}

QString paperText(const PlotSettings &plot)
{
    if (plot.paper == PlotSettings::Paper::Custom)
        return numberText(plot.customWidth) + u'x' + numberText(plot.customHeight);
    return choiceName(plot.paper, kPapers);
}

bool setScale(PlotSettings &plot, const QString &value)
{
    if (setChoice(plot.scale, value, kScales))
        return true;
    const qsizetype colon = value.indexOf(u':');
    if (colon < 0 || value.left(colon).trimmed() != QLatin1String("1"))
        return false;
    const auto ratio = number(value.mid(colon + 1), S::kMinRatio, S::kMaxRatio);
    if (!ratio)
        return false;
    plot.scale = PlotSettings::Scale::Ratio;
    plot.ratio = *ratio;
    return true;
}

QString scaleText(const PlotSettings &plot)
{
    if (plot.scale == PlotSettings::Scale::Ratio)
        return QStringLiteral("1:") + numberText(plot.ratio);
    return choiceName(plot.scale, kScales);
}

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
        {"Plot", "Paper", "", "Own",
         "the paper of PDF, SVG, HTM and EMF pages: Own (the sheet the drawing declares, or one "
         "sized to the drawing), A0, A1, A2, A3, A4, or width x height in millimetres (500x300)",
         [](S &s, const QString &v) {
             return setPaper(s.plot, v);
         }},
        {"Plot", "Orientation", "", "Auto",
         "Auto (the paper turned the way the drawing is), Portrait or Landscape",
         [](S &s, const QString &v) {
             return setChoice(s.plot.orientation, v, kOrientations);
         }},
        {"Plot", "Scale", "", "Own",
         "Own (the drawing's scale), Fit (as large as the paper allows) or 1:N, such as 1:50",
         [](S &s, const QString &v) {
             return setScale(s.plot, v);
         }},
        {"Plot", "Margin", "", "10", "the margin of every side of the paper, 0 to 100 mm",
         [](S &s, const QString &v) {
             const auto margin = number(v, 0, kMaxMargin);
             if (margin)
                 s.plot.margin = *margin;
             return margin.has_value();
         }},
        {"Plot", "Centered", "", "true",
         "true: the drawing in the middle of the paper; false: at its lower left corner",
         [](S &s, const QString &v) {
             const bool on = v.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
             const bool off = v.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0;
             if (on || off)
                 s.plot.centered = on;
             return on || off;
         }},
        {"Plot", "Colors", "", "Color",
         "Color, Grayscale, or Monochrome (every line and text black, white areas white)",
         [](S &s, const QString &v) {
             return setChoice(s.plot.colors, v, kColors);
         }},
        {"Plot", "LineWeights", "", "Drawing",
         "Drawing (the weights the drawing gives), or ByColor (WeightByColor's)",
         [](S &s, const QString &v) {
             return setChoice(s.plot.weights, v, kWeights);
         }},
        {"Plot", "WeightByColor", "", "",
         "for LineWeights=ByColor: colour numbers 1 to 255 with their weights in mm, 0.05 to "
         "2.11, such as 1:0.5,7:0.25; other colours keep the drawing's",
         [](S &s, const QString &v) {
             const auto table = weightTable(v);
             if (table)
                 s.plot.weightByColor = *table;
             return table.has_value();
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

bool ServerSettings::saveChoices(const ServerSettings &choices)
{
    QSettings file(filePath(), QSettings::IniFormat);
    file.setValue(QStringLiteral("AuthorName"), choices.authorName);
    file.setValue(QStringLiteral("Affiliation"), choices.affiliation);
    file.setValue(QStringLiteral("Output/DxfVersion"), DxfVersions::name(choices.dxfVersion));
    const PlotSettings &plot = choices.plot;
    file.setValue(QStringLiteral("Plot/Paper"), paperText(plot));
    file.setValue(QStringLiteral("Plot/Orientation"), choiceName(plot.orientation, kOrientations));
    file.setValue(QStringLiteral("Plot/Scale"), scaleText(plot));
    file.setValue(QStringLiteral("Plot/Margin"), numberText(plot.margin));
    file.setValue(QStringLiteral("Plot/Centered"),
                  plot.centered ? QStringLiteral("true") : QStringLiteral("false"));
    file.setValue(QStringLiteral("Plot/Colors"), choiceName(plot.colors, kColors));
    file.setValue(QStringLiteral("Plot/LineWeights"), choiceName(plot.weights, kWeights));
    file.setValue(QStringLiteral("Plot/WeightByColor"), weightTableText(plot.weightByColor));
    file.sync();
    return file.status() == QSettings::NoError;
}

std::optional<QHash<int, double>> ServerSettings::weightTable(const QString &text)
{
    QHash<int, double> table;
    for (const QString &entry : text.split(u',', Qt::SkipEmptyParts)) {
        if (entry.trimmed().isEmpty())
            continue;
        const QStringList pair = entry.split(u':');
        bool ok = false;
        const int index = pair.value(0).trimmed().toInt(&ok);
        const auto weight = number(pair.value(1), kMinWeight, kMaxWeight);
        // A colour given twice is a slip whichever weight was meant.
        if (pair.size() != 2 || !ok || index < 1 || index > 255 || !weight || table.contains(index))
            return std::nullopt;
        table.insert(index, *weight);
    }
    return table;
}

QString ServerSettings::weightTableText(const QHash<int, double> &table)
{
    QList<int> indexes = table.keys();
    std::sort(indexes.begin(), indexes.end());
    QStringList entries;
    for (int index : std::as_const(indexes))
        entries.append(QStringLiteral("%1:%2").arg(index).arg(numberText(table.value(index))));
    return entries.join(u',');
}
