#pragma once

#include "server/service/DocumentBackend.h"

// Reads the drawing into the model with the format registry's reader and draws the model with
// its writer. Formats without one are refused with a message that names them.
class ConvertingBackend : public DocumentBackend
{
public:
    QString sourceRefusal(const QString &path) const override;
    QString targetRefusal(const QString &path) const override;
    bool open(const QString &path, const ServerSettings &settings, QString *errorMessage) override;
    bool save(const QString &path, const Drawing::SaveInfo &info, const ServerSettings &settings,
              QString *errorMessage) override;

private:
    Drawing::Model m_model;
    PlotSettings m_plot; // as the settings were when the drawing was opened
};
