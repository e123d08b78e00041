#include "server/service/ConvertingBackend.h"

#include "server/service/FormatRegistry.h"
#include "server/service/TargetFile.h"

#include <QFile>

namespace {

// No reader of this server accepts more; larger files are refused before they are read.
constexpr qint64 kMaxSourceBytes = 256 * 1024 * 1024;

} // namespace

QString ConvertingBackend::sourceRefusal(const QString &path) const
{
    const QString format = formatOf(path);
    if (FormatRegistry::readerFor(format))
        return QString();
    if (isDrawingSource(format))
        return QStringLiteral("図面ファイル %1 は %2 形式です。この図面サーバーは %2 形式の図面を"
                              "読み込めません。")
            .arg(shown(path), format);
    return QStringLiteral("図面ファイル %1 は読み込めない形式です。").arg(shown(path));
}

QString ConvertingBackend::targetRefusal(const QString &path) const
{
    const QString format = formatOf(path);
    if (FormatRegistry::writerFor(format))
        return QString();
    if (isDrawingTarget(format))
        return QStringLiteral("%1 は %2 形式です。この図面サーバーは %2 形式の図面を"
                              "書き出せません。")
            .arg(shown(path), format);
    return QStringLiteral("%1 には保存できない形式です。").arg(shown(path));
}

bool ConvertingBackend::open(const QString &path, const ServerSettings &settings,
                             QString *errorMessage)
{
    const auto failed = [&](const QString &reason) {
        *errorMessage
            = QStringLiteral("図面ファイル %1 を読み込めません（%2）。").arg(shown(path), reason);
        return false;
    };
    const std::unique_ptr<DrawingReader> reader = FormatRegistry::readerFor(formatOf(path));
    if (!reader)
        return failed(sourceRefusal(path));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return failed(file.errorString());
    if (file.size() > kMaxSourceBytes)
        return failed(QStringLiteral("%1 MB を超えています").arg(kMaxSourceBytes >> 20));
    const QByteArray bytes = file.read(kMaxSourceBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return failed(file.errorString());
    Drawing::Model model;
    QString reason;
    // The reader has checked what the drawing expands to: every writer can draw it.
    if (!reader->read(bytes, model, &reason))
        return failed(reason);
    m_model = std::move(model);
    m_plot = settings.plot;
    return true;
}

bool ConvertingBackend::save(const QString &path, const Drawing::SaveInfo &info,
                             const ServerSettings &settings, QString *errorMessage)
{
    const std::unique_ptr<DrawingWriter> writer
        = FormatRegistry::writerFor(formatOf(path), settings.dxfVersion, m_plot);
    QString reason;
    if (!writer) {
        *errorMessage = targetRefusal(path);
        return false;
    }
    const bool ok = TargetFile::write(
        path,
        [&](QIODevice &out, QString *error) { return writer->write(m_model, info, out, error); },
        &reason);
    if (!ok)
        *errorMessage
            = QStringLiteral("%1 に保存できませんでした（%2）。").arg(shown(path), reason);
    return ok;
}
