// Lane code of the fast kernel: Highway compiles this file once per
// instruction set (foreach_target) and fast_row_points calls the widest one
// the CPU has. Each lane is one pixel of the row and runs the literal
// kernel's operations in its order; only IEEE-exact lane operations are used,
// and the build's -ffp-contract=off keeps the compiler from fusing a multiply
// and an add. The exceptions are written out: on instruction sets with fused
// multiply-adds, a quotient by one of a pair's divisors may be computed by the
// proven sequence of warp/exact_quotient.h, and on AVX3 the weight's quotient
// and the end distance's root from the processor's estimates by the proven
// sequences below; each gives the division's or the square root's own
// double. Which method runs is chosen at run time for each instruction set
// (ChooseQuotients).

// 32-bit Arm NEON has no double lanes: there the portable scalar target is
// the only one.
#if defined(__arm__) && !defined(__aarch64__) && !defined(HWY_COMPILE_ONLY_SCALAR)
#define HWY_COMPILE_ONLY_SCALAR
#endif

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "warp/warp_lanes.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <strings.h>

#include <algorithm>
#include <type_traits>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "raster/sample_row.h"
#include "raster/simd_target.h"
#include "warp/kernels.h"

// Compiled once, before the per-target code that uses it.
#ifndef TAVROSK_WARP_LANES_ONCE
#define TAVROSK_WARP_LANES_ONCE
namespace {

const char* const quotient_names[] = {"auto", "divider", "fma", "newton"};

// How a target's method was chosen, for warp_kernel_summary.
enum ChosenBy { CHOSEN_ONLY, CHOSEN_FORCED, CHOSEN_ENVIRONMENT, CHOSEN_MEASURED };
const char* const chosen_by[] = {"no fused multiply-add on this instruction set", "forced", "forced by TAVROSK_QUOTIENTS",
                                 "measured"};

struct QuotientChoice {
    WarpQuotients method;  // the one that runs
    ChosenBy by;
    WarpQuotients asked;   // the one forced, when the instruction set lacks it
};

std::atomic<int> forced_quotients{WARP_QUOTIENTS_AUTO};

// TAVROSK_QUOTIENTS, read once: the method it names, or AUTO when it is
// unset or names none (then *ignored is its value).
WarpQuotients quotients_from_environment(std::string* ignored = nullptr)
{
    static std::string unknown;
    static const WarpQuotients named = [] {
        const char* value = std::getenv("TAVROSK_QUOTIENTS");
        if (!value || !*value)
            return WARP_QUOTIENTS_AUTO;
        for (int m = WARP_QUOTIENTS_DIVIDER; m <= WARP_QUOTIENTS_NEWTON; ++m)
            if (strcasecmp(value, quotient_names[m]) == 0)
                return static_cast<WarpQuotients>(m);
        unknown = value;
        return WARP_QUOTIENTS_AUTO;
    }();
    if (ignored)
        *ignored = unknown;
    return named;
}


// The table the methods are timed on: 16 pairs drawn at random (a fixed
// seed) in a 128 x 32 image, second segments a little off the first ones, as
// a user draws them.
enum { PROBE_WIDTH = 128, PROBE_ROWS = 4 };

void probe_table(FastTable* table)
{
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> x(0, PROBE_WIDTH), y(0, 32), shift(-6, 6);
    std::vector<Segment> segments;
    for (int k = 0; k < 16; ++k) {
        const Segment first = {x(rng), y(rng), x(rng), y(rng)};
        segments.push_back(first);
        segments.push_back({first.x1 + shift(rng), first.y1 + shift(rng), first.x2 + shift(rng),
                            first.y2 + shift(rng)});
    }
    fast_table_build(table, segments.data(), static_cast<int>(segments.size()), WarpParams());
}

// The method, of the `count` given, whose best of several rounds took
// least. Rounds go through the methods in turn, starting each round with
// the next one, and the first round is left out (cold caches, the clock
// rising), so a round another program interrupts counts against none; each
// round is PROBE_ROWS rows, about 30 microseconds.
template <class Rows>
WarpQuotients fastest(const WarpQuotients* methods, int count, const Rows& rows)
{
    using Clock = std::chrono::steady_clock;
    Clock::duration best[3] = {Clock::duration::max(), Clock::duration::max(), Clock::duration::max()};
    for (int round = 0; round < 8; ++round)
        for (int i = 0; i < count; ++i) {
            const int m = (round + i) % count;
            const Clock::time_point start = Clock::now();
            for (int y = 0; y < PROBE_ROWS; ++y)
                rows(methods[m], y);
            const Clock::duration took = Clock::now() - start;
            if (round > 0)
                best[m] = std::min(best[m], took);
        }
    return methods[std::min_element(best, best + count) - best];
}

}  // namespace
#endif

