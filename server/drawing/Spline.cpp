#include "server/drawing/Spline.h"

#include <cmath>

using namespace Drawing;

namespace {

Point operator+(const Point &a, const Point &b)
{
    return {a.x + b.x, a.y + b.y};
}

Point operator-(const Point &a, const Point &b)
{
    return {a.x - b.x, a.y - b.y};
}

Point operator*(double f, const Point &p)
{
    return {f * p.x, f * p.y};
}

double cross(const Point &a, const Point &b)
{
    return a.x * b.y - a.y * b.x;
}

double length(const Point &p)
{
    return std::hypot(p.x, p.y);
}

// A point of a (rational) B-spline by de Boor's algorithm.
Point deBoor(int degree, const QVector<double> &knots, const QVector<Point> &points,
             const QVector<double> &weights, int span, double t)
{
    double x[16];
    double y[16];
    double w[16];
    for (int j = 0; j <= degree; ++j) {
        const int index = span - degree + j;
        const double weight = weights.size() == points.size() ? weights[index] : 1.0;
        x[j] = points[index].x * weight;
        y[j] = points[index].y * weight;
        w[j] = weight;
    }
    for (int r = 1; r <= degree; ++r) {
        for (int j = degree; j >= r; --j) {
            const int i = span - degree + j;
            const double denominator = knots[i + degree - r + 1] - knots[i];
            const double alpha = denominator == 0 ? 0 : (t - knots[i]) / denominator;
            x[j] = (1 - alpha) * x[j - 1] + alpha * x[j];
            y[j] = (1 - alpha) * y[j - 1] + alpha * y[j];
            w[j] = (1 - alpha) * w[j - 1] + alpha * w[j];
        }
    }
    const double weight = w[degree] == 0 ? 1 : w[degree];
    return {x[degree] / weight, y[degree] / weight};
}

// The four cubic basis functions that do not vanish at t in knot span `span`.
void cubicBasis(const QVector<double> &knots, int span, double t, double basis[4])
{
    double left[4];
    double right[4];
    basis[0] = 1;
    for (int j = 1; j <= 3; ++j) {
        left[j] = t - knots[span + 1 - j];
        right[j] = knots[span + j] - t;
        double saved = 0;
        for (int r = 0; r < j; ++r) {
            const double denominator = right[r + 1] + left[j - r];
            const double term = denominator == 0 ? 0 : basis[r] / denominator;
            basis[r] = saved + right[r + 1] * term;
            saved = left[j - r] * term;
        }
        basis[j] = saved;
    }
}

// The direction of the curve at its first fit point from the first five (mirrored beyond the
// end), which is what the curves of CAD programs come closest to.
Point estimatedStartTangent(const Point &p0, const Point &p1, const Point &p2)
{
    const Point q1 = p1 - p0;
    const Point q2 = p2 - p1;
    const Point q0 = 2 * q1 - q2;
    const Point qm = 2 * q0 - q1;
    const double before = std::fabs(cross(qm, q0));
    const double after = std::fabs(cross(q1, q2));
    const double alpha = before + after > 0 ? before / (before + after) : 0.5;
    return (1 - alpha) * q0 + alpha * q1;
}

} // namespace

QVector<Point> Spline::flatten(int degree, const QVector<double> &knots,
                               const QVector<Point> &points, const QVector<double> &weights,
                               int maxPoints)
{
    const int n = int(points.size());
    if (degree < 1 || degree > 15 || n <= degree || knots.size() != n + degree + 1)
        return points;
    for (int i = 1; i < knots.size(); ++i) {
        if (knots[i] < knots[i - 1])
            return points;
    }
    const double first = knots[degree];
    const double last = knots[n];
    if (!(last > first))
        return points;
    const int steps = qBound(8, n * 8, maxPoints);
    QVector<Point> result;
    result.reserve(steps + 1);
    int span = degree;
    for (int s = 0; s <= steps; ++s) {
        const double t = s == steps ? last : first + (last - first) * s / steps;
        while (span < n - 1 && knots[span + 1] <= t)
            ++span;
        result.append(deBoor(degree, knots, points, weights, span, t));
    }
    return result;
}

