// Centre-line tracing of thinned drawings into SVG paths.
//
// The stroke pixels are copied into a plane with a one-pixel white border. Two
// stroke pixels are neighbours when they touch along a side, or at a corner when
// neither pixel beside that corner is a stroke pixel: a stair step or an L corner
// is then a run, not a triangle of three mutual neighbours. Each pixel's number
// of neighbours (0 to 4) makes it a dot, an end, a run pixel or a junction pixel.
//
// Edges are walked from every node in raster order, so the output depends on the
// picture alone. Curves are fitted once every run is traced, and written joined end
// to end where runs meet, else moving to the nearest run left. Points are kept in hundredths of a pixel as integers, so a
// junction's point is written identically by every edge that meets there and
// relative moves add up exactly.
#include "core/lineart/centre_lines.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cmath>
#include <map>
#include <new>
#include <optional>
#include <tuple>
#include <utility>
#include <vector>

#include "core/formats/file_io.h"
#include "core/lineart/lineart_detail.h"

namespace qel {

namespace {

using namespace lineart_detail;

constexpr uint8_t kStroke = 1;
constexpr uint8_t kSeen = 0x10;     // a run pixel already on a traced path
constexpr int kDegreeShift = 1;     // bits 1..3: the number of neighbours
constexpr uint32_t kNoNode = 0xFFFFFFFFu;

struct Point {
    int64_t x, y;     // hundredths of a pixel
    uint32_t colour;  // 0xRRGGBB
};

struct Node {
    int64_t x, y;  // hundredths
};

// ---- Bézier fitting of a pixel chain ----

struct Vec {
    double x, y;
    Vec operator+(Vec o) const { return {x + o.x, y + o.y}; }
    Vec operator-(Vec o) const { return {x - o.x, y - o.y}; }
    Vec operator*(double s) const { return {x * s, y * s}; }
    double dot(Vec o) const { return x * o.x + y * o.y; }
    double length() const { return std::hypot(x, y); }
    Vec unit() const {
        const double l = length();
        return l > 0 ? Vec{x / l, y / l} : Vec{0, 0};
    }
};

struct Cubic {
    Vec p[4];
    Vec at(double t) const {
        const double s = 1 - t;
        return p[0] * (s * s * s) + p[1] * (3 * s * s * t) + p[2] * (3 * s * t * t) + p[3] * (t * t * t);
    }
};

// Turns are measured between the chords to the points this many steps back and ahead.
constexpr size_t kCornerReach = 3;
// A turn of more than 60 degrees over that reach is a corner.
constexpr double kCornerCos = 0.5;
// The tangent where two Béziers meet is the chord from at most this many points back to as many ahead.
constexpr size_t kTangentReach = 6;
constexpr int kFitSteps = 8;
// Holes ringed by at most this many steps are drawn within this tolerance.
constexpr size_t kSmallHole = 12;
constexpr double kSmallHoleTolerance = 0.25;

// Distance from q to the square of pixel point c.
double toSquare(Vec q, Vec c) {
    return std::hypot(std::max(std::abs(q.x - c.x) - 0.5, 0.0), std::max(std::abs(q.y - c.y) - 0.5, 0.0));
}

// The largest distance from c(u[k]) to the square of p[i + k], and from the curve between two
// neighbouring points to the nearer of their squares.
double fitError(const std::vector<Vec>& p, size_t i, const Cubic& c, const std::vector<double>& u) {
    double worst = 0;
    for (size_t k = 0; k + 1 < u.size(); ++k) {
        if (k) worst = std::max(worst, toSquare(c.at(u[k]), p[i + k]));
        for (const double f : {0.25, 0.5, 0.75}) {
            const Vec q = c.at(u[k] + (u[k + 1] - u[k]) * f);
            worst = std::max(worst, std::min(toSquare(q, p[i + k]), toSquare(q, p[i + k + 1])));
        }
    }
    return worst;
}

// One Newton step per parameter towards the curve's nearest point to p[i + k]; false when the
// parameters no longer increase along the chain (the curve doubles back).
bool newtonStep(const std::vector<Vec>& p, size_t i, const Cubic& c, std::vector<double>& u) {
    const Vec d1[3] = {(c.p[1] - c.p[0]) * 3, (c.p[2] - c.p[1]) * 3, (c.p[3] - c.p[2]) * 3};
    const Vec d2[2] = {(d1[1] - d1[0]) * 2, (d1[2] - d1[1]) * 2};
    for (size_t k = 1; k + 1 < u.size(); ++k) {
        const double t = u[k], s = 1 - t;
        const Vec q = c.at(t) - p[i + k];
        const Vec q1 = d1[0] * (s * s) + d1[1] * (2 * s * t) + d1[2] * (t * t);
        const Vec q2 = d2[0] * s + d2[1] * t;
        const double den = q1.dot(q1) + q.dot(q2);
        if (den != 0) u[k] = std::clamp(t - q.dot(q1) / den, 0.0, 1.0);
    }
    for (size_t k = 1; k < u.size(); ++k)
        if (u[k] <= u[k - 1]) return false;
    return true;
}

// How one inner control point of a Bézier is found: free, along a direction from its end point
// (the tangent a neighbour shares), or given (the mirror of the neighbour's, an "s" command).
struct Handle {
    enum Kind { Free, Along, Given } kind = Free;
    Vec v{0, 0};  // Along: the unit direction; Given: the point
};

// Fits one cubic Bézier to the points p[i..j] (pixel centres, or a node's point at either end),
// from p[i] to p[j]: least squares over chord-length parameters, improved by Newton steps towards
// each point's nearest curve point. It fits when every point's square, and the curve between
// neighbouring points, are within the tolerance.
class PieceFitter {
public:
    PieceFitter(const std::vector<Vec>& p, double tolerance) : p_(p), tolerance_(tolerance) {}

    // The inner point of the last fit's points farthest from its square.
    size_t worstPoint(size_t i, const Cubic& c) const {
        size_t at = i + u_.size() / 2;
        double worst = -1;
        for (size_t k = 1; k + 1 < u_.size(); ++k) {
            const double e = toSquare(c.at(u_[k]), p_[i + k]);
            if (e > worst) worst = e, at = i + k;
        }
        return at;
    }

    bool fit(size_t i, size_t j, Handle h1, Handle h2, Cubic& c) {
        const size_t n = j - i + 1;
        u_.resize(n);
        u_[0] = 0;
        for (size_t k = 1; k < n; ++k) u_[k] = u_[k - 1] + (p_[i + k] - p_[i + k - 1]).length();
        for (size_t k = 1; k < n; ++k) u_[k] /= u_[n - 1];
        w_.assign(n, 1.0);
        double worst = HUGE_VAL;
        Cubic trial;
        bool forwards = solve(i, j, u_, h1, h2, trial);
        v_ = u_;
        // Newton steps take each point's parameter to its nearest curve point; then the points
        // that miss most weigh more in the next solve.
        for (int step = 0; step < kFitSteps; ++step) {
            if (!reparameterise(i, trial, v_) || !reparameterise(i, trial, v_)) break;
            const double e = forwards ? error(i, trial, v_) : HUGE_VAL;
            if (e < worst) {
                c = trial, worst = e;
                u_ = v_;
            }
            if (worst <= tolerance_) break;
            for (size_t k = 1; k + 1 < n; ++k) w_[k] *= 1 + toSquare(trial.at(v_[k]), p_[i + k]) / (tolerance_ + 0.05);
            forwards = solve(i, j, v_, h1, h2, trial);
        }
        if (worst == HUGE_VAL) c = trial;
        return worst <= tolerance_;
    }

