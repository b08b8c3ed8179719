// The split-reciprocal quotient of warp/exact_quotient.h: the division's own
// double wherever its range test admits the operands, that test refusing the
// edges, the per-segment test implying it for every quotient the kernel
// takes, and the fast kernel equal to the literal one on segment files with
// those edges, on every SIMD target. Then the method newton's quotient and
// root from estimates, lane by lane on every target that has them, against
// the division and the square root. TAVROSK_SEED=N reruns a reported seed.
#include <gtest/gtest.h>
#include <hwy/targets.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <sstream>
#include <vector>

#include "tests/support/test_support.h"
#include "warp/exact_quotient.h"
#include "warp/warp.h"

namespace {

bool same_bits(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Every pair of edge values: where the range test admits it, the quotient is
// n / d bit for bit (the sign of a zero included); the range test must refuse
// every divisor or numerator that is subnormal, infinite, NaN or beyond 2^900.
TEST(ExactQuotient, EdgesEqualDivisionOrAreRefused)
{
    const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
    const double sub = std::numeric_limits<double>::denorm_min(), tiny = std::numeric_limits<double>::min();
    const double lo = std::ldexp(1.0, -900), hi = std::ldexp(1.0, 900);
    const std::vector<double> values = {0.0, -0.0, 1.0, -1.0, 3.0, 0.1, -7.25, lo, -lo, hi, -hi,
                                        std::nextafter(lo, 0.0), std::nextafter(hi, inf), sub, -sub, 4 * sub,
                                        tiny, -tiny, 1e300, -1e300, 1e-300, -1e-300, inf, -inf, nan,
                                        std::sqrt(2.0), 1.0 / 3.0, std::ldexp(1.0, 52) - 1};
    int checked = 0;
    for (double d : values)
        for (double n : values) {
            const bool in = exact_quotient_in_range(n, d);
            const bool edge = !std::isnormal(d) || d < lo || d > hi || (n != 0 && (!std::isnormal(n)
                              || std::fabs(n) < lo || std::fabs(n) > hi));
            if (edge) {
                EXPECT_FALSE(in) << n << " / " << d;
                continue;
            }
            if (!in)
                continue;
            ++checked;
            const double q = exact_quotient(n, d, split_reciprocal(d));
            EXPECT_TRUE(same_bits(q, n / d)) << std::hexfloat << n << " / " << d << ": " << q << " vs " << n / d;
        }
    EXPECT_GT(checked, 80);
}

// Random operands over the whole range, with full and with short mantissas
// (whole numbers, as pixel coordinates make) and the divisors the kernel has:
// lengths and their squares.
TEST(ExactQuotient, SeededSweepEqualsDivision)
{
    std::mt19937_64 rng(test_seed(20261208u));
    std::uniform_int_distribution<int> exponent(-880, 880);
    std::uniform_real_distribution<double> mantissa(1, 2);
    for (int i = 0; i < 1000000; ++i) {
        double d = std::ldexp(mantissa(rng), exponent(rng));
        if (i % 3 == 1)
            d = std::sqrt(static_cast<double>(rng() % 100000000 + 1));
        else if (i % 3 == 2)
            d = std::sqrt(static_cast<double>(rng() % 100000000 + 1)) * std::sqrt(static_cast<double>(rng() % 7 + 1));
        double n = std::ldexp(mantissa(rng), exponent(rng) / 2) * (rng() % 2 ? 1 : -1);
        if (i % 2)
            n = static_cast<double>(static_cast<int64_t>(rng() % 2000000) - 1000000) / 4;
        if (!exact_quotient_in_range(n, d))
            continue;
        const double q = exact_quotient(n, d, split_reciprocal(d));
        ASSERT_TRUE(same_bits(q, n / d)) << std::hexfloat << n << " / " << d << ": " << q << " vs " << n / d;
    }
}

// The quotients of one pixel as the kernel forms them, each in the proven
// range, for segments that exact_quotient_segment admits: coordinates at the
// ends of its range, 0, and pixels from 0 to 2^31 - 1.
TEST(ExactQuotient, AdmittedSegmentsKeepEveryQuotientInRange)
{
    std::mt19937_64 rng(test_seed(20261209u));
    const double ends[] = {0.0, std::ldexp(1.0, -100), std::ldexp(1.0, 100), 0.5, 1.0, 1e-30, 1e30};
    const double pixels[] = {0.0, 1.0, 2.0, 1000.0, 2147483647.0};
    auto coordinate = [&] {
        const double c = rng() % 2 ? ends[rng() % 7] : std::ldexp(std::uniform_real_distribution<double>(1, 2)(rng),
                                                                    static_cast<int>(rng() % 200) - 100);
        return rng() % 2 ? c : -c;
    };
    for (int i = 0; i < 200000; ++i) {
        const Segment first = {coordinate(), coordinate(), coordinate(), coordinate()};
        const Segment second = {coordinate(), coordinate(), coordinate(), coordinate()};
        ASSERT_TRUE(exact_quotient_segment(first) && exact_quotient_segment(second));
        const double PQ_x = second.x2 - second.x1, PQ_y = second.y2 - second.y1;
        const double PQ1_x = first.x2 - first.x1, PQ1_y = first.y2 - first.y1;
        const double len = std::sqrt(PQ_x * PQ_x + PQ_y * PQ_y), len1 = std::sqrt(PQ1_x * PQ1_x + PQ1_y * PQ1_y);
        if (!(len > 0) || !(len1 > 0))
            continue;
        const double X_x = pixels[rng() % 5], X_y = pixels[rng() % 5];
        const double PX_x = X_x - second.x1, PX_y = X_y - second.y1;
        const double n_u = PX_x * PQ_x + PX_y * PQ_y, n_v = PX_x * -PQ_y + PX_y * PQ_x;
        const double v = n_v / len;
        const double quotients[4][2] = {{n_u, len * len}, {n_v, len}, {v * -PQ1_y, len1}, {v * PQ1_x, len1}};
        for (const auto& q : quotients)
            ASSERT_TRUE(exact_quotient_in_range(q[0], q[1]))
                << std::hexfloat << q[0] << " / " << q[1] << " at pixel (" << X_x << ", " << X_y << ")";
    }
}

// Segment files with coordinates far outside the admitted range (or exactly at
// its ends) next to ordinary ones, and a and p that put the weight's quotient
// outside its own: the kernel divides for those pairs and computes the others
// by fused multiply-adds and estimates, and all give the literal kernel's
// source points on every target, method and thread count.
TEST(ExactQuotient, FastKernelEqualsLiteralOnEdgeSegments)
{
    const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
    const double sub = std::numeric_limits<double>::denorm_min();
    const double odd[] = {1e300, -1e300, 1e-300, -1e-300, std::ldexp(1.0, 100), std::ldexp(1.0, -100),
                          std::ldexp(1.0, 101), std::ldexp(1.0, -101), sub, -0.0, inf, -inf, nan, 0.0};
    // a and p at and beyond the ends of the range that admits the weight's
    // quotient from the estimate (a and pow(|PQ|, p) in [2^-400, 2^400]).
    const double a_edges[] = {std::ldexp(1.0, -401), std::ldexp(1.0, -400), std::ldexp(1.0, 400),
                              std::ldexp(1.0, 401), 1e-300, 1e300, 1e-20};
    const double p_edges[] = {0.0, 150.0, 400.0, 1e-3};
    const uint32_t seed = test_seed(20261210u);
    std::mt19937 rng(seed);
    std::vector<int64_t> targets = hwy::SupportedAndGeneratedTargets();
    for (int i = 0; i < 60; ++i) {
        WarpCase c = make_warp_case(seed + i, 11, 5);
        for (Segment& s : c.table)
            for (double* coordinate : {&s.x1, &s.y1, &s.x2, &s.y2})
                if (rng() % 5 == 0)
                    *coordinate = odd[rng() % 14] * (rng() % 3 == 0 ? 1 : 0.5);
        if (i % 3 == 0)
            c.params.a = a_edges[i / 3 % 7];
        if (i % 4 == 1)
            c.params.p = p_edges[i / 4 % 4];
        SurfacePtr src(make_surface(c.w, c.h, 32));
        fill_random(src.get(), seed + i);
        const int n = static_cast<int>(c.table.size());
        std::vector<double> expected(2 * c.w * c.h), actual(2 * c.w * c.h);
        WarpOptions options;
        options.kernel = WARP_KERNEL_LITERAL;
        options.points_x = expected.data();
        options.points_y = expected.data() + c.w * c.h;
        SurfacePtr dst(SDL_CreateRGBSurface(0, c.w, c.h, 32, 0, 0, 0, 0));
        warp_surfaces(src.get(), dst.get(), c.table.data(), n, c.params, options);
        options.kernel = WARP_KERNEL_FAST;
        options.points_x = actual.data();
        options.points_y = actual.data() + c.w * c.h;
        for (int64_t target : targets)
            for (WarpQuotients method : quotient_methods) {
                hwy::SetSupportedTargetsForTest(target);
                warp_force_quotients(method);
                for (int threads : {1, 3}) {
                    options.threads = threads;
                    warp_surfaces(src.get(), dst.get(), c.table.data(), n, c.params, options);
                    for (size_t k = 0; k < expected.size(); ++k)
                        ASSERT_TRUE(same_bits(expected[k], actual[k])
                                    || (std::isnan(expected[k]) && std::isnan(actual[k])))
                            << describe_warp_case(seed + i, c) << "target " << hwy::TargetName(target)
                            << ", quotients by " << warp_quotient_method() << ", point " << k << ": " << expected[k]
                            << " vs " << actual[k];
                }
            }
        warp_force_quotients(WARP_QUOTIENTS_AUTO);
        hwy::SetSupportedTargetsForTest(0);
    }
}

// Whether the long double nearest t (64-bit significands on x86) lies within
// 2^-9 ulp of a midpoint between two doubles: the operands for which a
// result within a sixteenth of an ulp can round to the wrong side, so that
// the exact rounding test decides.
bool near_midpoint(long double t)
{
    int e;
    const long double m = std::frexp(t, &e);           // t = m * 2^e, 0.5 <= m < 1
    const long double bits = std::ldexp(m, 53);         // the double's ulp is 1 here
    const long double tail = bits - std::floor(bits);   // in ulps
    return std::fabs(tail - 0.5L) < 1.0L / 512;
}

// Operands of one newton step: a and b as estimate_lanes takes them, c the
// result to round from (for the rounding steps).
struct Operands {
    std::vector<double> a, b, c;
    void add(double x, double y = 1.0, double z = 1.0)
    {
        a.push_back(x);
        b.push_back(y);
        c.push_back(z);
    }
};

// The step on every target that has it, against the division or the square
// root, bit for bit; returns how many targets ran it.
int compare_on_targets(EstimateStep step, const Operands& o)
{
    const bool root = step == ESTIMATE_ROOT || step == ROUND_ROOT;
    std::vector<double> out(o.a.size());
    int ran = 0;
    for (int64_t target : hwy::SupportedAndGeneratedTargets()) {
        hwy::SetSupportedTargetsForTest(target);
        if (!estimate_lanes(step, o.a.data(), o.b.data(), o.c.data(), out.data(), out.size()))
            continue;
        ++ran;
        for (size_t i = 0; i < out.size(); ++i) {
            const double expected = root ? std::sqrt(o.a[i]) : o.a[i] / o.b[i];
            if (!same_bits(out[i], expected)) {
                std::ostringstream what;
                what << std::hexfloat << (root ? "sqrt " : "") << o.a[i];
                if (!root)
                    what << " / " << o.b[i];
                if (step == ROUND_QUOTIENT || step == ROUND_ROOT)
                    what << " from " << o.c[i];
                ADD_FAILURE() << hwy::TargetName(target) << ": " << what.str() << " = " << std::hexfloat << expected
                              << ", the lanes give " << out[i];
                break;
            }
        }
    }
    hwy::SetSupportedTargetsForTest(0);
    return ran;
}

// The rounding steps from every result within one ulp of the exact value
// that the whole sequences may hand them: the correctly rounded double r,
// and its neighbour on the exact value's side (both, when r is exact).
// `side` is the sign of the exact value minus r.
void add_candidates(Operands* o, double x, double y, double r, double side)
{
    o->add(x, y, r);
    if (side >= 0)
        o->add(x, y, std::nextafter(r, HUGE_VAL));
    if (side <= 0 && r > 0)
        o->add(x, y, std::nextafter(r, 0.0));
}

// The range tests refuse what the proofs do not cover: zero, negative,
// subnormal, infinite and NaN operands and those beyond the bounds.
TEST(EstimateRange, EdgesAreRefused)
{
    const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
    const double sub = std::numeric_limits<double>::denorm_min();
    const double q_lo = std::ldexp(1.0, -500), q_hi = std::ldexp(1.0, 500);
    const double r_lo = std::ldexp(1.0, -600), r_hi = std::ldexp(1.0, 600);
    const double w_lo = std::ldexp(1.0, -400), w_hi = std::ldexp(1.0, 400);
    const struct {
        std::function<bool(double)> test;
        std::vector<double> in, out;
    } cases[] = {
        {[](double v) { return estimate_quotient_in_range(v, 1.0) && estimate_quotient_in_range(1.0, v); },
         {q_lo, q_hi, 1.0, 3.0},
         {0.0, -0.0, -1.0, sub, DBL_MIN, std::nextafter(q_lo, 0.0), std::nextafter(q_hi, inf), inf, nan}},
        {[](double v) { return estimate_root_in_range(v); },
         {0.0, r_lo, r_hi, 2.0},
         {-0.0, -1.0, sub, DBL_MIN, std::nextafter(r_lo, 0.0), std::nextafter(r_hi, inf), inf, nan}},
        {[](double v) { return estimate_weight_admitted(v, 1.0) && estimate_weight_admitted(1.0, v); },
         {w_lo, w_hi, 0.5},
         {0.0, -1.0, sub, std::nextafter(w_lo, 0.0), std::nextafter(w_hi, inf), inf, nan}},
    };
    for (const auto& c : cases) {
        for (double v : c.in)
            EXPECT_TRUE(c.test(v)) << std::hexfloat << v;
        for (double v : c.out)
            EXPECT_FALSE(c.test(v)) << std::hexfloat << v;
    }
}

// The quotient from the estimate, and its rounding step alone from each
// result within one ulp: every pair of edge values in range, then operands
// near midpoints, then a seeded sweep over the whole range with the kernel's
// kinds of operands (a whole-number divisor a + dist, a numerator
// pow(|PQ|, 0.5)).
TEST(EstimateQuotient, EqualsDivision)
{
    const double lo = std::ldexp(1.0, -500), hi = std::ldexp(1.0, 500);
    const std::vector<double> edges = {lo, hi, std::nextafter(lo, 1.0), std::nextafter(hi, 0.0), 1.0,
                                       std::nextafter(1.0, 0.0), std::nextafter(1.0, 2.0), 2.0, 3.0, 1.0 / 3,
                                       std::sqrt(2.0), 0x1.fffffffffffffp0, 0x1.0000000000001p-1, 1e-100, 1e100,
                                       std::ldexp(1.0, 52) - 1, std::ldexp(1.0, 53) - 1, 7.0, 0.1};
    Operands whole, rounding;
    auto add = [&](double n, double d) {
        whole.add(n, d);
        add_candidates(&rounding, n, d, n / d, std::fma(-(n / d), d, n));
    };
    for (double n : edges)
        for (double d : edges)
            if (estimate_quotient_in_range(n, d))
                add(n, d);
    std::mt19937_64 rng(test_seed(20261211u));
    std::uniform_real_distribution<double> mantissa(1, 2);
    std::uniform_int_distribution<int> exponent(-240, 240);
    for (size_t near = 0; near < 20000;) {
        const double n = std::ldexp(mantissa(rng), exponent(rng)), d = std::ldexp(mantissa(rng), exponent(rng));
        if (near_midpoint(static_cast<long double>(n) / d)) {
            add(n, d);
            ++near;
        }
    }
    for (int i = 0; i < 1000000; ++i) {
        double n = std::ldexp(mantissa(rng), exponent(rng) * 2), d = std::ldexp(mantissa(rng), exponent(rng) * 2);
        if (i % 2) {
            n = std::pow(std::sqrt(static_cast<double>(rng() % 100000000 + 1)), 0.5);
            d = 1.0 + static_cast<double>(rng() % 4000) / (rng() % 2 ? 1 : 7);
        }
        if (estimate_quotient_in_range(n, d))
            add(n, d);
    }
    if (!compare_on_targets(ESTIMATE_QUOTIENT, whole))
        GTEST_SKIP() << "no instruction set of this processor has the method newton";
    compare_on_targets(ROUND_QUOTIENT, rounding);
}

// The root from the estimate, and Tuckerman's test alone from each result
// within one ulp: zero, the range's ends, powers of four and their
// neighbours, the two values that equal a product the test compares with
// (2^2k (1 - 2^-53) = g2- g2 for g2 = 2^k, and 2^2k (1 + 2^-52) = g2 g2+ for
// g2 = 2^k), operands near midpoints, then a seeded sweep with the kernel's
// sums of squares.
TEST(EstimateRoot, EqualsSquareRoot)
{
    const double lo = std::ldexp(1.0, -600), hi = std::ldexp(1.0, 600);
    Operands whole, rounding;
    auto add = [&](double x) {
        whole.add(x);
        const double r = std::sqrt(x);
        add_candidates(&rounding, x, 1.0, r, std::fma(-r, r, x));
    };
    for (double x : {0.0, lo, hi, std::nextafter(lo, 1.0), std::nextafter(hi, 0.0), 2.0, 3.0, 0.5, 1e-300, 1e300})
        add(x);
    for (int k = -290; k <= 290; k += 17)
        for (double m : {1.0, std::nextafter(1.0, 2.0), std::nextafter(1.0, 0.0), 1 - 0x1p-53, 1 + 0x1p-52,
                         std::nextafter(4.0, 0.0), 2.0}) {
            add(std::ldexp(m, 2 * k));
            // From 2^k, within one ulp of the root for m near 1 on either
            // side, the test meets x = g2- g2 or x = g2 g2+ exactly.
            if (m < 1.5)
                rounding.add(std::ldexp(m, 2 * k), 1.0, std::ldexp(1.0, k));
        }
    std::mt19937_64 rng(test_seed(20261212u));
    std::uniform_real_distribution<double> mantissa(1, 4);
    std::uniform_int_distribution<int> exponent(-299, 299);
    for (size_t near = 0; near < 20000;) {
        const double x = std::ldexp(mantissa(rng), 2 * exponent(rng));
        if (near_midpoint(std::sqrt(static_cast<long double>(x)))) {
            add(x);
            ++near;
        }
    }
    for (int i = 0; i < 1000000; ++i) {
        double x = std::ldexp(mantissa(rng), 2 * exponent(rng));
        if (i % 2) {
            const double e_x = static_cast<double>(static_cast<int64_t>(rng() % 8000) - 4000) / (rng() % 2 ? 1 : 4);
            const double e_y = static_cast<double>(rng() % 3000) - 1500.25;
            x = e_x * e_x + e_y * e_y;
        }
        add(x);
    }
    if (!compare_on_targets(ESTIMATE_ROOT, whole))
        GTEST_SKIP() << "no instruction set of this processor has the method newton";
    compare_on_targets(ROUND_ROOT, rounding);
}
}  // namespace
