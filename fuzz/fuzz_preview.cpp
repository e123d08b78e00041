// The preview's reading of a page: PDF, SVG or an HTML page with an inline SVG, from anyone's
// folder. The first byte picks the kind, the rest is the file.
#include "conversion/PreviewRenderer.h"
#include "fuzz/FuzzCheck.h"

#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static int nArgc = 1;
    static char szName[] = "fuzz_preview";
    static char *apszArgv[] = {szName, nullptr};
    // Never destroyed: at the process's end the drawing thread is no longer there to stop.
    static QGuiApplication *pApp = new QGuiApplication(nArgc, apszArgv);
    static QTemporaryDir dir;
    static PreviewRenderer &renderer = *new PreviewRenderer(pApp);
    static int nSerial = 0;
    if (size < 1)
        return 0;

    const PreviewRenderer::Kind kind = data[0] % 3 == 0 ? PreviewRenderer::Kind::Pdf
        : data[0] % 3 == 1                              ? PreviewRenderer::Kind::Svg
                                                        : PreviewRenderer::Kind::Htm;
    const QString strPath = dir.filePath(QStringLiteral("page"));
    {
        QFile file(strPath);
        check(file.open(QIODevice::WriteOnly), "temporary file");
        file.write(reinterpret_cast<const char *>(data) + 1, qint64(size - 1));
    }

    // A file that holds the drawing thread for good shows as libFuzzer's timeout.
    QEventLoop loop;
    PreviewRenderer::PageInfo info;
    const int nLoad = ++nSerial;
    const QMetaObject::Connection loaded
        = QObject::connect(&renderer, &PreviewRenderer::loaded, &loop,
                           [&](int nGot, const PreviewRenderer::PageInfo &got) {
                               check(nGot == nLoad, "the page of the load asked for");
                               info = got;
                               loop.quit();
                           });
    renderer.Load(nLoad, kind, strPath, true);
    loop.exec();
    QObject::disconnect(loaded);
    check(!QFile::exists(strPath), "a temporary file removed once read");
    if (!info.strError.isEmpty())
        return 0;
    check(info.size.width() > 0 && info.size.height() > 0, "a page has an area");
    static const QRegularExpression scaleRe(QStringLiteral("^([0-9]+:[0-9]+)?$"));
    check(scaleRe.match(info.strScale).hasMatch(), "the scale as 1:n");

    // The page at a small size, and a piece of it deep inside, as a zoom asks for.
    const QSize scaled = info.size.scaled(QSizeF(96, 96), Qt::KeepAspectRatio).toSize();
    if (scaled.isEmpty())
        return 0;
    for (const auto &[layer, scaledAt, clip] :
         {std::tuple(PreviewRenderer::PageLayer, scaled, QRect(QPoint(), scaled)),
          std::tuple(PreviewRenderer::DetailLayer, scaled * 40, QRect(100, 100, 64, 48))}) {
        QImage image;
        const QMetaObject::Connection rendered
            = QObject::connect(&renderer, &PreviewRenderer::rendered, &loop,
                               [&](int, int, const QImage &got, const QSize &, const QRect &) {
                                   image = got;
                                   loop.quit();
                               });
        renderer.Render(nLoad, layer, scaledAt, clip);
        // A clip outside the page is never drawn.
        if (clip.intersects(QRect(QPoint(), scaledAt)))
            loop.exec();
        QObject::disconnect(rendered);
        check(image.isNull() || image.size() == (clip & QRect(QPoint(), scaledAt)).size(),
              "the picture of the part asked for");
    }
    return 0;
}