    // Moves the control points found by the last fit onto whole pixels, else tenths, else
    // hundredths of a pixel relative to the start: the coarsest that keeps within the tolerance
    // and keeps a handle along a shared tangent within a hundredth of a radian of it.
    void round(size_t i, Handle h1, Handle h2, Cubic& c) const {
        for (const double grid : {1.0, 0.1, 0.01}) {
            Cubic r = c;
            bool along = true;
            for (int k = 1; k <= 2; ++k) {
                const Handle& h = k == 1 ? h1 : h2;
                if (h.kind == Handle::Given) continue;
                const Vec d = c.p[k] - c.p[0];
                r.p[k] = c.p[0] + Vec{std::round(d.x / grid) * grid, std::round(d.y / grid) * grid};
                const Vec handle = r.p[k] - c.p[k == 1 ? 0 : 3];
                if (h.kind == Handle::Along) along = along && handle.length() > 0 && std::abs(handle.x * h.v.y - handle.y * h.v.x) <= 0.01 * handle.length();
            }
            if (grid == 0.01 || (along && error(i, r, u_) <= tolerance_)) {
                c = r;
                return;
            }
        }
    }

private:
    const std::vector<Vec>& p_;
    double tolerance_;
    std::vector<double> u_, v_, w_;  // the parameters of the last fit, a trial's, the points' weights

    // Least squares for the unknowns of the handles (up to four), pulled weakly towards handles a
    // third of the chord long so that few points still give one answer. A handle along a tangent
    // that would point backwards is made short instead, and the answer is false.
    bool solve(size_t i, size_t j, const std::vector<double>& u, Handle h1, Handle h2, Cubic& c) const {
        const Vec a = p_[i], b = p_[j];
        const Vec chord = b - a;
        const double third = chord.length() / 3;
        struct Unknown {
            int basis;  // 1 or 2: which inner control point it moves
            Vec dir;
            double guess;
        } unknowns[4];
        int n = 0;
        Vec base1 = h1.kind == Handle::Given ? h1.v : a, base2 = h2.kind == Handle::Given ? h2.v : b;
        if (h1.kind == Handle::Free) {
            unknowns[n++] = {1, {1, 0}, a.x + chord.x / 3};
            unknowns[n++] = {1, {0, 1}, a.y + chord.y / 3};
            base1 = {0, 0};
        } else if (h1.kind == Handle::Along) {
            unknowns[n++] = {1, h1.v, third};
        }
        if (h2.kind == Handle::Free) {
            unknowns[n++] = {2, {1, 0}, b.x - chord.x / 3};
            unknowns[n++] = {2, {0, 1}, b.y - chord.y / 3};
            base2 = {0, 0};
        } else if (h2.kind == Handle::Along) {
            unknowns[n++] = {2, h2.v, third};
        }
        constexpr double kPull = 1e-4;
        double m[4][5] = {};
        for (int r = 0; r < n; ++r) {
            m[r][r] = kPull;
            m[r][4] = kPull * unknowns[r].guess;
        }
        for (size_t k = 1; k + 1 < u.size(); ++k) {
            const double t = u[k], s = 1 - t;
            const double w[4] = {s * s * s, 3 * s * s * t, 3 * s * t * t, t * t * t};
            const Vec rest = p_[i + k] - (a * w[0] + base1 * w[1] + base2 * w[2] + b * w[3]);
            Vec col[4];
            for (int r = 0; r < n; ++r) col[r] = unknowns[r].dir * w[unknowns[r].basis];
            for (int r = 0; r < n; ++r) {
                for (int q = 0; q < n; ++q) m[r][q] += w_[k] * col[r].dot(col[q]);
                m[r][4] += w_[k] * col[r].dot(rest);
            }
        }
        double z[4];
        for (int r = 0; r < n; ++r) {  // Gaussian elimination; the matrix is symmetric positive definite
            for (int q = r + 1; q < n; ++q) {
                const double f = m[q][r] / m[r][r];
                for (int k = r; k < 5; ++k) m[q][k] -= f * m[r][k];
            }
        }
        for (int r = n - 1; r >= 0; --r) {
            double v = m[r][4];
            for (int q = r + 1; q < n; ++q) v -= m[r][q] * z[q];
            z[r] = v / m[r][r];
        }
        Vec inner[3] = {{0, 0}, base1, base2};
        bool forwards = true;
        for (int r = 0; r < n; ++r) {
            if ((unknowns[r].basis == 1 ? h1 : h2).kind == Handle::Along && !(z[r] > 0)) {
                forwards = false;
                z[r] = 0.01 * third;
            }
            inner[unknowns[r].basis] = inner[unknowns[r].basis] + unknowns[r].dir * z[r];
        }
        c = {{a, inner[1], inner[2], b}};
        return forwards;
    }
    double error(size_t i, const Cubic& c, const std::vector<double>& u) const { return fitError(p_, i, c, u); }
    bool reparameterise(size_t i, const Cubic& c, std::vector<double>& u) const { return newtonStep(p_, i, c, u); }
};

// Fits p[joins.front()..joins.back()] with one Bézier between each two neighbouring joins, each
// leaving a join with the mirror of the handle the one before arrives with (an "s" command): the
// curve's direction goes on unbroken there whatever the handles are rounded to. In a ring the
// first Bézier mirrors the last one too. For each coordinate the handles solve one tridiagonal
// (in a ring cyclic) least-squares system. The joins are evenly spaced, since a mirrored handle is
// as long on both sides; where a Bézier misses the tolerance, one more is tried.
class SplineFitter {
public:
    SplineFitter(const std::vector<Vec>& p, double tolerance) : p_(p), tolerance_(tolerance) {}

    // False when it gives up: too few points for more Béziers, or more would not be worth it.
    bool fit(std::vector<size_t>& joins, bool ring, std::vector<Cubic>& out) {
        const size_t first = joins.front(), last = joins.back();
        for (size_t n = std::max<size_t>(joins.size() - 1, ring ? 2 : 1), round = 0; round < kSplineRounds; ++round, ++n) {
            if (last - first < n) return false;
            joins.resize(n + 1);
            for (size_t k = 0; k <= n; ++k) joins[k] = first + (last - first) * k / n;
            u_.resize(n);
            w_.resize(n);
            for (size_t s = 0; s < n; ++s) {
                std::vector<double>& u = u_[s];
                u.resize(joins[s + 1] - joins[s] + 1);
                u[0] = 0;
                for (size_t k = 1; k < u.size(); ++k) u[k] = u[k - 1] + (p_[joins[s] + k] - p_[joins[s] + k - 1]).length();
                if (!(u.back() > 0)) return false;
                for (size_t k = 1; k < u.size(); ++k) u[k] /= u.back();
                w_[s].assign(u.size(), 1.0);
            }
            std::vector<Cubic> trial;
            std::vector<std::vector<double>> bestU = u_;
            double best = HUGE_VAL;
            for (int step = 0; step < kFitSteps; ++step) {
                solve(joins, ring, trial);
                double worst = 0;
                for (size_t s = 0; s < n; ++s) {
                    for (int k = 0; k < 2; ++k) {
                        std::vector<double> v = u_[s];
                        if (newtonStep(p_, joins[s], trial[s], v)) u_[s] = v;
                    }
                    const Cubic& c = trial[s];
                    const bool finite = std::isfinite(c.p[1].x + c.p[1].y + c.p[2].x + c.p[2].y);
                    worst = std::max(worst, finite ? fitError(p_, joins[s], c, u_[s]) : HUGE_VAL);
                }
                if (worst < best) best = worst, out = trial, bestU = u_;
                if (worst <= tolerance_) break;
                for (size_t s = 0; s < n; ++s)
                    for (size_t k = 1; k + 1 < u_[s].size(); ++k)
                        w_[s][k] *= 1 + toSquare(trial[s].at(u_[s][k]), p_[joins[s] + k]) / (tolerance_ + 0.05);
            }
            u_ = bestU;
            if (best <= tolerance_) return true;
        }
        return false;
    }

