// The split-reciprocal quotient of warp/exact_quotient.h: the division's own
// double wherever its range test admits the operands, that test refusing the
// edges, the per-segment test implying it for every quotient the kernel
// takes, and the fast kernel equal to the literal one on segment files with
// those edges, on every SIMD target. TAVROSK_SEED=N reruns a reported seed.
#include <gtest/gtest.h>
#include <hwy/targets.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
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
// its ends) next to ordinary ones: the kernel divides for those pairs and
// computes the others by fused multiply-adds, and both give the literal
// kernel's source points on every target, method and thread count.
TEST(ExactQuotient, FastKernelEqualsLiteralOnEdgeSegments)
{
    const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
    const double sub = std::numeric_limits<double>::denorm_min();
    const double odd[] = {1e300, -1e300, 1e-300, -1e-300, std::ldexp(1.0, 100), std::ldexp(1.0, -100),
                          std::ldexp(1.0, 101), std::ldexp(1.0, -101), sub, -0.0, inf, -inf, nan, 0.0};
    const uint32_t seed = test_seed(20261210u);
    std::mt19937 rng(seed);
    std::vector<int64_t> targets = hwy::SupportedAndGeneratedTargets();
    for (int i = 0; i < 60; ++i) {
        WarpCase c = make_warp_case(seed + i, 11, 5);
        for (Segment& s : c.table)
            for (double* coordinate : {&s.x1, &s.y1, &s.x2, &s.y2})
                if (rng() % 5 == 0)
                    *coordinate = odd[rng() % 14] * (rng() % 3 == 0 ? 1 : 0.5);
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
            for (WarpQuotients method : {WARP_QUOTIENTS_DIVIDER, WARP_QUOTIENTS_FMA}) {
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

}  // namespace
