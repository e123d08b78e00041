#include "server/drawing/BlockExpansion.h"

#include <algorithm>

namespace Drawing {

BlockExpansion::BlockExpansion(const Model &model, qint64 maxEntities, int maxDepth)
    : m_index(model)
    , m_maxEntities(maxEntities)
    , m_maxDepth(maxDepth)
{
    int height = 0;
    if (size(model.entities, &height) > m_maxEntities && m_outcome == Outcome::Fits)
        m_outcome = Outcome::TooMany;
}

qint64 BlockExpansion::size(const QVector<Entity> &entities, int *height)
{
    const qint64 saturated = m_maxEntities + 1;
    qint64 total = 0;
    *height = 0;
    for (const Entity &entity : entities) {
        qint64 count = 1;
        QString name;
        if (const auto *insert = std::get_if<Insert>(&entity.shape)) {
            name = insert->block;
            count = std::min(saturated,
                             qint64(std::max(1, insert->rows)) * std::max(1, insert->columns));
        } else if (const auto *dimension = std::get_if<Dimension>(&entity.shape)) {
            name = dimension->block;
        } else if (const auto *leader = std::get_if<MultiLeader>(&entity.shape)) {
            if (!leader->block.isEmpty())
                name = leader->block.first().block;
        }
        if (const Block *block = name.isEmpty() ? nullptr : m_index.find(name)) {
            Expanded inner;
            if (!expand(*block, &inner))
                return -1;
            count = std::min(saturated, count * std::min(saturated, inner.size + 1));
            *height = std::max(*height, inner.height);
        }
        total = std::min(saturated, total + count);
    }
    return total;
}

bool BlockExpansion::expand(const Block &block, Expanded *expanded)
{
    const auto known = m_expanded.constFind(&block);
    if (known != m_expanded.cend()) {
        if (known->size < 0)
            return fail(Outcome::IncludesItself, block);
        // Walked before from elsewhere: its levels count from here now.
        if (m_depth + known->height > m_maxDepth)
            return fail(Outcome::TooDeep, block);
        *expanded = *known;
        return true;
    }
    if (m_depth >= m_maxDepth)
        return fail(Outcome::TooDeep, block);
    m_expanded.insert(&block, {-1, 0});
    ++m_depth;
    int height = 0;
    const qint64 size = this->size(block.entities, &height);
    --m_depth;
    if (size < 0)
        return false;
    *expanded = {size, height + 1};
    m_expanded.insert(&block, *expanded);
    return true;
}

bool BlockExpansion::fail(Outcome outcome, const Block &block)
{
    m_outcome = outcome;
    m_block = block.name;
    return false;
}

} // namespace Drawing