QVector<Point> Spline::throughFitPoints(const QVector<Point> &fit, const Point *startTangent,
                                        const Point *endTangent, int maxPoints)
{
    // Repeated points would give two equal parameters, which no curve interpolates.
    QVector<Point> q;
    for (const Point &p : fit) {
        if (q.isEmpty() || length(p - q.last()) > 1e-9 * (1 + length(p)))
            q.append(p);
    }
    const int n = int(q.size()) - 1;
    if (n < 1)
        return fit;
    QVector<double> t {0};
    for (int k = 1; k <= n; ++k)
        t.append(t.last() + length(q[k] - q[k - 1]));
    const double total = t.last();
    if (!(total > 0) || !std::isfinite(total))
        return fit;
    for (double &value : t)
        value /= total;
    t.last() = 1;

    const auto unit = [](const Point &p) {
        const double l = length(p);
        return l > 0 ? (1 / l) * p : Point();
    };
    Point start = startTangent ? unit(*startTangent) : Point();
    Point end = endTangent ? unit(*endTangent) : Point();
    if (length(start) == 0)
        start = unit(n >= 2 ? estimatedStartTangent(q[0], q[1], q[2]) : q[1] - q[0]);
    if (length(end) == 0) {
        // The end's estimate is the start's of the reversed points, reversed.
        end = n >= 2 ? (-1.0) * unit(estimatedStartTangent(q[n], q[n - 1], q[n - 2]))
                     : unit(q[1] - q[0]);
    }

    // Knots 0,0,0,0, t1 … t(n-1), 1,1,1,1 and n + 3 control points: the ends are the end fit
    // points, their neighbours set by the tangents, the rest solved for the interior fit points.
    QVector<double> knots(4, 0.0);
    for (int k = 1; k < n; ++k)
        knots.append(t[k]);
    knots.append({1, 1, 1, 1});
    QVector<Point> control(n + 3);
    control[0] = q[0];
    control[1] = q[0] + (total * knots[4] / 3) * start;
    control[n + 2] = q[n];
    control[n + 1] = q[n] - (total * (1 - knots[n + 2]) / 3) * end;
    // Fit point k (0 < k < n) is knot k + 3: three basis functions, of control points k, k + 1
    // and k + 2, do not vanish there, so the unknowns 2 … n form a tridiagonal system.
    const int unknowns = n - 1;
    QVector<double> lower(unknowns), diagonal(unknowns), upper(unknowns);
    QVector<Point> right(unknowns);
    for (int k = 1; k < n; ++k) {
        double basis[4];
        cubicBasis(knots, k + 3, t[k], basis);
        const int row = k - 1;
        lower[row] = basis[0];
        diagonal[row] = basis[1];
        upper[row] = basis[2];
        right[row] = q[k];
    }
    if (unknowns > 0) {
        right[0] = right[0] - lower[0] * control[1];
        right[unknowns - 1] = right[unknowns - 1] - upper[unknowns - 1] * control[n + 1];
    }
    for (int row = 1; row < unknowns; ++row) {
        if (diagonal[row - 1] == 0)
            return fit;
        const double factor = lower[row] / diagonal[row - 1];
        diagonal[row] -= factor * upper[row - 1];
        right[row] = right[row] - factor * right[row - 1];
    }
    for (int row = unknowns - 1; row >= 0; --row) {
        if (diagonal[row] == 0)
            return fit;
        Point value = right[row];
        if (row + 1 < unknowns)
            value = value - upper[row] * control[row + 3];
        control[row + 2] = (1 / diagonal[row]) * value;
    }
    for (const Point &p : control) {
        if (!std::isfinite(p.x) || !std::isfinite(p.y))
            return fit;
    }
    return flatten(3, knots, control, {}, maxPoints);
}
