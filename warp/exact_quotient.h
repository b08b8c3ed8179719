// Exact quotients and roots without the divider (docs/numerics.md, "Exact
// quotients" and "Quotients and roots from estimates"): each gives the very
// double the division or the square root gives, inside its proven range.
//
// Quotients by a divisor that stays the same for many numerators, without a
// division per numerator. The divisor's reciprocal is kept as two doubles,
// hi + lo, and n / d then takes one multiply and three fused multiply-adds:
//   q0 = fma(n, hi, n * lo);  r = fma(q0, d, -n);  q = fma(-r, hi, q0)
// which give the correctly rounded quotient, the very double n / d gives,
// sign of zero included, wherever exact_quotient_in_range holds
// (docs/numerics.md, "Exact quotients", has the proof and its sources). The
// fast kernel's lanes compute the same sequence; the functions here are its
// scalar form, for the table, the tests and the sweep in bench/.
#pragma once

#include <cstddef>

#include "warp/segment.h"

struct SplitReciprocal {
    double hi;  // 1 / d, correctly rounded
    double lo;  // (1 - d * hi) / d: the residual is exact, the division rounds once
};

// d must be in the proven range (2^-900 <= d <= 2^900).
SplitReciprocal split_reciprocal(double d);

// n / d by the sequence above (std::fma, so exact on any CPU).
double exact_quotient(double n, double d, SplitReciprocal y);

// The range the proof covers: 2^-900 <= d <= 2^900 and either n = +-0, or
// 2^-900 <= |n| <= 2^900 and 2^-900 <= |n / d| <= 2^900.
bool exact_quotient_in_range(double n, double d);

// True when every end point coordinate of s is 0 or of magnitude in
// [2^-100, 2^100]. For a pair whose second segment (P -> Q) passes, the
// divisors and numerators of u and v lie in the proven range at every pixel
// of an image less than 2^31 pixels wide and high; when its first segment
// (P1 -> Q1) passes too, so do those of X'. docs/numerics.md derives it.
bool exact_quotient_segment(const Segment& s);

// The method newton's ranges. The quotient n / d from the processor's
// reciprocal estimate: 2^-500 <= n, d <= 2^500. The root of x from its
// reciprocal square root estimate: x = +0 or 2^-600 <= x <= 2^600.
bool estimate_quotient_in_range(double n, double d);
bool estimate_root_in_range(double x);

// Whether the kernel may take a pair's weight pow(|PQ|, p) / (a + dist) that
// way, given that its second segment passes exact_quotient_segment: both
// the numerator and a in [2^-400, 2^400]. (The end distance's root needs
// nothing more than exact_quotient_segment.)
bool estimate_weight_admitted(double numerator, double a);

// The lanes of newton on the instruction set chosen now, for the tests and
// the sweep: out[i] for i < count from the operands' arrays, for operands in
// the ranges above. False, writing nothing, where that instruction set has
// no such method (all but AVX3). The rounding steps alone take a result c[i]
// within one ulp (c⁻ <= the exact value <= c⁺) and give the correctly
// rounded one, as the whole sequences end.
enum EstimateStep {
    ESTIMATE_QUOTIENT,  // a[i] / b[i]
    ESTIMATE_ROOT,      // sqrt(a[i])
    ROUND_QUOTIENT,     // a[i] / b[i] from c[i]
    ROUND_ROOT,         // sqrt(a[i]) from c[i]
};
bool estimate_lanes(EstimateStep step, const double* a, const double* b, const double* c, double* out,
                    size_t count);
