#pragma once

#include "server/drawing/Drawing.h"

// The plain entities a multiline or a multileader is drawn with, in its own coordinates: lines,
// arcs, fills, arrowheads, its text and block. Entities on layer "0" with colours and linetypes
// by block, so that whoever draws them as the entities of a block gets them on the shape's layer
// in its pen, except where the shape gives its own (an element's colour and linetype). The
// renderer draws them; formats without such shapes write them.
class CompositeShapes
{
public:
    static QVector<Drawing::Entity> entities(const Drawing::Multiline &multiline);
    static QVector<Drawing::Entity> entities(const Drawing::MultiLeader &leader);
    // The style a part has when the shape is written as its parts: what it takes from its
    // shape (its layer, and what is by block) resolved.
    static Drawing::Style placed(const Drawing::Style &part, const Drawing::Style &shape);
    // Visible edges of a face, each run of them one polyline.
    static QVector<Drawing::Polyline> edges(const Drawing::Face &face);
};
