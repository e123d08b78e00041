#pragma once

#include <QHash>

// How the user wants drawings printed: the paper, the scale, the margins, the colours and the
// line weights of every page the graphical writers make. The defaults print each drawing as it
// declares itself; a drawing that declares no sheet gets a page sized to it.
struct PlotSettings
{
    enum class Paper { Own, A0, A1, A2, A3, A4, Custom };
    enum class Orientation { Automatic, Portrait, Landscape };
    enum class Scale { Own, Fit, Ratio };
    enum class Colors { Color, Grayscale, Monochrome };
    enum class Weights { Drawing, ByColor };

    Paper paper = Paper::Own;
    double customWidth = 0; // millimetres, for Paper::Custom
    double customHeight = 0;
    Orientation orientation = Orientation::Automatic;
    Scale scale = Scale::Own;
    double ratio = 100; // 1:ratio, for Scale::Ratio
    double margin = 10; // millimetres on every side of a page this settings lay out
    bool centered = true;
    Colors colors = Colors::Color;
    Weights weights = Weights::Drawing;
    QHash<int, double> weightByColor; // colour index (1-255) to millimetres, for Weights::ByColor

    bool operator==(const PlotSettings &o) const
    {
        return paper == o.paper && customWidth == o.customWidth && customHeight == o.customHeight
            && orientation == o.orientation && scale == o.scale && ratio == o.ratio
            && margin == o.margin && centered == o.centered && colors == o.colors
            && weights == o.weights && weightByColor == o.weightByColor;
    }
    bool operator!=(const PlotSettings &other) const { return !(*this == other); }
};
