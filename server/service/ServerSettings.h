#pragma once

#include <QString>
#include <QStringList>

// Everything the stand-in is told at start: the stored author data and the knobs that let tests
// and demonstrations provoke versions, failures, delays and crashes.
struct ServerSettings
{
    // Converting is what a user gets; text records only when a settings file or variable asks.
    enum class Backend { Convert, Record };
    Backend backend = Backend::Convert;
    int version = 600;
    QStringList failOpen; // file names (no folder), compared without regard to case
    QStringList failSave;
    QString crashOn;
    int delayMs = 0;
    int idleMs = 5 * 60 * 1000;
    QString statsFile;
    QString authorName;
    QString affiliation;

    static QString filePath();
    static ServerSettings load();

    // Only the author data belongs to the user; the test knobs are never written back.
    static bool saveAuthor(const QString &authorName, const QString &affiliation);
};
