#include "server/sxf/SxfTables.h"

#include <cmath>

namespace {

struct NamedColor
{
    const char *name;
    quint32 rgb;
};

const NamedColor colors[SxfTables::predefinedColors] = {
    {"black", 0x000000},     {"red", 0xff0000},      {"green", 0x00ff00},
    {"blue", 0x0000ff},      {"yellow", 0xffff00},   {"magenta", 0xff00ff},
    {"cyan", 0x00ffff},      {"white", 0xffffff},    {"deeppink", 0xc00080},
    {"brown", 0xc08040},     {"orange", 0xff8000},   {"lightgreen", 0x80c080},
    {"lightblue", 0x0080ff}, {"lavender", 0x8040ff}, {"lightgray", 0xc0c0c0},
    {"darkgray", 0x808080},
};

struct NamedLinetype
{
    const char *name;
    // Pitches in millimetres, dash first; what a plotter draws for the type at scale 1.
    double pitch[8];
    int count;
};

const NamedLinetype linetypes[SxfTables::predefinedLinetypes] = {
    {"continuous", {}, 0},
    {"dashed", {3, 1}, 2},
    {"dashed spaced", {3, 3}, 2},
    {"long dashed dotted", {12, 1.5, 0.25, 1.5}, 4},
    {"long dashed double-dotted", {12, 1.5, 0.25, 1.5, 0.25, 1.5}, 6},
    {"long dashed triplicate-dotted", {12, 1.5, 0.25, 1.5, 0.25, 1.5, 0.25, 1.5}, 8},
    {"dotted", {0.25, 1}, 2},
    {"chain", {12, 1.5, 3, 1.5}, 4},
    {"chain double dash", {12, 1.5, 3, 1.5, 3, 1.5}, 6},
    {"dashed dotted", {3, 1, 0.25, 1}, 4},
    {"double-dashed dotted", {3, 1, 3, 1, 0.25, 1}, 6},
    {"dashed double-dotted", {3, 1, 0.25, 1, 0.25, 1}, 6},
    {"double-dashed double-dotted", {3, 1, 3, 1, 0.25, 1, 0.25, 1}, 8},
    {"dashed triplicate-dotted", {3, 1, 0.25, 1, 0.25, 1, 0.25, 1}, 8},
    {"double-dashed triplicate-dotted", {3, 1, 3, 1, 0.25, 1, 0.25, 1}, 8},
};

const double widths[SxfTables::predefinedWidths]
    = {0.13, 0.18, 0.25, 0.35, 0.5, 0.7, 1.0, 1.4, 2.0};

// Files differ in case and in the spaces between words of a name.
QString normalized(const QString &name)
{
    return name.simplified().toLower();
}

} // namespace

int SxfTables::colorCode(const QString &name)
{
    const QString key = normalized(name);
    for (int i = 0; i < predefinedColors; ++i) {
        if (key == QLatin1String(colors[i].name))
            return i + 1;
    }
    return 0;
}

QString SxfTables::colorName(int code)
{
    return QLatin1String(colors[code - 1].name);
}

quint32 SxfTables::colorRgb(int code)
{
    return colors[code - 1].rgb;
}

int SxfTables::colorCodeForRgb(quint32 rgb)
{
    for (int i = 0; i < predefinedColors; ++i) {
        if (colors[i].rgb == (rgb & 0xffffff))
            return i + 1;
    }
    return 0;
}

int SxfTables::linetypeCode(const QString &name)
{
    const QString key = normalized(name);
    if (key == normalized(solidLinetype()))
        return 1;
    for (int i = 0; i < predefinedLinetypes; ++i) {
        if (key == QLatin1String(linetypes[i].name))
            return i + 1;
    }
    return 0;
}

QString SxfTables::linetypeName(int code)
{
    return code == 1 ? solidLinetype() : QString::fromLatin1(linetypes[code - 1].name);
}

QVector<double> SxfTables::linetypePattern(int code)
{
    QVector<double> pattern;
    const NamedLinetype &type = linetypes[code - 1];
    for (int i = 0; i < type.count; ++i)
        pattern.append(i % 2 ? -type.pitch[i] : type.pitch[i]);
    return pattern;
}

int SxfTables::widthCode(double millimetres)
{
    for (int i = 0; i < predefinedWidths; ++i) {
        if (std::fabs(widths[i] - millimetres) < 1e-9)
            return i + 1;
    }
    return 0;
}

double SxfTables::width(int code)
{
    return widths[code - 1];
}

Drawing::Point SxfTables::sheetSize(int type)
{
    static const Drawing::Point sizes[]
        = {{841, 1189}, {594, 841}, {420, 594}, {297, 420}, {210, 297}};
    return type >= 0 && type < 5 ? sizes[type] : Drawing::Point {};
}
