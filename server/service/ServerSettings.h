#pragma once

#include "server/dxf/DxfVersion.h"

#include <QString>
#include <QStringList>

#include <vector>

// Everything the server is told at start: the stored author data, the DXF version it writes, the
// backend, and the knobs that let tests and demonstrations provoke versions, failures, delays
// and crashes. One table
// lists every setting; it gives the defaults, drives load() and is what `tarsk-standin --help`
// prints, so that no second list can fall behind.
struct ServerSettings
{
    // Converting is what a user gets; text records only when a settings file or variable asks.
    enum class Backend { Convert, Record };

    // A setting: a key of the settings file and, for most, an environment variable. The key
    // wins over the variable; a blank value counts as unset.
    struct Setting
    {
        const char *section; // of the settings file: "General", "Output" or "Testing"
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

    // $XDG_CONFIG_HOME/tarsk-standin/standin.ini, or the file TARSK_STANDIN_SETTINGS names.
    static QString filePath();
    // Values it cannot read are left out, each with a line for `warnings` that names the key or
    // variable, the value and the default.
    static ServerSettings load(QStringList *warnings = nullptr);

    // Only what the window sets belongs to the user: the author data and the DXF version. The
    // test knobs are never written back.
    static bool saveChoices(const QString &authorName, const QString &affiliation,
                            DxfVersion dxfVersion);
};
