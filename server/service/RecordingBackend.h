#pragma once

#include "server/service/DocumentBackend.h"

// Accepts every format the drawing program knows and saves a short UTF-8 text record of what
// was asked instead of a drawing: for tests of the client that need every pair of formats.
class RecordingBackend : public DocumentBackend
{
public:
    QString sourceRefusal(const QString &path) const override;
    QString targetRefusal(const QString &path) const override;
    bool open(const QString &path, const ServerSettings &settings, QString *errorMessage) override;
    bool save(const QString &path, const Drawing::SaveInfo &info, const ServerSettings &settings,
              QString *errorMessage) override;

private:
    QString m_currentPath;
};