    // Moves the handles, in order, onto whole pixels, else tenths, else hundredths of a pixel
    // relative to each Bézier's start: the coarsest that keeps the Bézier, and those whose handle
    // mirrors it, within the tolerance.
    void round(const std::vector<size_t>& joins, bool ring, std::vector<Cubic>& c) const {
        const size_t n = c.size();
        for (size_t s = 0; s < n && !(ring && s + 1 == n); ++s) {
            for (const double grid : {1.0, 0.1, 0.01}) {
                std::vector<Cubic> r = c;
                auto snap = [&](Vec v) {
                    const Vec d = v - c[s].p[0];
                    return c[s].p[0] + Vec{std::round(d.x / grid) * grid, std::round(d.y / grid) * grid};
                };
                if (s == 0) r[0].p[1] = snap(c[0].p[1]);
                r[s].p[2] = snap(c[s].p[2]);
                if (s + 1 < n) r[s + 1].p[1] = r[s].p[3] * 2 - r[s].p[2];
                if (s == 0 && ring) r[n - 1].p[2] = r[0].p[0] * 2 - r[0].p[1];
                bool fits = true;
                for (size_t q : {s, s + 1, n - 1}) {
                    if (grid == 0.01 || q >= n || !fits) continue;
                    std::vector<double> u = u_[q];
                    for (int k = 0; k < 2; ++k) {
                        std::vector<double> v = u;
                        if (newtonStep(p_, joins[q], r[q], v)) u = v;
                    }
                    fits = fitError(p_, joins[q], r[q], u) <= tolerance_;
                }
                if (fits) {
                    c = r;
                    break;
                }
            }
        }
    }

private:
    static constexpr size_t kSplineRounds = 8;  // Béziers more than the first try at most
    const std::vector<Vec>& p_;
    double tolerance_;
    std::vector<std::vector<double>> u_, w_;  // each Bézier's parameters and its points' weights

    // The handles g[k] at the joins: Bézier s runs from P0 = p[joins[s]] by P0 + g[s] and
    // P3 - g[s + 1] to P3 = p[joins[s + 1]] (in a ring the last one's g[s + 1] is g[0]). Pulled
    // weakly towards a sixth of the chord across the join, so that few points still give one answer.
    void solve(const std::vector<size_t>& joins, bool ring, std::vector<Cubic>& c) const {
        const size_t n = joins.size() - 1, m = ring ? n : n + 1;
        std::vector<double> d(m, 0.0), o(m, 0.0);
        std::vector<Vec> rhs(m, Vec{0, 0});
        constexpr double kPull = 1e-4;
        for (size_t k = 0; k < m; ++k) {
            const Vec before = p_[joins[k > 0 ? k - 1 : ring ? n - 1 : 0]], after = p_[joins[k < n ? k + 1 : ring ? 1 : n]];
            const Vec guess = (after - before) * ((k == 0 || k == n) && !ring ? 1.0 / 3 : 1.0 / 6);
            d[k] += kPull;
            rhs[k] = rhs[k] + guess * kPull;
        }
        for (size_t s = 0; s < n; ++s) {
            const size_t a = s, b = (s + 1) % m, i = joins[s];
            const Vec p0 = p_[i], p3 = p_[joins[s + 1]];
            const std::vector<double>& u = u_[s];
            for (size_t k = 1; k + 1 < u.size(); ++k) {
                const double t = u[k], r = 1 - t, w = w_[s][k];
                const double b0 = r * r * r, b1 = 3 * r * r * t, b2 = 3 * r * t * t, b3 = t * t * t;
                const Vec rest = p_[i + k] - p0 * (b0 + b1) - p3 * (b2 + b3);
                d[a] += w * b1 * b1;
                d[b] += w * b2 * b2;
                o[a] -= w * b1 * b2;
                rhs[a] = rhs[a] + rest * (w * b1);
                rhs[b] = rhs[b] - rest * (w * b2);
            }
        }
        std::vector<Vec> g(m);
        if (ring && m == 2) {  // both Béziers couple the same two handles
            const double off = o[0] + o[1], det = d[0] * d[1] - off * off;
            g[0] = (rhs[0] * d[1] - rhs[1] * off) * (1 / det);
            g[1] = (rhs[1] * d[0] - rhs[0] * off) * (1 / det);
        } else if (!ring) {
            tridiagonal(d, o, rhs, g);
        } else {  // cyclic: Sherman-Morrison on the corner coupling o[m - 1]
            const double gamma = -d[0], alpha = o[m - 1];
            std::vector<double> dd = d;
            dd[0] -= gamma;
            dd[m - 1] -= alpha * alpha / gamma;
            std::vector<Vec> x(m), z(m), e(m, Vec{0, 0});
            e[0] = {gamma, gamma};
            e[m - 1] = {alpha, alpha};
            tridiagonal(dd, o, rhs, x);
            tridiagonal(dd, o, e, z);
            const double fx = (x[0].x + alpha * x[m - 1].x / gamma) / (1 + z[0].x + alpha * z[m - 1].x / gamma);
            const double fy = (x[0].y + alpha * x[m - 1].y / gamma) / (1 + z[0].y + alpha * z[m - 1].y / gamma);
            for (size_t k = 0; k < m; ++k) g[k] = {x[k].x - fx * z[k].x, x[k].y - fy * z[k].y};
        }
        c.resize(n);
        for (size_t s = 0; s < n; ++s) {
            const Vec p0 = p_[joins[s]], p3 = p_[joins[s + 1]];
            c[s] = {{p0, p0 + g[s], p3 - g[(s + 1) % m], p3}};
        }
    }

