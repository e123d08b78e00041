#pragma once

#include "server/drawing/Drawing.h"

#include <QString>

// The code tables every SXF drawing shares: sixteen predefined colours, fifteen predefined line
// types and nine predefined widths, each with a fixed code, and the ranges that user-defined
// entries of a drawing number into. Reader and writer use the same table so that a round trip
// gives back the same codes.
class SxfTables
{
public:
    static constexpr int predefinedColors = 16;
    static constexpr int firstUserColor = 17;
    static constexpr int lastUserColor = 256;
    static constexpr int predefinedLinetypes = 15;
    static constexpr int firstUserLinetype = 16;
    static constexpr int lastUserLinetype = 32;
    static constexpr int predefinedWidths = 9;
    static constexpr int firstUserWidth = 10;
    static constexpr int lastUserWidth = 16;

    // Code 1..16 for a predefined colour name (case and spaces ignored), 0 when none.
    static int colorCode(const QString &name);
    static QString colorName(int code); // code 1..16
    static quint32 colorRgb(int code); // code 1..16
    // The predefined colour painted exactly as `rgb`, 0 when none.
    static int colorCodeForRgb(quint32 rgb);

    static int linetypeCode(const QString &name); // 1..15, 0 when none
    static QString linetypeName(int code); // 1..15
    // Dash pattern of a predefined line type in millimetres, as the model keeps it.
    static QVector<double> linetypePattern(int code);

    static int widthCode(double millimetres); // 1..9, 0 when none
    static double width(int code); // 1..9

    // Drawing sheet sizes: A0 to A4 by type 0 to 4, portrait (width less than height); the
    // landscape sheet is the same turned. Type 9 is free, its size given with it.
    static constexpr int freeSheet = 9;
    static Drawing::Point sheetSize(int type); // 0 × 0 for a type that is no A size

    // The line type name the model uses for SXF's solid line.
    static QString solidLinetype() { return QStringLiteral("CONTINUOUS"); }
};
