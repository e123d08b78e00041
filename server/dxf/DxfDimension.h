#pragma once

#include "server/drawing/Drawing.h"

#include <QHash>

// The lines, arrowheads and text of a DIMENSION that comes without its block, built from its
// definition points and type as CAD programs draw it, with the settings of its dimension style
// (the header's, its DIMSTYLE record's, then its own overrides).
class DxfDimension
{
public:
    // Dimension style settings by the group code DIMSTYLE records give them (40 DIMSCALE,
    // 41 DIMASZ, 140 DIMTXT, ...); texts (3 DIMPOST, 5 DIMBLK) apart.
    struct Settings
    {
        QHash<int, double> numbers;
        QHash<int, QString> texts;
        double number(int code, double fallback) const { return numbers.value(code, fallback); }
        // A flag, count or colour: what the file gives, within the range of an int.
        int integer(int code, int fallback) const
        {
            const double value = numbers.value(code, fallback);
            return value > -1e9 && value < 1e9 ? int(value) : fallback;
        }
    };

    struct Definition
    {
        int type = 0; // group 70 without its flags: 0 linear, 1 aligned, 2 angular, ...
        Drawing::Point points[7]; // groups 10 to 16, in millimetres
        bool has[7] = {};
        double angle = 0; // group 50, degrees: of a linear dimension's line
        QString text; // group 1: empty or "<>" the measurement, " " none
    };

    // The block's entities in drawing coordinates; `unit` is millimetres per drawing unit,
    // which the style's sizes and the measurement shown are in.
    static QVector<Drawing::Entity> build(const Definition &definition, const Settings &settings,
                                          double unit);
};