    // Solves the symmetric tridiagonal system of diagonal d and off-diagonal o (o[k] between
    // unknowns k and k + 1) for two right-hand sides at once.
    static void tridiagonal(const std::vector<double>& d, const std::vector<double>& o, const std::vector<Vec>& r,
                            std::vector<Vec>& x) {
        const size_t m = d.size();
        std::vector<double> c(m, 0.0);
        std::vector<Vec> y(m);
        double div = d[0];
        y[0] = r[0] * (1 / div);
        for (size_t k = 1; k < m; ++k) {
            c[k - 1] = o[k - 1] / div;
            div = d[k] - o[k - 1] * c[k - 1];
            y[k] = (r[k] - y[k - 1] * o[k - 1]) * (1 / div);
        }
        x.resize(m);
        x[m - 1] = y[m - 1];
        for (size_t k = m - 1; k-- > 0;) x[k] = y[k] - x[k + 1] * c[k];
    }
};

// The corners of points p (closed: p.back() repeats p.front()): where the chain turns more than the
// corner angle between the chords kCornerReach points back and ahead, keeping the sharpest of
// neighbouring candidates. Points of an open chain nearer its ends than the reach are never corners.
std::vector<size_t> findCorners(const std::vector<Vec>& p, bool closed) {
    const size_t n = closed ? p.size() - 1 : p.size();
    constexpr size_t r = kCornerReach;
    std::vector<size_t> corners;
    if (n < 2 * r + 1) return corners;
    std::vector<double> cosTurn(n, 1.0);
    for (size_t k = closed ? 0 : r; k < (closed ? n : n - r); ++k) {
        const Vec a = p[k] - p[(k + n - r) % n], b = p[(k + r) % n] - p[k];
        const double l = a.length() * b.length();
        if (l > 0) cosTurn[k] = a.dot(b) / l;
    }
    for (size_t k = 0; k < n; ++k) {
        if (cosTurn[k] >= kCornerCos) continue;
        bool sharpest = true;
        for (size_t j = 1; j <= r && sharpest; ++j)
            sharpest = cosTurn[(k + n - j) % n] > cosTurn[k] && cosTurn[(k + j) % n] >= cosTurn[k];
        if (sharpest) corners.push_back(k);
    }
    return corners;
}

class Tracer {
public:
    Tracer(const DibImage& image, const CentreLineOptions& options) : options_(options) {
        const auto h = image.header();
        w_ = h.biWidth;
        h_ = h.biHeight;
        s_ = static_cast<size_t>(w_) + 2;
        // Stroke pixels and their colours by index; indices beyond the table read black.
        bool stroke[256];
        for (int i = 0; i < 256; ++i) {
            Rgb c = image.tableColour(i);
            stroke[i] = !(c == kWhite);
            if (!options.keepColours && (c == kRed || c == kGreen || c == kBlue)) c = kBlack;
            colourOf_[i] = uint32_t(c.r) << 16 | uint32_t(c.g) << 8 | c.b;
        }
        plane_.assign(s_ * (static_cast<size_t>(h_) + 2), 0);
        bits_ = image.bits.data();
        stride_ = static_cast<size_t>(strideFor(w_, 8));
        for (int y = 0; y < h_; ++y) {
            const uint8_t* src = bits_ + static_cast<size_t>(h_ - 1 - y) * stride_;
            uint8_t* dst = &plane_[(static_cast<size_t>(y) + 1) * s_ + 1];
            for (int x = 0; x < w_; ++x) dst[x] = stroke[src[x]] ? kStroke : 0;
        }
        offset_[0] = 1;
        offset_[1] = -static_cast<ptrdiff_t>(s_);
        offset_[2] = -1;
        offset_[3] = static_cast<ptrdiff_t>(s_);
    }

    void run(std::string& svg, CentreLineStats& stats) {
        classify();
        buildNodes(stats);
        traceEdges(stats);
        traceLoops(stats);
        if (options_.curves) writeRuns();
        writeDocument(svg);
        stats.points = points_;
    }

private:
    const CentreLineOptions& options_;
    int w_ = 0, h_ = 0;
    size_t s_ = 0;
    std::vector<uint8_t> plane_;  // kStroke, degree, kSeen
    const uint8_t* bits_ = nullptr;  // the picture's rows, bottom row first
    size_t stride_ = 0;
    uint32_t colourOf_[256];
    ptrdiff_t offset_[4];                       // right, up, left, down
    std::vector<uint32_t> nodePixels_;          // positions of dots, ends and junction pixels, ascending
    std::vector<uint32_t> nodeOfPixel_;         // node index of each entry of nodePixels_ (kNoNode for dots)
    std::vector<Node> nodes_;
    // Path data of one colour. Every subpath starts with a relative moveto (the first one from the origin)
    // whose further pairs are relative linetos: the shortest form of short polylines.
    struct PathData {
        std::string d;
        int64_t x = 0, y = 0;  // the current point
        char command = 'l';    // the command further numbers continue ('l' also right after a moveto)
        bool dot = false;      // the last number written has a decimal point (curve output)
    };
    std::map<uint32_t, PathData> paths_;  // by colour
    // Curves: the runs of one colour to write once all are traced.
    struct Run {
        std::vector<Point> pts;  // the last one may be of the next run's colour
        bool closed;
        uint32_t colour;
    };
    std::vector<Run> runs_;
    int64_t points_ = 0;

    bool isStroke(size_t p) const { return plane_[p] & kStroke; }
    int degree(size_t p) const { return plane_[p] >> kDegreeShift & 7; }
    // The colour of plane position p.
    uint32_t colour(size_t p) const {
        const size_t x = p % s_ - 1, y = p / s_ - 1;
        return colourOf_[bits_[(static_cast<size_t>(h_) - 1 - y) * stride_ + x]];
    }
    Point pixelPoint(size_t p) const {
        return {static_cast<int64_t>(p % s_ - 1) * 100, static_cast<int64_t>(p / s_ - 1) * 100, colour(p)};
    }

    // The neighbours of stroke pixel p; returns their number.
    int neighbours(size_t p, size_t out[4]) const {
        int n = 0;
        bool side[4];
        for (int k = 0; k < 4; ++k) {
            side[k] = isStroke(p + offset_[k]);
            if (side[k]) out[n++] = p + offset_[k];
        }
        // Corners between sides k and k+1.
        for (int k = 0; k < 4; ++k) {
            const int k2 = (k + 1) & 3;
            if (side[k] || side[k2]) continue;
            const size_t q = p + offset_[k] + offset_[k2];
            if (isStroke(q)) out[n++] = q;
        }
        return n;
    }

    void classify() {
        size_t nb[4];
        for (int y = 1; y <= h_; ++y) {
            const size_t rowStart = static_cast<size_t>(y) * s_;
            for (size_t p = rowStart + 1; p <= rowStart + static_cast<size_t>(w_); ++p) {
                if (!(plane_[p] & kStroke)) continue;
                const int d = neighbours(p, nb);
                plane_[p] |= static_cast<uint8_t>(d << kDegreeShift);
                if (d != 2) nodePixels_.push_back(static_cast<uint32_t>(p));
            }
        }
    }

    uint32_t nodeAt(size_t p) const {
        const auto it = std::lower_bound(nodePixels_.begin(), nodePixels_.end(), static_cast<uint32_t>(p));
        if (it == nodePixels_.end() || *it != p) return kNoNode;
        return nodeOfPixel_[static_cast<size_t>(it - nodePixels_.begin())];
    }