HWY_BEFORE_NAMESPACE();
namespace tavrosk {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Whether this instruction set's MulAdd rounds once. Highway's MulAdd rounds
// twice where the instruction set has no fused multiply-add (SSE4, SSSE3,
// the portable targets), and there the proof does not hold: those divide.
constexpr bool kFusedMulAdd = HWY_NATIVE_FMA;

// n / divisor: by the split reciprocal and fused multiply-adds when kSplit
// and the pair's values are in the proven range (in_range), by the divider
// otherwise.
template <bool kSplit, class D, class V = hn::Vec<D>>
HWY_INLINE V PairQuotient(D d, V n, double divisor, const SplitReciprocal& rec, bool in_range)
{
    if (kSplit && kFusedMulAdd && in_range) {
        // exact_quotient, lane by lane, without putting back the sign of a
        // zero numerator: docs/numerics.md shows that it cannot reach a
        // source point.
        const V hi = hn::Set(d, rec.hi);
        const V q0 = hn::MulAdd(n, hi, hn::Mul(n, hn::Set(d, rec.lo)));
        const V r = hn::MulSub(q0, hn::Set(d, divisor), n);
        return hn::NegMulAdd(r, hi, q0);
    }
    return hn::Div(n, hn::Set(d, divisor));
}

// Whether this instruction set has the method newton: double-precision
// estimates of 1/x and 1/sqrt(x) to 2^-14 (AVX-512's vrcp14pd and
// vrsqrt14pd, which Highway 1.0 does not wrap).
#undef TAVROSK_ESTIMATES
#if HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL
#define TAVROSK_ESTIMATES 1
#else
#define TAVROSK_ESTIMATES 0
#endif
constexpr bool kEstimates = TAVROSK_ESTIMATES;

#if TAVROSK_ESTIMATES
// The neighbour above (step 1) or below (step -1) of each positive lane:
// its bit pattern plus or minus one.
template <class D, class V = hn::Vec<D>>
HWY_INLINE V Neighbour(D d, V x, int64_t step)
{
    const hn::RebindToSigned<D> di;
    return hn::BitCast(d, hn::Add(hn::BitCast(di, x), hn::Set(di, step)));
}

// n / den for lanes with 2^-500 <= n, den <= 2^500: docs/numerics.md,
// "Quotients and roots from estimates", Division, step by step. The
// refinement gives q1 within one ulp; the rounding test picks the quotient
// among q1 and its neighbours.
template <class D, class V = hn::Vec<D>>
HWY_INLINE V RoundQuotient(D d, V q1, V n, V den)
{
    const hn::RebindToSigned<D> di;
    // The remainder is exact; the candidate is the neighbour toward it, and
    // it is the quotient when 2 r1 - den * (c - q1) has r1's sign.
    const V r1 = hn::NegMulAdd(q1, den, n);
    const V below = Neighbour(d, q1, -1);
    const V c = hn::IfThenElse(hn::Lt(r1, hn::Zero(d)), below, Neighbour(d, q1, 1));
    const V w = hn::NegMulAdd(den, hn::Sub(c, q1), hn::Add(r1, r1));
    const auto differ = hn::Lt(hn::BitCast(di, hn::Xor(w, r1)), hn::Zero(di));
    return hn::IfThenElse(hn::RebindMask(d, differ), q1, c);
}

template <class D, class V = hn::Vec<D>>
HWY_INLINE V EstimateQuotient(D d, V n, V den)
{
    const V y0{_mm512_rcp14_pd(den.raw)};
    const V y1 = hn::MulAdd(y0, hn::NegMulAdd(den, y0, hn::Set(d, 1.0)), y0);
    const V q0 = hn::Mul(n, y1);
    return RoundQuotient(d, hn::MulAdd(hn::NegMulAdd(q0, den, n), y1, q0), n, den);
}

// sqrt(x) for lanes with x = +0 or 2^-600 <= x <= 2^600: the same section,
// Square root; the estimate is 0 where x is, so that zero gives zero.
// Tuckerman's test: up when x > g2 * up, down when x <= g2 * down.
template <class D, class V = hn::Vec<D>>
HWY_INLINE V RoundRoot(D d, V g2, V x)
{
    const V up = Neighbour(d, g2, 1), down = Neighbour(d, g2, -1);
    const V s = hn::IfThenElse(hn::Gt(hn::NegMulAdd(g2, up, x), hn::Zero(d)), up, g2);
    return hn::IfThenElse(hn::Le(hn::NegMulAdd(g2, down, x), hn::Zero(d)), down, s);
}

template <class D, class V = hn::Vec<D>>
HWY_INLINE V EstimateRoot(D d, V x)
{
    const auto positive = hn::Gt(x, hn::Zero(d));
    const V y0{_mm512_maskz_rsqrt14_pd(positive.raw, x.raw)};
    const V g0 = hn::Mul(x, y0);
    const V h0 = hn::Mul(y0, hn::Set(d, 0.5));
    const V t = hn::NegMulAdd(g0, h0, hn::Set(d, 0.5));
    const V g1 = hn::MulAdd(g0, t, g0);
    const V h1 = hn::MulAdd(h0, t, h0);
    return RoundRoot(d, hn::MulAdd(hn::NegMulAdd(g1, g1, x), h1, g1), x);
}
#endif

// The end distance's root and the weight's quotient: from the estimates
// where kNewton and the pair admits it, from the divider otherwise.
template <bool kNewton, class D, class V = hn::Vec<D>>
HWY_INLINE V EndRoot(D d, V x, bool in_range)
{
#if TAVROSK_ESTIMATES
    if (kNewton && in_range)
        return EstimateRoot(d, x);
#else
    (void)d;
    (void)in_range;
#endif
    return hn::Sqrt(x);
}

template <bool kNewton, class D, class V = hn::Vec<D>>
HWY_INLINE V WeightQuotient(D d, V n, V den, bool in_range)
{
#if TAVROSK_ESTIMATES
    if (kNewton && in_range)
        return EstimateQuotient(d, n, den);
#else
    (void)d;
    (void)in_range;
#endif
    return hn::Div(n, den);
}

// A pair's terms that depend only on the row: computed once per row, as the
// same doubles each vector of it would compute.
struct RowTerms {
    double PXy_PQy, PXy_PQperpy;  // PX.y * PQ.y, PX.y * PQ_perp.y
    double PXy_sq, QXy_sq;        // PX.y * PX.y, QX.y * QX.y
    // Where the row's pixels lie along the segment, when `sided`: at one
    // end for x < low_end, beside it up to high_start, at the other end from
    // there on; each end's x and squared y distance (docs/numerics.md,
    // "Where a row lies along a segment").
    bool sided;
    int low_end, high_start;
    double low_x, low_yy, high_x, high_yy;
};

// u at pixel x of the row, the lanes' double but for the sign of a zero.
HWY_INLINE double UAt(const FastPair& pair, double PXy_PQy, int x)
{
    return ((x - pair.P_x) * pair.PQ_x + PXy_PQy) / pair.len_PQ_sq;
}

// The first x of the row whose u passes `test`, or count, where the test
// fails and then passes along the row; u_first and u_last are u at its
// ends. Tried first at `guess`, where the real line crosses.
template <class Test>
HWY_INLINE int FirstWhere(const FastPair& pair, const RowTerms& row, int count, double u_first, double u_last,
                          const Test& test, double guess)
{
    if (test(u_first))
        return 0;
    if (!test(u_last))
        return count;
    // Between 1 and count - 1; bisected when the guess misses.
    const int g = guess > 1 ? (guess < count - 1 ? static_cast<int>(guess) : count - 1) : 1;
    if (test(UAt(pair, row.PXy_PQy, g)) && !test(UAt(pair, row.PXy_PQy, g - 1)))
        return g;
    int lo = 1, hi = count - 1;
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        if (test(UAt(pair, row.PXy_PQy, mid)))
            hi = mid;
        else
            lo = mid + 1;
    }
    return lo;
}

