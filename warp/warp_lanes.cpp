// Lane code of the fast kernel: Highway compiles this file once per
// instruction set (foreach_target) and fast_row_points calls the widest one
// the CPU has. Each lane is one pixel of the row and runs the literal
// kernel's operations in its order; only IEEE-exact lane operations are used
// (no reciprocal estimates), and the build's -ffp-contract=off keeps the
// compiler from fusing a multiply and an add. The one exception is written
// out: on instruction sets with fused multiply-adds, a quotient by one of a
// pair's divisors may be computed by the proven sequence of
// warp/exact_quotient.h, which gives the division's own double. Whether it
// is, is chosen at run time for each instruction set (QuotientChoice).

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

const char* const quotient_names[] = {"auto", "divider", "fma"};

// How a target's method was chosen, for warp_kernel_summary.
enum ChosenBy { CHOSEN_ONLY, CHOSEN_FORCED, CHOSEN_ENVIRONMENT, CHOSEN_MEASURED };
const char* const chosen_by[] = {"no fused multiply-add on this instruction set", "forced", "forced by TAVROSK_QUOTIENTS",
                                 "measured"};

struct QuotientChoice {
    WarpQuotients method;
    ChosenBy by;
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
        for (int m = WARP_QUOTIENTS_DIVIDER; m <= WARP_QUOTIENTS_FMA; ++m)
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

// The method whose best of several rounds took least. Rounds alternate
// between the methods and the first of each is left out (cold caches, the
// clock rising), so a round another program interrupts counts against
// neither; each round is PROBE_ROWS rows, about 30 microseconds.
template <class Rows>
WarpQuotients fastest(const Rows& rows)
{
    using Clock = std::chrono::steady_clock;
    const WarpQuotients methods[] = {WARP_QUOTIENTS_DIVIDER, WARP_QUOTIENTS_FMA};
    Clock::duration best[2] = {Clock::duration::max(), Clock::duration::max()};
    for (int round = 0; round < 8; ++round)
        for (int i = 0; i < 2; ++i) {
            const int m = round % 2 ? 1 - i : i;
            const Clock::time_point start = Clock::now();
            for (int y = 0; y < PROBE_ROWS; ++y)
                rows(methods[m], y);
            const Clock::duration took = Clock::now() - start;
            if (round > 0)
                best[m] = std::min(best[m], took);
        }
    return best[1] < best[0] ? methods[1] : methods[0];
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
        // exact_quotient, lane by lane: the sign of n is put back for n = -0.
        const V hi = hn::Set(d, rec.hi);
        const V q0 = hn::MulAdd(n, hi, hn::Mul(n, hn::Set(d, rec.lo)));
        const V r = hn::MulSub(q0, hn::Set(d, divisor), n);
        return hn::OrAnd(hn::NegMulAdd(r, hi, q0), n, hn::SignBit(d));
    }
    return hn::Div(n, hn::Set(d, divisor));
}