    // Ends become nodes of their own; touching junction pixels one node at their mean position.
    void buildNodes(CentreLineStats& stats) {
        nodeOfPixel_.assign(nodePixels_.size(), kNoNode);
        std::vector<size_t> cluster;
        size_t nb[4];
        for (size_t i = 0; i < nodePixels_.size(); ++i) {
            const size_t p = nodePixels_[i];
            const int d = degree(p);
            if (d == 0) {
                ++stats.dots;
                writeDot(pixelPoint(p));
                continue;
            }
            if (nodeOfPixel_[i] != kNoNode) continue;
            const auto id = static_cast<uint32_t>(nodes_.size());
            if (d == 1) {
                ++stats.ends;
                nodeOfPixel_[i] = id;
                const Point pt = pixelPoint(p);
                nodes_.push_back({pt.x, pt.y});
                continue;
            }
            ++stats.junctions;
            nodeOfPixel_[i] = id;
            cluster.assign(1, p);
            int64_t sx = 0, sy = 0;
            for (size_t c = 0; c < cluster.size(); ++c) {
                const size_t q = cluster[c];
                sx += static_cast<int64_t>(q % s_ - 1);
                sy += static_cast<int64_t>(q / s_ - 1);
                const int n = neighbours(q, nb);
                for (int k = 0; k < n; ++k) {
                    if (degree(nb[k]) < 3) continue;
                    const auto it = std::lower_bound(nodePixels_.begin(), nodePixels_.end(), static_cast<uint32_t>(nb[k]));
                    uint32_t& owner = nodeOfPixel_[static_cast<size_t>(it - nodePixels_.begin())];
                    if (owner != kNoNode) continue;
                    owner = id;
                    cluster.push_back(nb[k]);
                }
            }
            const auto count = static_cast<int64_t>(cluster.size());
            nodes_.push_back({roundedDiv(sx * 100, count), roundedDiv(sy * 100, count)});
        }
    }

    static int64_t roundedDiv(int64_t a, int64_t b) { return a >= 0 ? (a + b / 2) / b : -((-a + b / 2) / b); }

    Point nodePoint(uint32_t id, size_t pixel) const { return {nodes_[id].x, nodes_[id].y, colour(pixel)}; }

    void traceEdges(CentreLineStats& stats) {
        size_t nb[4], nb2[4];
        std::vector<Point> chain;
        for (size_t i = 0; i < nodePixels_.size(); ++i) {
            const size_t a = nodePixels_[i];
            const uint32_t na = nodeOfPixel_[i];
            if (na == kNoNode) continue;
            const int n = neighbours(a, nb);
            for (int k = 0; k < n; ++k) {
                size_t prev = a, cur = nb[k];
                if (degree(cur) != 2) {
                    const uint32_t nc = nodeAt(cur);
                    if (nc <= na) continue;  // the same junction, or written from the other node
                    chain = {nodePoint(na, a), nodePoint(nc, cur)};
                    emit(chain, false);
                    ++stats.edges;
                    continue;
                }
                if (plane_[cur] & kSeen) continue;  // walked from its other end
                chain.assign(1, nodePoint(na, a));
                while (degree(cur) == 2 && !(plane_[cur] & kSeen)) {
                    plane_[cur] |= kSeen;
                    chain.push_back(pixelPoint(cur));
                    neighbours(cur, nb2);
                    const size_t next = nb2[0] == prev ? nb2[1] : nb2[0];
                    prev = cur;
                    cur = next;
                }
                if (degree(cur) != 2) chain.push_back(nodePoint(nodeAt(cur), cur));
                emit(chain, false);
                ++stats.edges;
            }
        }
    }

    // Rings of run pixels left after the edges: closed paths from their first pixel in raster order.
    void traceLoops(CentreLineStats& stats) {
        size_t nb[4];
        std::vector<Point> chain;
        for (int y = 1; y <= h_; ++y) {
            const size_t rowStart = static_cast<size_t>(y) * s_;
            for (size_t p = rowStart + 1; p <= rowStart + static_cast<size_t>(w_); ++p) {
                if ((plane_[p] & (kStroke | kSeen)) != kStroke || degree(p) != 2) continue;
                chain.clear();
                size_t prev = p, cur = p;
                do {
                    plane_[cur] |= kSeen;
                    chain.push_back(pixelPoint(cur));
                    neighbours(cur, nb);
                    const size_t next = (nb[0] == prev && cur != p) ? nb[1] : nb[0];
                    prev = cur;
                    cur = next;
                } while (cur != p && degree(cur) == 2 && !(plane_[cur] & kSeen));
                chain.push_back(cur == p ? chain.front() : pixelPoint(cur));
                ++stats.loops;
                emit(chain, cur == p);
            }
        }
    }

    // Distance in pixels from the square of pixel point c to the segment a-b.
    static double excess(const Point& a, const Point& b, const Point& c) {
        const double ax = a.x / 100.0, ay = a.y / 100.0, bx = b.x / 100.0, by = b.y / 100.0;
        const double cx = c.x / 100.0, cy = c.y / 100.0;
        auto toSquare = [&](double px, double py) {
            const double ex = std::max(std::abs(px - cx) - 0.5, 0.0), ey = std::max(std::abs(py - cy) - 0.5, 0.0);
            return std::hypot(ex, ey);
        };
        const double dx = bx - ax, dy = by - ay, l2 = dx * dx + dy * dy;
        if (l2 == 0) return toSquare(ax, ay);
        const double t = ((cx - ax) * dx + (cy - ay) * dy) / l2;
        if (t < 0) return toSquare(ax, ay);
        if (t > 1) return toSquare(bx, by);
        const double l = std::sqrt(l2), nx = -dy / l, ny = dx / l;
        return std::max(std::abs(nx * (cx - ax) + ny * (cy - ay)) - 0.5 * (std::abs(nx) + std::abs(ny)), 0.0);
    }

    // Keeps the points of chain[first..last] a polyline needs to pass within the tolerance of every
    // pixel: the point farthest from the chord is kept and both halves are looked at again.
    void simplify(const std::vector<Point>& chain, size_t first, size_t last, std::vector<uint8_t>& keep) const {
        keep[first] = keep[last] = 1;
        std::vector<std::pair<size_t, size_t>> stack{{first, last}};
        while (!stack.empty()) {
            const auto [i, j] = stack.back();
            stack.pop_back();
            if (j - i < 2) continue;
            double worst = -1;
            size_t at = i;
            for (size_t k = i + 1; k < j; ++k) {
                const double e = excess(chain[i], chain[j], chain[k]);
                if (e > worst) {
                    worst = e;
                    at = k;
                }
            }
            if (worst <= options_.tolerance) continue;
            keep[at] = 1;
            stack.push_back({at, j});
            stack.push_back({i, at});
        }
    }

    // Writes a chain as paths of its colours: each run of one colour, with the first point of the
    // next run as its last, is one subpath; a closed chain of one colour is a closed subpath.
    void emit(const std::vector<Point>& chain, bool closed) {
        const size_t n = chain.size();
        std::vector<uint8_t> keep(n, 0);
        size_t a = 0;
        while (a < n) {
            size_t b = a;
            while (b + 1 < n && chain[b + 1].colour == chain[a].colour) ++b;
            const size_t end = b + 1 < n ? b + 1 : b;
            if (end == a) {
                writeDot(chain[a]);
            } else if (options_.curves) {
                runs_.push_back({{chain.begin() + static_cast<ptrdiff_t>(a), chain.begin() + static_cast<ptrdiff_t>(end) + 1},
                                 closed && a == 0 && b + 1 == n, chain[a].colour});
            } else {
                simplify(chain, a, end, keep);
                writeRun(chain, a, end, keep, closed && a == 0 && b + 1 == n);
            }
            a = b + 1;
        }
    }

