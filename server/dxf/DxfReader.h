#pragma once

#include "server/drawing/DrawingReader.h"

// ASCII DXF from R12 to R2018 and binary DXF: model space, and each paper-space layout as a
// sheet with its plot settings and viewports. Images, 3D solids and other entities without a
// counterpart in the model are left out.
class DxfReader : public DrawingReader
{
public:
    // Inputs beyond this size are refused before parsing, so that the model built from them
    // stays well inside the server's memory budget.
    static constexpr qint64 kMaxInputBytes = 32 * 1024 * 1024;

protected:
    bool parse(const QByteArray &bytes, Drawing::Model &model, QString *errorMessage) override;
};