// The runs of a row of `count` pixels; row's terms above them are set.
HWY_INLINE void RowSidesOf(const FastPair& pair, int count, RowTerms* row)
{
    const double u_first = UAt(pair, row->PXy_PQy, 0), u_last = UAt(pair, row->PXy_PQy, count - 1);
    row->sided = std::isfinite(u_first) && std::isfinite(u_last);
    if (!row->sided)
        return;
    const double zero_at = pair.P_x - row->PXy_PQy / pair.PQ_x;
    const double one_at = pair.P_x + (pair.len_PQ_sq - row->PXy_PQy) / pair.PQ_x;
    const auto beside_or_beyond = [](double u) { return !(u < 0); };
    const auto beyond = [](double u) { return u >= 1; };
    const auto before = [](double u) { return u < 0; };
    const auto short_of_end = [](double u) { return !(u >= 1); };
    if (pair.PQ_x >= 0) {
        row->low_end = FirstWhere(pair, *row, count, u_first, u_last, beside_or_beyond, std::ceil(zero_at));
        row->high_start = FirstWhere(pair, *row, count, u_first, u_last, beyond, std::ceil(one_at));
        row->low_x = pair.P_x, row->low_yy = row->PXy_sq, row->high_x = pair.Q_x, row->high_yy = row->QXy_sq;
    } else {
        // u falls: the crossings' own pixels still fail the strict tests.
        row->low_end = FirstWhere(pair, *row, count, u_first, u_last, short_of_end, std::floor(one_at) + 1);
        row->high_start = FirstWhere(pair, *row, count, u_first, u_last, before, std::floor(zero_at) + 1);
        row->low_x = pair.Q_x, row->low_yy = row->QXy_sq, row->high_x = pair.P_x, row->high_yy = row->PXy_sq;
    }
}