    static void number(std::string& d, int64_t v) {
        if (v < 0) {
            d += '-';
            v = -v;
        }
        char buf[24];
        auto r = std::to_chars(buf, buf + sizeof buf, v / 100);
        d.append(buf, r.ptr);
        if (const int64_t frac = v % 100) {
            d += '.';
            d += static_cast<char>('0' + frac / 10);
            if (frac % 10) d += static_cast<char>('0' + frac % 10);
        }
    }
    // A number after another: a space unless the minus sign separates them.
    static void nextNumber(std::string& d, int64_t v) {
        if (v >= 0) d += ' ';
        number(d, v);
    }

    void moveTo(PathData& path, const Point& p) {
        path.d += 'm';
        if (options_.curves) {
            put(path, p.x - path.x, true);
            put(path, p.y - path.y, false);
        } else {
            number(path.d, p.x - path.x);
            nextNumber(path.d, p.y - path.y);
        }
        path.x = p.x;
        path.y = p.y;
        path.command = 'l';
        ++points_;
    }

    // A number of curve output: no leading zero (".5", "-.25"), and no space where the sign or a
    // second decimal point separates it from the one before.
    static void put(PathData& path, int64_t v, bool afterLetter) {
        const uint64_t a = static_cast<uint64_t>(v < 0 ? -v : v);
        const bool leadingDot = a > 0 && a < 100;
        if (!afterLetter && v >= 0 && !(leadingDot && path.dot)) path.d += ' ';
        if (v < 0) path.d += '-';
        if (!leadingDot) {
            char buf[24];
            path.d.append(buf, std::to_chars(buf, buf + sizeof buf, a / 100).ptr);
        }
        const uint64_t frac = a % 100;
        if (frac) {
            path.d += '.';
            path.d += static_cast<char>('0' + frac / 10);
            if (frac % 10) path.d += static_cast<char>('0' + frac % 10);
        }
        path.dot = frac != 0;
    }

    // Numbers of one command, its letter first unless it repeats the last one.
    static void command(PathData& path, char letter, const int64_t* v, int count) {
        const bool same = path.command == letter;
        if (!same) path.d += letter;
        path.command = letter;
        for (int k = 0; k < count; ++k) put(path, v[k], k == 0 && !same);
    }

    void lineTo(PathData& path, const Point& q) {
        const int64_t v[2] = {q.x - path.x, q.y - path.y};
        command(path, 'l', v, 2);
        path.x = q.x;
        path.y = q.y;
        ++points_;
    }

    // A Bézier from the current point; `smooth` writes it as "s", its first control point being
    // the mirror of the last one's second.
    void curveTo(PathData& path, const Cubic& c, bool smooth) {
        int64_t v[6];
        for (int k = 0; k < 3; ++k) {
            v[2 * k] = std::llround(c.p[k + 1].x * 100) - path.x;
            v[2 * k + 1] = std::llround(c.p[k + 1].y * 100) - path.y;
        }
        command(path, smooth ? 's' : 'c', smooth ? v + 2 : v, smooth ? 4 : 6);
        path.x += v[4];
        path.y += v[5];
        ++points_;
    }

    // The point farthest from p[i] towards p[limit] (on either side) such that one Bézier with free
    // handles fits the points between (at least the neighbour of i).
    static size_t furthest(PieceFitter& fitter, size_t i, size_t limit) {
        Cubic c;
        const bool up = limit > i;
        const size_t span = up ? limit - i : i - limit;
        auto fits = [&](size_t d) { return up ? fitter.fit(i, i + d, {}, {}, c) : fitter.fit(i - d, i, {}, {}, c); };
        size_t lo = 1, hi = span;  // lo fits (two points always do), hi does not
        if (fits(span)) return limit;
        for (size_t step = 2; step < span; step *= 2) {
            if (!fits(step)) {
                hi = step;
                break;
            }
            lo = step;
        }
        while (hi - lo > 1) {
            const size_t mid = lo + (hi - lo) / 2;
            (fits(mid) ? lo : hi) = mid;
        }
        return up ? i + lo : i - lo;
    }

    // The unit tangent of p at k (p[k - r] to p[k + r]), `ring` points long when the chain is
    // closed; an open chain's ends cut the reach short.
    static Vec tangentAt(const std::vector<Vec>& p, size_t k, size_t reach, size_t ring) {
        const size_t back = ring ? (k + ring - reach) % ring : k - std::min(k, reach);
        const size_t ahead = ring ? (k + reach) % ring : std::min(k + reach, p.size() - 1);
        return (p[ahead] - p[back]).unit();
    }

    // Béziers for p[i..j] with the given handles: one where it fits, else split at the point that
    // misses most, both halves taking the chain's tangent there. After a Bézier, one leaving
    // along its tangent is written as "s" where the mirrored handle fits.
    void fitBetween(PathData& path, PieceFitter& fitter, const std::vector<Vec>& p, size_t i, size_t j, Handle h1,
                    Handle h2, std::optional<Cubic>& last) {
        Cubic c;
        if (fitter.fit(i, j, h1, h2, c) || j - i < 2) {
            Cubic mirrored;
            if (last && h1.kind == Handle::Along) {
                const Handle given{Handle::Given, last->p[3] * 2 - last->p[2]};
                if (fitter.fit(i, j, given, h2, mirrored)) {
                    fitter.round(i, given, h2, mirrored);
                    curveTo(path, mirrored, true);
                    last = mirrored;
                    return;
                }
                fitter.fit(i, j, h1, h2, c);
            }
            fitter.round(i, h1, h2, c);
            curveTo(path, c, false);
            last = c;
            return;
        }
        // Kept within the middle half, so the splits stay O(log n) deep.
        const size_t at = std::clamp(fitter.worstPoint(i, c), i + (j - i) / 4, j - (j - i) / 4);
        const Vec t = tangentAt(p, at, std::min<size_t>({kTangentReach, at - i, j - at}), 0);
        fitBetween(path, fitter, p, i, at, h1, {Handle::Along, t * -1}, last);
        fitBetween(path, fitter, p, at, j, {Handle::Along, t}, h2, last);
    }

