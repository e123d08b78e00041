#pragma once

#include "server/drawing/PlotSettings.h"
#include "server/dxf/DxfVersion.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// Everything the server is told at start: the stored author data, the DXF version it writes, how
// it prints drawings, the backend, and the knobs that let tests and demonstrations provoke
// versions, failures, delays and crashes. One table lists every setting; it gives the defaults,
// drives load() and is what `tarsk-standin --help` prints, so that no second list can fall behind.
struct ServerSettings
{
    // Converting is what a user gets; text records only when a settings file or variable asks.
    enum class Backend { Convert, Record };

    // A setting: a key of the settings file and, for most, an environment variable. The key
    // wins over the variable; a blank value counts as unset.
    struct Setting
    {
        const char *section; // of the settings file: "General", "Output", "Plot" or "Testing"
        const char *key;
        const char *variable; // empty when none
        const char *byDefault; // empty when unset
        const char *meaning;
        // Takes a value that is not blank; false for one it cannot read, which leaves the
        // setting as it was.
        bool (*apply)(ServerSettings &settings, const QString &value);
    };
    static const std::vector<Setting> &table();

    ServerSettings(); // the defaults of the table

    // What the plot settings' numbers may be, in millimetres; the window's fields keep to the
    // same. A PDF page is at most 200 inches a side.
    static constexpr double kMinPaperSide = 10;
    static constexpr double kMaxPaperSide = 5080;
    static constexpr double kMaxMargin = 100;
    static constexpr double kMinRatio = 0.01; // 1:0.01, a hundred times enlarged
    static constexpr double kMaxRatio = 100000;
    static constexpr double kMinWeight = 0.05; // the range of CAD programs' lineweights
    static constexpr double kMaxWeight = 2.11;

    Backend backend = Backend::Convert;
    int version = 0;
    QStringList failOpen; // file names (no folder), compared without regard to case
    QStringList failSave;
    QString crashOn;
    int delayMs = 0;
    int idleMs = 0;
    QString statsFile;
    QString authorName;
    QString affiliation;
    DxfVersion dxfVersion = DxfVersions::kDefault;
    PlotSettings plot;

    // $XDG_CONFIG_HOME/tarsk-standin/standin.ini, or the file TARSK_STANDIN_SETTINGS names.
    static QString filePath();
    // Values it cannot read are left out, each with a line for `warnings` that names the key or
    // variable, the value and the default.
    static ServerSettings load(QStringList *warnings = nullptr);

    // Only what the window sets belongs to the user: the author data, the DXF version and the
    // plot settings of `choices`. The test knobs are never written back, nor keys of other
    // programs' making touched.
    static bool saveChoices(const ServerSettings &choices);

    // [Plot] WeightByColor: "1:0.5,7:0.25", colour index 1-255 to 0.05-2.11 mm; none for a
    // text that is not such a list. The window edits the table as this text.
    static std::optional<QHash<int, double>> weightTable(const QString &text);
    static QString weightTableText(const QHash<int, double> &table);
};