// Entry k's terms for row X_y of `count` pixels; its second segment is the
// same in every warp that uses it.
HWY_INLINE void RowTermsOf(const FastPair* const* pairs, const uint8_t* used, size_t pair_count, double X_y,
                           int count, RowTerms* terms)
{
    for (size_t k = 0; k < pair_count; ++k) {
        const FastPair& pair = !used || used[k] & 1 ? pairs[0][k] : pairs[1][k];
        const double PX_y = X_y - pair.P_y;
        const double QX_y = pair.Q_y - X_y;
        RowTerms& row = terms[k];
        row.PXy_PQy = PX_y * pair.PQ_y, row.PXy_PQperpy = PX_y * pair.PQ_perp_y;
        row.PXy_sq = PX_y * PX_y, row.QXy_sq = QX_y * QX_y;
        RowSidesOf(pair, count, &row);
    }
}

// What one pair gives a vector of pixels in every warp that uses it.
template <class V>
struct PairLanes {
    V u, v, weight;
};

// u, v and the weight of `pair` at pixels X_x of the row whose terms are
// `row`, for weights pow(pow(|PQ|, p) / (a + dist), b); the pixels x up to
// x_end are the ones stored.
template <WarpQuotients kMethod, class D, class V = hn::Vec<D>>
HWY_INLINE PairLanes<V> PairLanesOf(D d, const FastPair& pair, const RowTerms& row, V X_x, int x, int x_end, V a,
                                    bool outer_pow, double b)
{
    constexpr bool kSplit = kMethod != WARP_QUOTIENTS_DIVIDER;
    constexpr bool kNewton = kMethod == WARP_QUOTIENTS_NEWTON;
    const V PX_x = hn::Sub(X_x, hn::Set(d, pair.P_x));
    const V u = PairQuotient<kSplit>(d, hn::Add(hn::Mul(PX_x, hn::Set(d, pair.PQ_x)), hn::Set(d, row.PXy_PQy)),
                                     pair.len_PQ_sq, pair.rec_PQ_sq, pair.split_uv);
    const V v = PairQuotient<kSplit>(d, hn::Add(hn::Mul(PX_x, hn::Set(d, pair.PQ_perp_x)), hn::Set(d, row.PXy_PQperpy)),
                                     pair.len_PQ, pair.rec_PQ, pair.split_uv);

    // Before the segment the distance is |PX|, beyond it |QX|, beside it |v|;
    // a NaN u counts as beside, as in the literal branches. Both end
    // distances need one square root between them, and none when every lane
    // is beside.
    // A vector in one run of the row takes its distance without comparing
    // its lanes.
    V dist;
    const bool low = row.sided && x_end <= row.low_end, high = row.sided && x >= row.high_start;
    if (low || high) {
        const V E_x = hn::Sub(X_x, hn::Set(d, low ? row.low_x : row.high_x));
        const V E_yy = hn::Set(d, low ? row.low_yy : row.high_yy);
        dist = EndRoot<kNewton>(d, hn::Add(hn::Mul(E_x, E_x), E_yy), pair.split_uv);
    } else {
        dist = hn::Abs(v);
        if (!row.sided || x < row.low_end || x_end > row.high_start) {
            const auto before = hn::Lt(u, hn::Zero(d));
            const auto ends = hn::Or(before, hn::Ge(u, hn::Set(d, 1.0)));
            if (!hn::AllFalse(d, ends)) {
                const V E_x = hn::IfThenElse(before, PX_x, hn::Sub(hn::Set(d, pair.Q_x), X_x));
                const V E_yy = hn::IfThenElse(before, hn::Set(d, row.PXy_sq), hn::Set(d, row.QXy_sq));
                dist = hn::IfThenElse(ends, EndRoot<kNewton>(d, hn::Add(hn::Mul(E_x, E_x), E_yy), pair.split_uv),
                                      dist);
            }
        }
    }

    V weight = WeightQuotient<kNewton>(d, hn::Set(d, pair.len_PQ_p), hn::Add(a, dist), pair.estimate_weight);
    if (outer_pow) {
        HWY_ALIGN double lanes[HWY_MAX_BYTES / sizeof(double)];
        hn::Store(weight, d, lanes);
        for (size_t i = 0; i < hn::Lanes(d); ++i)
            lanes[i] = std::pow(lanes[i], b);
        weight = hn::Load(d, lanes);
    }
    return {u, v, weight};
}