    // Writes a run of one colour as lines and Béziers, from the current point when `joined`. It is
    // split at its corners; a piece between two corners is a line when that keeps within the
    // tolerance, else Béziers. Their joins are where one Bézier with free handles stops fitting;
    // there both take the chain's tangent, and each is fitted again along it (split further where
    // it no longer fits). A last step of one pixel into a corner is a line. A closed run starts
    // at its first corner, or without one is a smooth closed curve.
    void writeCurves(std::vector<Point> pts, bool closed, bool joined, double tolerance, uint32_t colour) {
        std::vector<Vec> p(pts.size());
        auto toVec = [&] {
            for (size_t k = 0; k < pts.size(); ++k) p[k] = {pts[k].x / 100.0, pts[k].y / 100.0};
        };
        toVec();
        std::vector<size_t> corners = findCorners(p, closed);
        const size_t m = pts.size() - 1;
        if (closed && !corners.empty() && corners[0] != 0) {
            const size_t c0 = corners[0];
            std::rotate(pts.begin(), pts.begin() + static_cast<ptrdiff_t>(c0), pts.begin() + static_cast<ptrdiff_t>(m));
            pts[m] = pts[0];
            toVec();
            for (size_t& c : corners) c -= c0;
        }
        const bool smoothRing = closed && corners.empty();
        if (corners.empty() || corners[0] != 0) corners.insert(corners.begin(), 0);
        corners.push_back(m);
        PathData& path = paths_[colour];
        if (!joined) moveTo(path, pts[0]);
        PieceFitter fitter(p, tolerance);
        SplineFitter splines(p, tolerance);
        std::vector<size_t> joins, back;
        std::vector<Cubic> free;  // the Béziers with free handles between the joins
        std::vector<uint8_t> straight;  // which of those pieces are lines
        for (size_t s = 0; s + 1 < corners.size(); ++s) {
            const size_t i0 = corners[s], j0 = corners[s + 1];
            if (!smoothRing) {
                bool straight = true;
                for (size_t k = i0 + 1; k < j0 && straight; ++k) straight = excess(pts[i0], pts[j0], pts[k]) <= tolerance;
                if (straight) {
                    lineTo(path, pts[j0]);
                    continue;
                }
            }
            // Joins as far apart as free Béziers reach, from the start and from the end; where both
            // need as many, each join halfway between the two, which leaves room for the tangents.
            joins.assign(1, i0);
            while (joins.back() < j0) joins.push_back(furthest(fitter, joins.back(), j0));
            back.assign(1, j0);
            while (back.back() > i0 && back.size() <= joins.size()) back.push_back(furthest(fitter, back.back(), i0));
            if (back.size() == joins.size())
                for (size_t k = 1; k + 1 < joins.size(); ++k) joins[k] = (joins[k] + back[joins.size() - 1 - k]) / 2;
            std::vector<size_t> splineJoins = joins;
            if (!smoothRing && joins.size() > 2 && joins[joins.size() - 2] + 1 == j0) joins.pop_back();  // the step into the corner
            free.resize(joins.size() - 1);
            for (size_t k = 0; k + 1 < joins.size(); ++k) fitter.fit(joins[k], joins[k + 1], {}, {}, free[k]);
            // The tangent at a join: between the directions in which the two free Béziers meet there.
            std::vector<Vec> tangent(joins.size());
            for (size_t k = 0; k < joins.size(); ++k) {
                const bool inner = k > 0 && k + 1 < joins.size();
                if (!inner && !smoothRing) continue;
                const Cubic& in = free[k > 0 ? k - 1 : free.size() - 1];
                const Cubic& out = free[k + 1 < joins.size() ? k : 0];
                const Vec t = (in.p[3] - in.p[2]).unit() + (out.p[1] - out.p[0]).unit();
                const size_t at = joins[k] == m ? 0 : joins[k];
                tangent[k] = t.length() > 0.1 ? t.unit() : tangentAt(p, at, std::min<size_t>(kTangentReach, m / 2), smoothRing ? m : 0);
            }
            // A piece within the tolerance of its chord is a line, unless the one before is: the
            // Béziers beside it leave and arrive along the line.
            straight.assign(joins.size() - 1, 0);
            for (size_t k = 0; k + 1 < joins.size() && !smoothRing; ++k) {
                if (k > 0 && straight[k - 1]) continue;
                const size_t a = joins[k], b = joins[k + 1];
                bool fits = true;
                for (size_t q = a + 1; q < b && fits; ++q) fits = excess(pts[a], pts[b], pts[q]) <= tolerance;
                if (!fits) continue;
                straight[k] = 1;
                tangent[k] = tangent[k + 1] = (p[b] - p[a]).unit();
            }
            // Two ways to write the piece, the shorter kept: Béziers along the tangents at the joins
            // (lines where straight), and Béziers with mirrored handles at every join.
            const int64_t pointsBefore = points_;
            PathData along{{}, path.x, path.y, path.command, path.dot};
            std::optional<Cubic> last;
            for (size_t k = 0; k + 1 < joins.size(); ++k) {
                if (straight[k]) {
                    lineTo(along, pts[joins[k + 1]]);
                    last.reset();
                    continue;
                }
                const bool from = k > 0 || smoothRing, to = k + 2 < joins.size() || smoothRing;
                fitBetween(along, fitter, p, joins[k], joins[k + 1], from ? Handle{Handle::Along, tangent[k]} : Handle{},
                           to ? Handle{Handle::Along, tangent[k + 1] * -1} : Handle{}, last);
            }
            if (joins.back() != j0) lineTo(along, pts[j0]);
            const int64_t alongPoints = points_ - pointsBefore;
            points_ = pointsBefore;
            PathData mirrored{{}, path.x, path.y, path.command, path.dot};
            std::vector<Cubic> spline;
            const bool fits = splines.fit(splineJoins, smoothRing, spline);
            if (fits) {
                splines.round(splineJoins, smoothRing, spline);
                for (size_t k = 0; k < spline.size(); ++k) curveTo(mirrored, spline[k], k > 0);
            }
            const bool useMirrored = fits && mirrored.d.size() < along.d.size();
            const PathData& chosen = useMirrored ? mirrored : along;
            points_ = pointsBefore + (useMirrored ? points_ - pointsBefore : alongPoints);
            path.d += chosen.d;
            path.x = chosen.x;
            path.y = chosen.y;
            path.command = chosen.command;
            path.dot = chosen.dot;
        }
        if (closed) {
            path.d += 'z';
            ++points_;
        }
    }

