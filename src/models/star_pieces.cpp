#include "models/star_pieces.hpp"

#include <algorithm>
#include <cmath>

namespace caldrith {
namespace {

// A singular point x + iy (y ≥ 0; the conjugate is as far from the axis).
struct Point {
    double x;
    double y;
};

// How far the nodes are drawn towards an end: towards the ring through the
// lens from above it (3) and from below it (4), towards the limb (4).
constexpr int AFTER_RING = 3;
constexpr int BEFORE_RING = 4;
constexpr int LIMB = 4;

// A piece is cut until every singular point off it lies at least CLOSENESS
// times its length away (GRADED_CLOSENESS for a branch point off the axis
// and a piece with an end drawn towards a singularity); the piece
// next to a point near one of its ends is then (a little less than)
// 1/CLOSENESS times that distance long, and the pieces beyond grow
// geometrically, each (1 + 1/CLOSENESS) times the last.
constexpr double CLOSENESS = 0.25;
constexpr double GRADED_CLOSENESS = 0.5;
// The branch points l ± 2ic shape R within about c of the ring through the
// lens, where the magnification's excess over 1 is of order c²: below
// FAINT_BRANCH_POINTS (stars larger than 1e5 Einstein radii) that is far below
// the target, and they ask for no cuts.
constexpr double FAINT_BRANCH_POINTS = 1e-5;
// No piece is cut shorter: the integrand is bounded but for logarithms, so
// what a rule misses over a stretch this short is far below its target.
constexpr double SMALLEST_PIECE = 1e-13;

// Nodes per piece: as many as a rule needs for TARGET relative to the whole
// integral, a piece contributing in proportion to its length and its rule
// converging as ρ^(−2n), ρ the Bernstein radius of the nearest singular
// point off it (GRADED_RADIUS, about that of a point CLOSENESS lengths
// beyond an end drawn towards a singularity of its own). At least
// FEWEST_NODES; at least 8, 12 or 16 with an end at the ring through the
// lens or at the limb, by length.
constexpr double TARGET = 1e-11;
constexpr std::size_t FEWEST_NODES = 4;
constexpr double GRADED_RADIUS = 3.0;
struct EndNodes {
    double sixteen;  // from this length on, 16 nodes
    double twelve;   // 12
};
constexpr EndNodes RING_NODES{0.3, 0.03};
constexpr EndNodes LIMB_NODES{0.05, 0.01};

std::size_t end_nodes(const EndNodes& counts, double length) {
    return length >= counts.sixteen ? 16 : length >= counts.twelve ? 12 : 8;
}

// The rules of the piece types, looked up once.
std::span<const QuadratureNode> rule_for(std::size_t n, int order_lo, int order_hi) {
    struct Table {
        // [nodes / 2 − 2][order_lo == 3][order_hi == 4], for 4 ≤ n ≤ 16.
        std::array<std::array<std::array<std::span<const QuadratureNode>, 2>, 2>, 7> rules;
        Table() {
            for (std::size_t k = 0; k < rules.size(); ++k) {
                for (int lo = 0; lo < 2; ++lo) {
                    for (int hi = 0; hi < 2; ++hi) {
                        rules[k][lo][hi] = gauss_legendre_rule(2 * k + 4, lo == 1 ? AFTER_RING : 1, hi == 1 ? LIMB : 1);
                    }
                }
            }
        }
    };
    static const Table table;
    return table.rules[n / 2 - 2][order_lo == AFTER_RING ? 1 : 0][order_hi == LIMB ? 1 : 0];
}

// ρ of the Bernstein ellipse (foci at the ends of [a, b]) through z: a rule
// of n nodes on [a, b] converges as ρ^(−2n) for a function analytic inside it.
double bernstein_radius(double a, double b, Point z) {
    const double half = 0.5 * (b - a);
    const double x = (z.x - 0.5 * (a + b)) / half;
    const double y = z.y / half;
    const double y2 = y * y;
    const double major = 0.5 * (std::sqrt((x - 1.0) * (x - 1.0) + y2) + std::sqrt((x + 1.0) * (x + 1.0) + y2));
    return major + std::sqrt(std::fmax(major * major - 1.0, 0.0));
}

}  // namespace

StarPieces::StarPieces(const StarShape& shape, double l)
    : l_(l), cuts_end_(shape.cuts.empty() ? 0.0 : shape.cuts.back()), cut_nodes_(shape.cut_nodes) {
    std::array<Point, 3> points;
    std::size_t point_count = 0;
    points[point_count++] = {l, 0.0};
    if (shape.c > FAINT_BRANCH_POINTS) {
        points[point_count++] = {l, 2.0 * shape.c};
    }
    if (shape.powers_at_limb) {
        points[point_count++] = {1.0, 0.0};
    }
    const std::span<const Point> singular(points.data(), point_count);

    struct Interval {
        double a, b;
        int order_a, order_b;
    };
    // The singular point off the piece nearest relative to its length:
    // where it is nearest, its distance and its Bernstein radius.
    struct Nearest {
        double shortfall;  // (closeness / closeness asked)²; < 1 asks for a cut
        double x;
        double distance;
        double radius;
        double asked;  // the closeness asked of it
    };
    // The closeness asked of a point: more of one off the axis (a branch
    // point, which a rule on the piece meets at its middle as well as at its
    // ends) when an end of the piece is drawn towards a singularity (its rule
    // has fewer nodes elsewhere).
    auto closeness_of = [](const Interval& piece, const Point& p) {
        return p.y > 0.0 && (piece.order_a > 1 || piece.order_b > 1) ? GRADED_CLOSENESS : CLOSENESS;
    };
    auto nearest = [&](const Interval& piece) {
        Nearest best{INFINITY, 0.0, 0.0, INFINITY, CLOSENESS};
        const double length = piece.b - piece.a;
        const Point* chosen = nullptr;
        for (const Point& p : singular) {
            const double x = std::clamp(p.x, piece.a, piece.b);
            const double squared = (p.x - x) * (p.x - x) + p.y * p.y;
            const double asked = length * closeness_of(piece, p);
            // A point at an end of the piece (distance 0) is its rule's.
            if (squared > 0.0 && squared < best.shortfall * (asked * asked)) {
                best = {squared / (asked * asked), x, squared, 0.0, closeness_of(piece, p)};
                chosen = &p;
            }
        }
        if (chosen != nullptr) {
            best.distance = std::sqrt(best.distance);
            const bool at_graded_end =
                (best.x == piece.a && piece.order_a > 1) || (best.x == piece.b && piece.order_b > 1);
            best.radius = at_graded_end ? GRADED_RADIUS : bernstein_radius(piece.a, piece.b, *chosen);
        }
        return best;
    };

    // Cuts every interval between the fixed points (0, the law's cuts, the
    // ring through the lens inside the star, 1) as far as it needs, left to
    // right.
    auto cut = [&](Interval whole) {
        std::array<Interval, 64> stack;
        std::size_t depth = 0;
        stack[depth++] = whole;
        while (depth > 0) {
            const Interval piece = stack[--depth];
            const Nearest point = nearest(piece);
            if (point.shortfall >= 1.0 || count_ + depth + 2 >= MAX_STAR_PIECES || depth + 2 > stack.size()) {
                add(piece.a, piece.b, piece.order_a, piece.order_b, point.radius);
                continue;
            }
            // A point near an end: a piece next to it that is as long as
            // asked (a little shorter, so that rounding cannot stall the
            // cutting); the pieces beyond grow geometrically.
            const double reach = 0.99 * point.distance / point.asked;
            double m = point.x;
            if (point.x - piece.a <= reach) {
                m = piece.a + reach;
            } else if (piece.b - point.x <= reach) {
                m = piece.b - reach;
            }
            // A feature narrower than SMALLEST_PIECE (or than the doubles
            // between the ends) weighs nothing the rule would miss.
            if (reach < SMALLEST_PIECE || !(m > piece.a && m < piece.b)) {
                add(piece.a, piece.b, piece.order_a, piece.order_b, point.radius);
                continue;
            }
            stack[depth++] = {m, piece.b, 1, piece.order_b};
            stack[depth++] = {piece.a, m, piece.order_a, 1};
        }
    };

    const bool inside = l > 0.0 && l < 1.0;
    const int limb_order = shape.powers_at_limb || std::fabs(l - 1.0) <= SMALLEST_PIECE ? LIMB : 1;
    double start = 0.0;
    int start_order = 1;
    auto cut_to = [&](double end, int order_below, int order_above) {
        if (end > start) {
            cut({start, end, start_order, order_below});
            start = end;
            start_order = order_above;
        }
    };
    for (const double cut_point : shape.cuts) {
        if (inside && l < cut_point) {
            cut_to(l, BEFORE_RING, AFTER_RING);
        }
        // A ring closer to a cut than any piece may be is taken as on it:
        // the cut moves to the ring (a kink moved that little weighs nothing).
        if (!(std::fabs(cut_point - l) <= SMALLEST_PIECE)) {
            cut_to(cut_point, 1, 1);
        }
    }
    if (inside) {
        cut_to(l, BEFORE_RING, AFTER_RING);
    }
    cut_to(1.0, limb_order, 1);
}

void StarPieces::add(double lo, double hi, int order_lo, int order_hi, double radius) {
    const double length = hi - lo;
    std::size_t nodes = FEWEST_NODES;
    if (lo == l_ || hi == l_) {
        nodes = std::max(nodes, end_nodes(RING_NODES, length));
    }
    if (hi == 1.0 && order_hi == LIMB) {
        nodes = std::max(nodes, end_nodes(LIMB_NODES, length));
    }
    if (hi <= cuts_end_) {
        nodes = std::max(nodes, cut_nodes_);
    }
    // The fewest nodes n (even) with radius^(2n) ≥ length / TARGET.
    const double asked = length / TARGET;
    const double step = radius * radius;
    double reached = 1.0;
    for (std::size_t k = 0; k < nodes; ++k) {
        reached *= step;
    }
    while (nodes < 16 && reached < asked) {
        nodes += 2;
        reached *= step * step;
    }
    pieces_[count_++] = {lo, hi, rule_for(nodes, order_lo, order_hi).data(), nodes, lo == l_, hi == l_};
    nodes_ += nodes;
}

}  // namespace caldrith