// Warp `own`'s X' = (P1 + u * PQ1) + (v * PQ1_perp) / |PQ1| (never
// v * (PQ1_perp / |PQ1|)) and its displacement from X, weighted into the
// sums.
template <WarpQuotients kMethod, class D, class V = hn::Vec<D>>
HWY_INLINE void AddPair(D d, const FastPair& own, const PairLanes<V>& lanes, V X_x, V X_y, V* sum_x, V* sum_y,
                        V* sum_w)
{
    constexpr bool kSplit = kMethod != WARP_QUOTIENTS_DIVIDER;
    const V Xs_x = hn::Add(hn::Add(hn::Set(d, own.P1_x), hn::Mul(lanes.u, hn::Set(d, own.PQ1_x))),
                           PairQuotient<kSplit>(d, hn::Mul(lanes.v, hn::Set(d, own.PQ1_perp_x)), own.len_PQ1,
                                                own.rec_PQ1, own.split_Xs));
    const V Xs_y = hn::Add(hn::Add(hn::Set(d, own.P1_y), hn::Mul(lanes.u, hn::Set(d, own.PQ1_y))),
                           PairQuotient<kSplit>(d, hn::Mul(lanes.v, hn::Set(d, own.PQ1_perp_y)), own.len_PQ1,
                                                own.rec_PQ1, own.split_Xs));
    *sum_x = hn::Add(*sum_x, hn::Mul(lanes.weight, hn::Sub(Xs_x, X_x)));
    *sum_y = hn::Add(*sum_y, hn::Mul(lanes.weight, hn::Sub(Xs_y, X_y)));
    *sum_w = hn::Add(*sum_w, lanes.weight);
}

