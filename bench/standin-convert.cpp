// Converts one drawing with the stand-in's own reader and writer, without D-Bus: for the
// README's picture and for looking at a single conversion.
//
//     standin-convert SOURCE TARGET [AUTHOR [AFFILIATION]]
//
// It reads the server's settings file (TARSK_STANDIN_SETTINGS, or the server's own path), so
// that a page comes out as the server would print it: a DXF target in the version [Output]
// DxfVersion names, a PDF, SVG, HTM or EMF target by the [Plot] settings.

#include "server/service/FormatRegistry.h"
#include "server/service/ServerSettings.h"

#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QSaveFile>

#include <cstdio>

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: standin-convert SOURCE TARGET [AUTHOR [AFFILIATION]]\n");
        return 2;
    }
    const QFileInfo source(args[1]), target(args[2]);
    QStringList warnings;
    const ServerSettings settings = ServerSettings::load(&warnings);
    for (const QString &warning : std::as_const(warnings))
        std::fprintf(stderr, "standin-convert: %s\n", qPrintable(warning));
    auto reader = FormatRegistry::readerFor(source.suffix().toUpper());
    auto writer
        = FormatRegistry::writerFor(target.suffix().toUpper(), settings.dxfVersion, settings.plot);
    if (!reader || !writer) {
        std::fprintf(stderr, "standin-convert: no %s reader or no %s writer\n",
                     qPrintable(source.suffix()), qPrintable(target.suffix()));
        return 1;
    }
    QFile in(source.filePath());
    if (!in.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "standin-convert: %s\n", qPrintable(in.errorString()));
        return 1;
    }
    Drawing::Model model;
    QString error;
    if (!reader->read(in.readAll(), model, &error)) {
        std::fprintf(stderr, "standin-convert: %s: %s\n", qPrintable(source.fileName()),
                     qPrintable(error));
        return 1;
    }
    const Drawing::SaveInfo info {target.completeBaseName(), args.value(3), args.value(4)};
    QSaveFile out(target.filePath());
    if (!out.open(QIODevice::WriteOnly) || !writer->write(model, info, out, &error)
        || !out.commit()) {
        std::fprintf(stderr, "standin-convert: %s: %s\n", qPrintable(target.fileName()),
                     qPrintable(error.isEmpty() ? out.errorString() : error));
        return 1;
    }
    return 0;
}