// Source points of row y for kWarps warps that share their second segments:
// entry k of pairs[w] is warp w's pair, used by it where bit w of used[k] is
// set (every entry, for used == nullptr). u, v, dist and the weight come from
// the second segment and are computed once; X' and the sums for each warp.
// Returns how many of warp 0's points are not finite.
template <int kWarps, bool kSplit>
int RowPointsOf(const FastPair* const* pairs, const uint8_t* used, size_t pair_count, const int* counts, double a_,
                double b_, bool outer_pow, int y, int count, double* const* sx, double* const* sy)
{
    const hn::ScalableTag<double> d;
    using V = hn::Vec<decltype(d)>;
    const int N = static_cast<int>(hn::Lanes(d));
    const double X_y = y;
    const V a = hn::Set(d, a_);
    const V zero = hn::Zero(d);
    const V one = hn::Set(d, 1.0);
    HWY_ALIGN double lanes[HWY_MAX_BYTES / sizeof(double)];
    size_t nonfinite = 0;

    // The last vector of a row may reach past its end: it is computed in full
    // like the others and only its first lanes are stored.
    for (int x = 0; x < count; x += N) {
        const V X_x = hn::Iota(d, static_cast<double>(x));
        V sum_x[kWarps], sum_y[kWarps], sum_w[kWarps];
        for (int w = 0; w < kWarps; ++w)
            sum_x[w] = sum_y[w] = sum_w[w] = zero;
        for (size_t k = 0; k < pair_count; ++k) {
            const unsigned use = used ? used[k] : 1u;
            const FastPair& pair = use & 1 ? pairs[0][k] : pairs[1][k];
            // The y components are the same for every lane of the row, so
            // they are computed once, as the same doubles.
            const double PX_y = X_y - pair.P_y;
            const double QX_y = pair.Q_y - X_y;
            const V PX_x = hn::Sub(X_x, hn::Set(d, pair.P_x));

            const V u = PairQuotient<kSplit>(
                d, hn::Add(hn::Mul(PX_x, hn::Set(d, pair.PQ_x)), hn::Set(d, PX_y * pair.PQ_y)), pair.len_PQ_sq,
                pair.rec_PQ_sq, pair.split_uv);
            const V v = PairQuotient<kSplit>(
                d, hn::Add(hn::Mul(PX_x, hn::Set(d, pair.PQ_perp_x)), hn::Set(d, PX_y * pair.PQ_perp_y)),
                pair.len_PQ, pair.rec_PQ, pair.split_uv);

            // Before the segment the distance is |PX|, beyond it |QX|, beside
            // it |v|; a NaN u counts as beside, as in the literal branches.
            // Both end distances need one square root between them, and none
            // when every lane is beside.
            V dist = hn::Abs(v);
            const auto before = hn::Lt(u, zero);
            const auto ends = hn::Or(before, hn::Ge(u, one));
            if (!hn::AllFalse(d, ends)) {
                const V E_x = hn::IfThenElse(before, PX_x, hn::Sub(hn::Set(d, pair.Q_x), X_x));
                const V E_yy = hn::IfThenElse(before, hn::Set(d, PX_y * PX_y), hn::Set(d, QX_y * QX_y));
                dist = hn::IfThenElse(ends, hn::Sqrt(hn::Add(hn::Mul(E_x, E_x), E_yy)), dist);
            }

            V weight = hn::Div(hn::Set(d, pair.len_PQ_p), hn::Add(a, dist));
            if (outer_pow) {
                hn::Store(weight, d, lanes);
                for (int i = 0; i < N; ++i)
                    lanes[i] = std::pow(lanes[i], b_);
                weight = hn::Load(d, lanes);
            }

            for (int w = 0; w < kWarps; ++w) {
                if (!(use >> w & 1))
                    continue;
                const FastPair& own = pairs[w][k];
                // (P1 + u * PQ1) + (v * PQ1_perp) / |PQ1|, never v * (PQ1_perp / |PQ1|).
                const V Xs_x = hn::Add(hn::Add(hn::Set(d, own.P1_x), hn::Mul(u, hn::Set(d, own.PQ1_x))),
                                       PairQuotient<kSplit>(d, hn::Mul(v, hn::Set(d, own.PQ1_perp_x)), own.len_PQ1,
                                                    own.rec_PQ1, own.split_Xs));
                const V Xs_y = hn::Add(hn::Add(hn::Set(d, own.P1_y), hn::Mul(u, hn::Set(d, own.PQ1_y))),
                                       PairQuotient<kSplit>(d, hn::Mul(v, hn::Set(d, own.PQ1_perp_y)), own.len_PQ1,
                                                    own.rec_PQ1, own.split_Xs));
                const V D_x = hn::Sub(Xs_x, X_x);
                const V D_y = hn::Sub(Xs_y, hn::Set(d, X_y));
                sum_x[w] = hn::Add(sum_x[w], hn::Mul(weight, D_x));
                sum_y[w] = hn::Add(sum_y[w], hn::Mul(weight, D_y));
                sum_w[w] = hn::Add(sum_w[w], weight);
            }
        }

        for (int w = 0; w < kWarps; ++w) {
            V S_x = X_x, S_y = hn::Set(d, X_y);
            if (counts[w] > 0) {
                S_x = hn::Add(X_x, hn::Div(sum_x[w], sum_w[w]));
                S_y = hn::Add(S_y, hn::Div(sum_y[w], sum_w[w]));
            }
            // Counted here, in the lanes, so that asking costs next to nothing.
            const auto finite = hn::And(hn::IsFinite(S_x), hn::IsFinite(S_y));
            if (x + N <= count) {
                if (w == 0)
                    nonfinite += hn::CountTrue(d, hn::Not(finite));
                hn::StoreU(S_x, d, sx[w] + x);
                hn::StoreU(S_y, d, sy[w] + x);
            } else {
                if (w == 0)
                    nonfinite +=
                        hn::CountTrue(d, hn::AndNot(finite, hn::FirstN(d, static_cast<size_t>(count - x))));
                hn::Store(S_x, d, lanes);
                for (int i = 0; x + i < count; ++i)
                    sx[w][x + i] = lanes[i];
                hn::Store(S_y, d, lanes);
                for (int i = 0; x + i < count; ++i)
                    sy[w][x + i] = lanes[i];
            }
        }
    }
    return static_cast<int>(nonfinite);
}