// The source points X + sum / sum_w (X itself when the warp has no pair) of
// the pixels x .. x + N - 1 into sx and sy, only those before `count`;
// returns how many of the stored ones are not finite.
template <class D, class V = hn::Vec<D>>
HWY_INLINE size_t StorePoints(D d, V X_x, V X_y, V sum_x, V sum_y, V sum_w, bool any_pair, int x, int count,
                              double* sx, double* sy)
{
    const int N = static_cast<int>(hn::Lanes(d));
    V S_x = X_x, S_y = X_y;
    if (any_pair) {
        S_x = hn::Add(X_x, hn::Div(sum_x, sum_w));
        S_y = hn::Add(X_y, hn::Div(sum_y, sum_w));
    }
    // Counted here, in the lanes, so that asking costs next to nothing.
    const auto infinite = hn::Not(hn::And(hn::IsFinite(S_x), hn::IsFinite(S_y)));
    if (x + N <= count) {
        hn::StoreU(S_x, d, sx + x);
        hn::StoreU(S_y, d, sy + x);
        return hn::CountTrue(d, infinite);
    }
    HWY_ALIGN double lanes[HWY_MAX_BYTES / sizeof(double)];
    hn::Store(S_x, d, lanes);
    for (int i = 0; x + i < count; ++i)
        sx[x + i] = lanes[i];
    hn::Store(S_y, d, lanes);
    for (int i = 0; x + i < count; ++i)
        sy[x + i] = lanes[i];
    return hn::CountTrue(d, hn::And(infinite, hn::FirstN(d, static_cast<size_t>(count - x))));
}

// Source points of row y for kWarps warps that share their second segments:
// entry k of pairs[w] is warp w's pair, used by it where bit w of used[k] is
// set (every entry, for used == nullptr). u, v, dist and the weight come from
// the second segment and are computed once; X' and the sums for each warp.
// Returns how many of warp 0's points are not finite. The last vector of a
// row may reach past its end: it is computed in full like the others and
// only its first lanes are stored.
template <int kWarps, WarpQuotients kMethod>
int RowPointsOf(const FastPair* const* pairs, const uint8_t* used, size_t pair_count, const int* counts, double a,
                double b, bool outer_pow, int y, int count, double* const* sx, double* const* sy)
{
    const hn::ScalableTag<double> d;
    using V = hn::Vec<decltype(d)>;
    const int N = static_cast<int>(hn::Lanes(d));
    const V X_y = hn::Set(d, y);
    static thread_local std::vector<RowTerms> row;
    row.resize(pair_count);
    RowTermsOf(pairs, used, pair_count, y, count, row.data());
    size_t nonfinite = 0;
    for (int x = 0; x < count; x += N) {
        const V X_x = hn::Iota(d, static_cast<double>(x));
        const int x_end = std::min(x + N, count);
        V sum_x[kWarps], sum_y[kWarps], sum_w[kWarps];
        for (int w = 0; w < kWarps; ++w)
            sum_x[w] = sum_y[w] = sum_w[w] = hn::Zero(d);
        for (size_t k = 0; k < pair_count; ++k) {
            const unsigned use = kWarps == 1 ? 1u : used[k];
            const PairLanes<V> lanes =
                PairLanesOf<kMethod>(d, use & 1 ? pairs[0][k] : pairs[1][k], row[k], X_x, x, x_end, hn::Set(d, a),
                                     outer_pow, b);
            for (int w = 0; w < kWarps; ++w)
                if (use >> w & 1)
                    AddPair<kMethod>(d, pairs[w][k], lanes, X_x, X_y, &sum_x[w], &sum_y[w], &sum_w[w]);
        }
        for (int w = 0; w < kWarps; ++w) {
            const size_t infinite =
                StorePoints(d, X_x, X_y, sum_x[w], sum_y[w], sum_w[w], counts[w] > 0, x, count, sx[w], sy[w]);
            nonfinite += w == 0 ? infinite : 0;
        }
    }
    return static_cast<int>(nonfinite);
}

template <WarpQuotients kMethod>
int RowPointsWith(const FastTable* table, int y, int count, double* sx, double* sy)
{
    const FastPair* pairs[1] = {table->pairs.data()};
    const int counts[1] = {static_cast<int>(table->pairs.size())};
    return RowPointsOf<1, kMethod>(pairs, nullptr, table->pairs.size(), counts, table->a, table->b,
                                   table->outer_pow, y, count, &sx, &sy);
}