    // Writes the runs kept for curves. A path goes on through a node without a moveto: after each
    // open run comes the first run not yet written that starts or ends where it ended. Where none
    // does, the path moves to the nearest end of a run not yet written, so the moves are short.
    void writeRuns() {
        std::map<std::tuple<uint32_t, int64_t, int64_t>, std::vector<size_t>> at;  // open runs by end point
        std::map<uint32_t, std::vector<size_t>> byColour;
        auto key = [&](const Run& r, const Point& q) { return std::tuple{r.colour, q.x, q.y}; };
        for (size_t k = 0; k < runs_.size(); ++k) {
            byColour[runs_[k].colour].push_back(k);
            if (runs_[k].closed) continue;
            at[key(runs_[k], runs_[k].pts.front())].push_back(k);
            at[key(runs_[k], runs_[k].pts.back())].push_back(k);
        }
        // A small hole (a ring, or two runs between the same two nodes, of a few pixels) closes up
        // when its sides are drawn as loosely as the tolerance allows: those keep nearer their pixels.
        std::map<std::tuple<uint32_t, int64_t, int64_t, int64_t, int64_t>, size_t> shortest;  // by both ends
        auto ends = [&](size_t k) {
            Point a = runs_[k].pts.front(), b = runs_[k].pts.back();
            if (std::pair{b.x, b.y} < std::pair{a.x, a.y}) std::swap(a, b);
            return std::tuple{runs_[k].colour, a.x, a.y, b.x, b.y};
        };
        std::vector<size_t> holeSteps(runs_.size(), SIZE_MAX);
        for (size_t k = 0; k < runs_.size(); ++k) {
            const size_t steps = runs_[k].pts.size() - 1;
            if (runs_[k].closed) {
                holeSteps[k] = steps;
                continue;
            }
            const auto [it, added] = shortest.insert({ends(k), k});
            if (!added) {
                holeSteps[k] = steps + runs_[it->second].pts.size() - 1;
                holeSteps[it->second] = std::min(holeSteps[it->second], holeSteps[k]);
                if (steps < runs_[it->second].pts.size() - 1) it->second = k;
            }
        }
        auto tolerance = [&](size_t k) { return holeSteps[k] <= kSmallHole ? std::min(options_.tolerance, kSmallHoleTolerance) : options_.tolerance; };
        std::vector<uint8_t> written(runs_.size(), 0);
        for (const auto& [colour, group] : byColour) {
            // The runs' ends (a ring's first point) in square cells of about one run each.
            const int64_t cell = std::max<int64_t>(8, std::llround(std::sqrt(double(w_) * h_ / double(group.size()))));
            const int64_t gw = w_ / cell + 1, gh = h_ / cell + 1;
            std::vector<std::vector<std::pair<size_t, bool>>> cells(static_cast<size_t>(gw * gh));  // run, its back end
            auto cellOf = [&](const Point& q) { return std::pair{q.x / 100 / cell, q.y / 100 / cell}; };
            for (const size_t k : group)
                for (const bool back : {false, true}) {
                    if (back && runs_[k].closed) continue;
                    const auto [cx, cy] = cellOf(back ? runs_[k].pts.back() : runs_[k].pts.front());
                    cells[static_cast<size_t>(cy * gw + cx)].push_back({k, back});
                }
            PathData& path = paths_[colour];
            for (size_t left = group.size(); left > 0;) {
                // The nearest end by the sum of the move's two distances; cells ring by ring
                // around the current point until no nearer one can be found.
                const auto [px, py] = cellOf({path.x, path.y, 0});
                int64_t best = INT64_MAX;
                std::pair<size_t, bool> found{0, false};
                for (int64_t r = 0; r <= std::max(gw, gh); ++r) {
                    if (best != INT64_MAX && (r - 1) * cell * 100 > best) break;
                    for (int64_t cy = py - r; cy <= py + r; ++cy)
                        for (int64_t cx = px - r; cx <= px + r; cx += (cy == py - r || cy == py + r) ? 1 : 2 * r) {
                            if (cx < 0 || cy < 0 || cx >= gw || cy >= gh) {
                                if (r == 0) break;
                                continue;
                            }
                            for (const auto& [k, back] : cells[static_cast<size_t>(cy * gw + cx)]) {
                                if (written[k]) continue;
                                const Point& q = back ? runs_[k].pts.back() : runs_[k].pts.front();
                                const int64_t d = std::abs(q.x - path.x) + std::abs(q.y - path.y);
                                if (d < best || (d == best && std::pair{k, back} < found)) best = d, found = {k, back};
                            }
                            if (r == 0) break;
                        }
                }
                if (best == INT64_MAX) break;  // (every run counted is found)
                const size_t k = found.first;
                written[k] = 1;
                --left;
                if (found.second) std::reverse(runs_[k].pts.begin(), runs_[k].pts.end());
                writeCurves(runs_[k].pts, runs_[k].closed, false, tolerance(k), colour);
                if (runs_[k].closed) continue;
                for (Point end = runs_[k].pts.back();;) {
                    const auto& next = at[key(runs_[k], end)];
                    const auto it = std::find_if(next.begin(), next.end(), [&](size_t q) { return !written[q]; });
                    if (it == next.end()) break;
                    written[*it] = 1;
                    --left;
                    std::vector<Point>& pts = runs_[*it].pts;
                    if (pts.front().x != end.x || pts.front().y != end.y) std::reverse(pts.begin(), pts.end());
                    writeCurves(pts, false, true, tolerance(*it), colour);
                    end = pts.back();
                }
            }
        }
    }

    void writeDot(const Point& p) {
        PathData& path = paths_[p.colour];
        moveTo(path, p);
        path.d += "h0";
    }

    void writeRun(const std::vector<Point>& chain, size_t first, size_t last, const std::vector<uint8_t>& keep,
                  bool closed) {
        PathData& path = paths_[chain[first].colour];
        moveTo(path, chain[first]);
        const Point start = chain[first];
        bool any = false;
        const size_t stop = closed ? last - 1 : last;  // a closed path ends on "z" instead of its first point
        for (size_t k = first + 1; k <= stop; ++k) {
            if (!keep[k]) continue;
            nextNumber(path.d, chain[k].x - path.x);
            nextNumber(path.d, chain[k].y - path.y);
            path.x = chain[k].x;
            path.y = chain[k].y;
            any = true;
            ++points_;
        }
        if (!any) {  // a closed ring simplified to its one point
            path.d += " 0 0";
            ++points_;
        }
        if (closed) {
            path.d += 'z';
            path.x = start.x;
            path.y = start.y;
            ++points_;
        }
    }

    void writeDocument(std::string& svg) {
        std::string width, height, strokeWidth;
        number(width, int64_t(w_) * 100);
        number(height, int64_t(h_) * 100);
        number(strokeWidth, std::llround(options_.strokeWidth * 100));
        svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" + width + "\" height=\"" + height +
              "\" viewBox=\"-0.5 -0.5 " + width + " " + height + "\">\n";
        for (const auto& [colour, path] : paths_) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "#%06x", colour);
            svg += "<path fill=\"none\" stroke=\"";
            svg += hex;
            svg += "\" stroke-width=\"" + strokeWidth +
                   "\" stroke-linecap=\"round\" stroke-linejoin=\"round\" d=\"" + path.d + "\"/>\n";
        }
        svg += "</svg>\n";
    }
};

}  // namespace

std::string checkCentreLineOptions(const CentreLineOptions& options) {
    if (!(options.tolerance >= 0 && options.tolerance <= kMaxCentreLineTolerance))
        return "the tolerance must be from 0 to 100 pixels";
    if (!(options.strokeWidth > 0 && options.strokeWidth <= kMaxCentreLineWidth))
        return "the stroke width must be above 0 and at most 1000";
    if (std::llround(options.strokeWidth * 100) < 1) return "the stroke width must be at least 0.01";
    return {};
}

OpResult traceCentreLines(const DibImage& image, const CentreLineOptions& options, std::string& svg,
                          CentreLineStats* stats) {
    if (!image.hasBlocks()) return OpResult::refused(kNoPixelRows);
    const auto h = image.header();
    if (h.biBitCount != 8 || h.biWidth <= 0 || h.biHeight <= 0 || h.biCompression != 0) return OpResult::refused(kNeeds8Bit);
    if (strideFor(h.biWidth, 8) * h.biHeight > static_cast<int64_t>(image.bits.size())) return OpResult::refused(kNeedsRows8);
    if (const std::string why = checkCentreLineOptions(options); !why.empty()) return OpResult::refused(why);
    CentreLineStats local;
    Tracer tracer(image, options);
    tracer.run(svg, stats ? *stats : local);
    return OpResult::changed();
}

bool isSvgName(std::string_view path) {
    if (path.size() < 4) return false;
    const std::string_view ext = path.substr(path.size() - 4);
    return ext[0] == '.' && (ext[1] | 0x20) == 's' && (ext[2] | 0x20) == 'v' && (ext[3] | 0x20) == 'g';
}

ImageError saveCentreLineSvg(const DibImage& image, const std::string& path, const CentreLineOptions& options,
                             std::string* why) {
    std::string svg;
    OpResult r;
    try {
        r = traceCentreLines(image, options, svg);
    } catch (const std::bad_alloc&) {
        r = OpResult::refused("not enough memory to trace the strokes");
    }
    if (r.isRefused()) {
        if (why) *why = r.reason;
        return image.info.empty() ? ImageError::NoPicture : ImageError::Unsupported;
    }
    if (!writeFileAtomically(path, svg)) {
        if (why) why->clear();
        return ImageError::WriteFailed;
    }
    return ImageError::None;
}

}  // namespace qel
