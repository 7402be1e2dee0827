#include "NullFit.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

#include "instrument/NumberText.h"

namespace korvel {

namespace {

constexpr double kRad = std::numbers::pi / 180.0;
constexpr double kDbPerNeper = 10.0 / std::numbers::ln10;

double Wrap(double deg) {
    deg = std::fmod(deg, 360.0);
    return deg < 0.0 ? deg + 360.0 : deg;
}

using Vec3 = std::array<double, 3>;
using Mat3 = std::array<Vec3, 3>;

// Cramer's rule on the symmetric system scaled to a unit diagonal (the weights span many
// decades); false when it is singular: the readings do not span the curve.
bool Solve(const Mat3& m, const Vec3& v, Vec3& x) {
    auto det = [](const Mat3& a) {
        return a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
               a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
               a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
    };
    Vec3 scale;
    for (int i = 0; i < 3; ++i) {
        if (!(m[i][i] > 0.0))
            return false;
        scale[i] = 1.0 / std::sqrt(m[i][i]);
    }
    Mat3 unit;
    Vec3 w;
    for (int r = 0; r < 3; ++r) {
        w[r] = v[r] * scale[r];
        for (int c = 0; c < 3; ++c)
            unit[r][c] = m[r][c] * scale[r] * scale[c];
    }
    const double d = det(unit);
    if (!(std::abs(d) > 1e-24))
        return false;
    for (int c = 0; c < 3; ++c) {
        Mat3 mc = unit;
        for (int r = 0; r < 3; ++r)
            mc[r][c] = w[r];
        x[c] = det(mc) / d * scale[c];
    }
    return true;
}

Vec3 Basis(double offsetDeg) {
    return {1.0, std::cos(offsetDeg * kRad), std::sin(offsetDeg * kRad)};
}

// The curve as floor + depth·(1 − cos(φ − null)), with floor and depth by their logarithms: it
// stays positive however deep the null, and the null's place is a parameter of its own.
struct Curve {
    double logFloor, logDepth, nullRad;
    double Mw(double offsetDeg) const {
        return std::exp(logFloor) +
               std::exp(logDepth) * (1.0 - std::cos(offsetDeg * kRad - nullRad));
    }
};

double Cost(const std::vector<NullReading>& readings, const Curve& c) {
    double sum = 0.0;
    for (const NullReading& r : readings) {
        const double e = r.dbm - 10.0 * std::log10(c.Mw(r.offsetDeg));
        sum += e * e;
    }
    return sum;
}

// The normal equations of the fit in dB at the curve: JᵀJ and Jᵀ·residuals.
void Normal(const std::vector<NullReading>& readings, const Curve& curve, Mat3& jtj, Vec3& jtr) {
    const double floorMw = std::exp(curve.logFloor);
    const double depthMw = std::exp(curve.logDepth);
    for (const NullReading& r : readings) {
        const double angle = r.offsetDeg * kRad - curve.nullRad;
        const double m = curve.Mw(r.offsetDeg);
        const Vec3 j{kDbPerNeper * floorMw / m, kDbPerNeper * depthMw * (1.0 - std::cos(angle)) / m,
                     -kDbPerNeper * depthMw * std::sin(angle) / m};
        const double e = r.dbm - 10.0 * std::log10(m);
        for (int i = 0; i < 3; ++i) {
            jtr[i] += j[i] * e;
            for (int k = 0; k < 3; ++k)
                jtj[i][k] += j[i] * j[k];
        }
    }
}

// Least squares in dB (Levenberg-Marquardt), started from the closed form in mW (exact for three
// readings) and, where it is better, at the lowest reading: a deep null's readings span decades
// in mW, and a plain fit there only knows the curve's broad shape.
bool FitCurve(const std::vector<NullReading>& readings, Curve& curve) {
    Mat3 normal{};
    Vec3 rhs{};
    const NullReading* lowest = &readings.front();
    for (const NullReading& r : readings) {
        const Vec3 f = Basis(r.offsetDeg);
        const double mw = std::pow(10.0, r.dbm / 10.0);
        if (r.dbm < lowest->dbm)
            lowest = &r;
        for (int i = 0; i < 3; ++i) {
            rhs[i] += f[i] * mw;
            for (int j = 0; j < 3; ++j)
                normal[i][j] += f[i] * f[j];
        }
    }
    Vec3 p;
    if (!Solve(normal, rhs, p))
        return false;
    const double b = std::hypot(p[1], p[2]);
    if (!(b > 0.0))
        return false;
    const double lowestMw = std::pow(10.0, lowest->dbm / 10.0);
    curve = {std::log(std::clamp(p[0] - b, lowestMw * 1e-3, lowestMw)), std::log(b),
             std::atan2(-p[2], -p[1])};
    const Curve atLowest{std::log(lowestMw * 0.5), std::log(b), lowest->offsetDeg * kRad};
    if (Cost(readings, atLowest) < Cost(readings, curve))
        curve = atLowest;
    double current = Cost(readings, curve);
    double damping = 1e-3;
    for (int iteration = 0; iteration < 100 && damping < 1e8; ++iteration) {
        Mat3 jtj{};
        Vec3 jtr{};
        Normal(readings, curve, jtj, jtr);
        for (int i = 0; i < 3; ++i)
            jtj[i][i] = jtj[i][i] * (1.0 + damping) + 1e-300;
        Vec3 step;
        if (!Solve(jtj, jtr, step)) {
            damping *= 10.0;
            continue;
        }
        const Curve next{curve.logFloor + step[0], curve.logDepth + step[1],
                         curve.nullRad + step[2]};
        const double cost = Cost(readings, next);
        if (cost < current) {
            const bool settled = current - cost < 1e-12 * (1e-6 + current);
            curve = next;
            current = cost;
            damping = std::max(damping * 0.1, 1e-9);
            if (settled)
                break;
        } else {
            damping *= 10.0;
        }
    }
    return std::isfinite(current);
}

}  // namespace

NullFit FitNull(const std::vector<NullReading>& readings) {
    NullFit fit;
    if (readings.size() < 3) {
        fit.why = "too few readings";
        return fit;
    }
    const auto [low, high] = std::minmax_element(
        readings.begin(), readings.end(),
        [](const NullReading& x, const NullReading& y) { return x.dbm < y.dbm; });
    fit.contrastDb = high->dbm - low->dbm;
    Curve curve{};
    if (!FitCurve(readings, curve)) {
        fit.why = "the readings do not determine the curve";
        return fit;
    }
    fit.nullDeg = Wrap(curve.nullRad / kRad);
    for (const NullReading& r : readings) {
        const double residual = r.dbm - 10.0 * std::log10(curve.Mw(r.offsetDeg));
        fit.worstResidualDb = std::max(fit.worstResidualDb, std::abs(residual));
    }
    // The null's standard error from the residuals' own scatter: the readings may all sit on
    // the curve and still leave the null loose (a shallow or noisy minimum).
    if (readings.size() > 3) {
        Mat3 jtj{};
        Vec3 jtr{};
        Normal(readings, curve, jtj, jtr);
        // A floor far below every reading is not determined; the ridge holds it fixed.
        const double ridge = 1e-9 * (jtj[0][0] + jtj[1][1] + jtj[2][2]);
        for (int i = 0; i < 3; ++i)
            jtj[i][i] += ridge;
        Vec3 column;
        const double variance = Cost(readings, curve) / static_cast<double>(readings.size() - 3);
        fit.nullSigmaDeg = Solve(jtj, {0.0, 0.0, 1.0}, column)
                               ? std::sqrt(variance * std::max(column[2], 0.0)) / kRad
                               : HUGE_VAL;
    }
    if (fit.contrastDb < kFitContrastMinDb) {
        fit.why = "the null is too shallow (" + FormatFixed(fit.contrastDb, 1) + " dB)";
    } else if (fit.worstResidualDb > kFitResidualLimitDb) {
        fit.why = "a reading is " + FormatFixed(fit.worstResidualDb, 1) + " dB off the curve";
    } else if (fit.nullSigmaDeg > kFitNullSigmaMaxDeg) {
        fit.why =
            "the readings leave the null loose (" + FormatFixed(fit.nullSigmaDeg, 2) + " degrees)";
    } else {
        fit.fits = true;
    }
    return fit;
}

NullFit FastNullSearch(double baseDeg, const std::function<double(double)>& read,
                       std::vector<NullReading>* readingsOut) {
    std::vector<NullReading> readings;
    readings.reserve(kFastReadings);
    auto take = [&](double deg) {
        const double point = Wrap(deg);
        // The fit uses the offset the generator was given, not the one intended.
        const double sent = ParseLeadingDouble(FormatFixed(point, 2));
        readings.push_back({sent, read(sent)});
    };
    for (int k = 0; k < 3; ++k)
        take(baseDeg + 120.0 * k);
    NullFit fit = FitNull(readings);
    // Near the null the curve is steepest in dB where it stands 3 dB above its floor, about
    // sqrt(2·floor/b) radians out. The lowest reading so far bounds that floor from above.
    auto halfWidthDeg = [&] {
        double peak = readings.front().dbm;
        double floor = peak;
        for (const NullReading& r : readings) {
            peak = std::max(peak, r.dbm);
            floor = std::min(floor, r.dbm);
        }
        return std::clamp(std::sqrt(4.0 * std::pow(10.0, (floor - peak) / 10.0)) / kRad, 0.2, 30.0);
    };
    const double coarse = fit.nullDeg;
    take(coarse);
    const double width = halfWidthDeg();
    take(coarse - width);
    take(coarse + width);
    fit = FitNull(readings);
    const double refined = fit.nullDeg;
    const double narrow = std::min(width, halfWidthDeg());
    take(refined - narrow);
    take(refined + narrow);
    fit = FitNull(readings);
    // A null far outside the readings near it is an extrapolation the readings do not support.
    const double apart = std::abs(Wrap(fit.nullDeg - refined + 180.0) - 180.0);
    if (fit.fits && apart > 2.0 * narrow) {
        fit.fits = false;
        fit.why = "the null lies outside the readings near it";
    }
    if (readingsOut)
        *readingsOut = readings;
    return fit;
}

}  // namespace korvel
