#include "server/drawing/DrawingReader.h"

#include "server/drawing/BlockExpansion.h"

bool DrawingReader::read(const QByteArray &bytes, Drawing::Model &model, QString *errorMessage)
{
    if (!parse(bytes, model, errorMessage))
        return false;
    const Drawing::BlockExpansion expansion(model, kMaxExpandedEntities, kMaxBlockDepth);
    QString error;
    switch (expansion.outcome()) {
    case Drawing::BlockExpansion::Outcome::Fits:
        return true;
    case Drawing::BlockExpansion::Outcome::IncludesItself:
        error = QStringLiteral("ブロック %1 が自分自身を含んでいます").arg(expansion.block());
        break;
    case Drawing::BlockExpansion::Outcome::TooDeep:
        error = QStringLiteral("ブロックの入れ子が %1 段を超えています").arg(kMaxBlockDepth);
        break;
    case Drawing::BlockExpansion::Outcome::TooMany:
        error = QStringLiteral("ブロックを展開すると図形が %1 個を超えます")
                    .arg(kMaxExpandedEntities);
        break;
    }
    model = Drawing::Model();
    if (errorMessage)
        *errorMessage = error;
    return false;
}
