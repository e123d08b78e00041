#pragma once

#include "server/drawing/DrawingReader.h"

// Reads JWW drawings, versions 3.51 to 8.x, as their program's published description of its
// serialized classes gives them: the "JwwData." signature, version, memo, paper size, layer
// groups and settings, then the shapes (lines, circles and arcs, points, text, solids,
// dimensions, block references) and the block definitions. Text is Shift-JIS.
class JwwReader : public DrawingReader
{
public:
    // The version number of the drawing last read (351 for 3.51, 700 for 7.00 to 8.x).
    int version() const { return m_version; }
    QString memo() const { return m_memo; }

protected:
    bool parse(const QByteArray &bytes, Drawing::Model &model, QString *errorMessage) override;

private:
    int m_version = 0;
    QString m_memo;
};