template <bool kSplit>
int RowPointsWith(const FastTable* table, int y, int count, double* sx, double* sy)
{
    const FastPair* pairs[1] = {table->pairs.data()};
    const int counts[1] = {static_cast<int>(table->pairs.size())};
    return RowPointsOf<1, kSplit>(pairs, nullptr, table->pairs.size(), counts, table->a, table->b,
                                  table->outer_pow, y, count, &sx, &sy);
}

// Timed on the probe table once, the first time this instruction set runs a
// warp with no method forced (by the first thread to ask; the others wait).
WarpQuotients MeasuredQuotients()
{
    FastTable table;
    probe_table(&table);
    std::vector<double> sx(PROBE_WIDTH), sy(PROBE_WIDTH);
    return fastest([&](WarpQuotients method, int y) {
        if (method == WARP_QUOTIENTS_FMA)
            RowPointsWith<true>(&table, y, PROBE_WIDTH, sx.data(), sy.data());
        else
            RowPointsWith<false>(&table, y, PROBE_WIDTH, sx.data(), sy.data());
    });
}

QuotientChoice ChooseQuotients()
{
    if (!kFusedMulAdd)
        return {WARP_QUOTIENTS_DIVIDER, CHOSEN_ONLY};
    const int forced = forced_quotients.load(std::memory_order_relaxed);
    if (forced != WARP_QUOTIENTS_AUTO)
        return {static_cast<WarpQuotients>(forced), CHOSEN_FORCED};
    if (quotients_from_environment() != WARP_QUOTIENTS_AUTO)
        return {quotients_from_environment(), CHOSEN_ENVIRONMENT};
    static const WarpQuotients measured = MeasuredQuotients();
    return {measured, CHOSEN_MEASURED};
}

int RowPoints(const FastTable* table, int y, int count, double* sx, double* sy)
{
    if (ChooseQuotients().method == WARP_QUOTIENTS_FMA)
        return RowPointsWith<true>(table, y, count, sx, sy);
    return RowPointsWith<false>(table, y, count, sx, sy);
}

void MorphRowPoints(const MorphTable* table, int y, int count, double* const* sx, double* const* sy)
{
    const FastPair* pairs[2] = {table->pairs[0].data(), table->pairs[1].data()};
    if (ChooseQuotients().method == WARP_QUOTIENTS_FMA)
        RowPointsOf<2, true>(pairs, table->used.data(), table->used.size(), table->counts, table->a, table->b,
                             table->outer_pow, y, count, sx, sy);
    else
        RowPointsOf<2, false>(pairs, table->used.data(), table->used.size(), table->counts, table->a, table->b,
                              table->outer_pow, y, count, sx, sy);
}

}  // namespace HWY_NAMESPACE
}  // namespace tavrosk
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace tavrosk {
HWY_EXPORT(RowPoints);
HWY_EXPORT(MorphRowPoints);
HWY_EXPORT(ChooseQuotients);
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
    line += std::string(", quotients by ") + quotient_names[choice.method] + " (" + chosen_by[choice.by] + ")";
    std::string ignored;
    quotients_from_environment(&ignored);
    if (!ignored.empty())
        line += "; TAVROSK_QUOTIENTS=" + ignored + " ignored: not divider or fma";
    return line;
}
#endif