template <WarpQuotients kMethod>
void MorphRowPointsWith(const MorphTable* table, int y, int count, double* const* sx, double* const* sy)
{
    const FastPair* pairs[2] = {table->pairs[0].data(), table->pairs[1].data()};
    RowPointsOf<2, kMethod>(pairs, table->used.data(), table->used.size(), table->counts, table->a, table->b,
                            table->outer_pow, y, count, sx, sy);
}

// The methods this instruction set has, slowest first.
constexpr WarpQuotients kMethods[] = {WARP_QUOTIENTS_DIVIDER, WARP_QUOTIENTS_FMA, WARP_QUOTIENTS_NEWTON};
constexpr int kMethodCount = !kFusedMulAdd ? 1 : kEstimates ? 3 : 2;

// `rows` for the method, as a template argument. Only the methods this
// instruction set has are instantiated.
template <class Rows>
HWY_INLINE void WithMethod(WarpQuotients method, const Rows& rows)
{
    if (kMethodCount > 2 && method == WARP_QUOTIENTS_NEWTON)
        rows(std::integral_constant<WarpQuotients, kEstimates ? WARP_QUOTIENTS_NEWTON : WARP_QUOTIENTS_DIVIDER>());
    else if (kMethodCount > 1 && method != WARP_QUOTIENTS_DIVIDER)
        rows(std::integral_constant<WarpQuotients, kFusedMulAdd ? WARP_QUOTIENTS_FMA : WARP_QUOTIENTS_DIVIDER>());
    else
        rows(std::integral_constant<WarpQuotients, WARP_QUOTIENTS_DIVIDER>());
}

// Timed on the probe table once, the first time this instruction set runs a
// warp with no method forced (by the first thread to ask; the others wait).
WarpQuotients MeasuredQuotients()
{
    FastTable table;
    probe_table(&table);
    std::vector<double> sx(PROBE_WIDTH), sy(PROBE_WIDTH);
    return fastest(kMethods, kMethodCount, [&](WarpQuotients method, int y) {
        WithMethod(method, [&](auto m) { RowPointsWith<decltype(m)::value>(&table, y, PROBE_WIDTH, sx.data(), sy.data()); });
    });
}

QuotientChoice ChooseQuotients()
{
    if (kMethodCount == 1)
        return {WARP_QUOTIENTS_DIVIDER, CHOSEN_ONLY, WARP_QUOTIENTS_DIVIDER};
    const int forced = forced_quotients.load(std::memory_order_relaxed);
    const WarpQuotients asked =
        forced != WARP_QUOTIENTS_AUTO ? static_cast<WarpQuotients>(forced) : quotients_from_environment();
    if (asked != WARP_QUOTIENTS_AUTO) {
        const WarpQuotients runs = std::min(asked, kMethods[kMethodCount - 1]);
        return {runs, forced != WARP_QUOTIENTS_AUTO ? CHOSEN_FORCED : CHOSEN_ENVIRONMENT, asked};
    }
    static const WarpQuotients measured = MeasuredQuotients();
    return {measured, CHOSEN_MEASURED, measured};
}

int RowPoints(const FastTable* table, int y, int count, double* sx, double* sy)
{
    int nonfinite = 0;
    WithMethod(ChooseQuotients().method,
               [&](auto m) { nonfinite = RowPointsWith<decltype(m)::value>(table, y, count, sx, sy); });
    return nonfinite;
}

void MorphRowPoints(const MorphTable* table, int y, int count, double* const* sx, double* const* sy)
{
    WithMethod(ChooseQuotients().method, [&](auto m) { MorphRowPointsWith<decltype(m)::value>(table, y, count, sx, sy); });
}

