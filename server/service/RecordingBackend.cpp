#include "server/service/RecordingBackend.h"

#include "server/service/TargetFile.h"

#include <QDateTime>

QString RecordingBackend::sourceRefusal(const QString &path) const
{
    if (isDrawingSource(formatOf(path)))
        return QString();
    return QStringLiteral("図面ファイル %1 は読み込めない形式です。").arg(shown(path));
}

QString RecordingBackend::targetRefusal(const QString &path) const
{
    if (isDrawingTarget(formatOf(path)))
        return QString();
    return QStringLiteral("%1 には保存できない形式です。").arg(shown(path));
}

bool RecordingBackend::open(const QString &path, const ServerSettings &settings,
                            QString *errorMessage)
{
    Q_UNUSED(settings); // a record prints nothing
    Q_UNUSED(errorMessage);
    m_currentPath = path;
    return true;
}

bool RecordingBackend::save(const QString &path, const Drawing::SaveInfo &info,
                            const ServerSettings &settings, QString *errorMessage)
{
    Q_UNUSED(settings); // a record has no version
    const QString record
        = QStringLiteral("Norvale stand-in drawing server (tarsk-standin): "
                         "a placeholder, not a real drawing.\n"
                         "source: %1\n"
                         "source-format: %2\n"
                         "target-format: %3\n"
                         "author-name: %4\n"
                         "affiliation: %5\n"
                         "saved: %6\n")
              .arg(m_currentPath, formatOf(m_currentPath), formatOf(path), info.authorName,
                   info.affiliation, QDateTime::currentDateTime().toString(Qt::ISODateWithMs));
    QString reason;
    const bool ok = TargetFile::write(
        path,
        [&record](QIODevice &out, QString *) {
            const QByteArray bytes = record.toUtf8();
            return out.write(bytes) == bytes.size();
        },
        &reason);
    if (!ok)
        *errorMessage
            = QStringLiteral("%1 に保存できませんでした（%2）。").arg(shown(path), reason);
    return ok;
}
