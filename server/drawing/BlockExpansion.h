#pragma once

#include "server/drawing/Drawing.h"

namespace Drawing {

// The one walk over what drawing a model expands: every insert (rows and columns included) and
// every dimension becomes the entities of its block, and those blocks the blocks they place.
// Whoever expands inserts walks the model first with the limits it can afford, so that no
// drawing it accepts includes itself, nests deeper than `maxDepth` blocks or grows beyond
// `maxEntities` entities. Each copy of an insert counts once besides what its block holds, so
// that a million copies of an empty block cost what they take to place.
class BlockExpansion
{
public:
    enum class Outcome { Fits, IncludesItself, TooDeep, TooMany };

    BlockExpansion(const Model &model, qint64 maxEntities, int maxDepth);

    Outcome outcome() const { return m_outcome; }
    // The block that includes itself or reaches too deep, for the message; empty otherwise.
    const QString &block() const { return m_block; }

private:
    struct Expanded
    {
        qint64 size = 0; // entities, saturated just above maxEntities so that no product overflows
        int height = 0; // levels of blocks, this one included
    };

    qint64 size(const QVector<Entity> &entities, int *height);
    bool expand(const Block &block, Expanded *expanded);
    bool fail(Outcome outcome, const Block &block);

    BlockIndex m_index;
    qint64 m_maxEntities;
    int m_maxDepth;
    int m_depth = 0; // blocks being expanded around the current one
    QHash<const Block *, Expanded> m_expanded; // each block walked once; size -1 while walking it
    Outcome m_outcome = Outcome::Fits;
    QString m_block;
};

} // namespace Drawing