// The newton lanes over whole arrays, for the tests and the sweep
// (estimate_lanes); the last vector is padded with operands in range.
bool EstimateLanes(EstimateStep step, const double* a, const double* b, const double* c, double* out,
                   size_t count)
{
#if TAVROSK_ESTIMATES
    const hn::ScalableTag<double> d;
    using V = hn::Vec<decltype(d)>;
    const size_t N = hn::Lanes(d);
    HWY_ALIGN double pad[3][HWY_MAX_BYTES / sizeof(double)];
    for (size_t i = 0; i < count; i += N) {
        const double* in[3] = {a + i, b ? b + i : a + i, c ? c + i : a + i};
        if (i + N > count) {
            for (int j = 0; j < 3; ++j) {
                for (size_t k = 0; k < N; ++k)
                    pad[j][k] = i + k < count ? in[j][k] : 1.0;
                in[j] = pad[j];
            }
        }
        const V x = hn::LoadU(d, in[0]), y = hn::LoadU(d, in[1]), z = hn::LoadU(d, in[2]);
        const V r = step == ESTIMATE_QUOTIENT ? EstimateQuotient(d, x, y)
                  : step == ESTIMATE_ROOT     ? EstimateRoot(d, x)
                  : step == ROUND_QUOTIENT    ? RoundQuotient(d, z, x, y)
                                              : RoundRoot(d, z, x);
        if (i + N <= count) {
            hn::StoreU(r, d, out + i);
        } else {
            hn::Store(r, d, pad[0]);
            for (size_t k = 0; i + k < count; ++k)
                out[i + k] = pad[0][k];
        }
    }
    return true;
#else
    (void)step;
    (void)a;
    (void)b;
    (void)c;
    (void)out;
    (void)count;
    return false;
#endif
}

}  // namespace HWY_NAMESPACE
}  // namespace tavrosk
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace tavrosk {
HWY_EXPORT(RowPoints);
HWY_EXPORT(MorphRowPoints);
HWY_EXPORT(ChooseQuotients);
HWY_EXPORT(EstimateLanes);
}  // namespace tavrosk

// The names are found through the using-directive rather than written as
// tavrosk::Name, so that a build with HWY_COMPILE_ONLY_STATIC, whose dispatch
// is a plain N_<TARGET>::Name, resolves them too. Each entry applies
// TAVROSK_TARGET first (a call_once, next to nothing against a row).
int fast_row_points(const FastTable* table, int y, int count, double* sx, double* sy)
{
    simd_target_init();
    using namespace tavrosk;
    return HWY_DYNAMIC_DISPATCH(RowPoints)(table, y, count, sx, sy);
}

void morph_row_points(const MorphTable* table, int y, int count, double* const sx[2], double* const sy[2])
{
    simd_target_init();
    using namespace tavrosk;
    HWY_DYNAMIC_DISPATCH(MorphRowPoints)(table, y, count, sx, sy);
}

void warp_force_quotients(WarpQuotients method)
{
    forced_quotients.store(method, std::memory_order_relaxed);
}

static QuotientChoice quotient_choice()
{
    simd_target_init();
    using namespace tavrosk;
    return HWY_DYNAMIC_DISPATCH(ChooseQuotients)();
}

const char* warp_quotient_method()
{
    return quotient_names[quotient_choice().method];
}

bool estimate_lanes(EstimateStep step, const double* a, const double* b, const double* c, double* out,
                    size_t count)
{
    simd_target_init();
    using namespace tavrosk;
    return HWY_DYNAMIC_DISPATCH(EstimateLanes)(step, a, b, c, out, count);
}

// The source points and the row sampler are dispatched from the one target
// Highway chose, so the sampler's name is the kernel's.
const char* warp_target_name()
{
    return sample_row_target_name();
}

std::string warp_kernel_summary()
{
    const QuotientChoice choice = quotient_choice();
    std::string line = std::string("fast kernel: ") + warp_target_name();
    if (*simd_target_note())
        line += std::string(" (") + simd_target_note() + ")";
    line += std::string(", quotients by ") + quotient_names[choice.method] + " (" + chosen_by[choice.by];
    if (choice.asked != choice.method && choice.by != CHOSEN_ONLY)
        line += std::string(" to ") + quotient_names[choice.asked] + ", which this instruction set lacks";
    line += ")";
    std::string ignored;
    quotients_from_environment(&ignored);
    if (!ignored.empty())
        line += "; TAVROSK_QUOTIENTS=" + ignored + " ignored: not divider, fma or newton";
    return line;
}
#endif
