#pragma once

#include "server/drawing/Drawing.h"

// B-splines as the model keeps them: flattened into points. Readers of every format that has
// splines build them here, so that a curve looks the same whichever file it came from.
class Spline
{
public:
    // Points along a (rational) B-spline from its knots and control points, at most maxPoints;
    // the control points themselves when they do not make a spline.
    static QVector<Drawing::Point> flatten(int degree, const QVector<double> &knots,
                                           const QVector<Drawing::Point> &points,
                                           const QVector<double> &weights, int maxPoints);

    // The cubic through fit points as CAD programs build it when a file gives no control points:
    // chord-length parameters, the interior parameters as knots, and end tangents as given or
    // estimated from five points, their length that of the fit polygon. Null tangents are
    // estimated. The fit points themselves when no curve can pass through them.
    static QVector<Drawing::Point> throughFitPoints(const QVector<Drawing::Point> &fit,
                                                    const Drawing::Point *startTangent,
                                                    const Drawing::Point *endTangent,
                                                    int maxPoints);
};
