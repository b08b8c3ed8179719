// Lane code of the fast kernel: Highway compiles this file once per
// instruction set (foreach_target) and fast_row_points calls the widest one
// the CPU has. Each lane is one pixel of the row and runs the literal
// kernel's operations in its order; only IEEE-exact lane operations are used
// (no reciprocal estimates), and the build's -ffp-contract=off keeps the
// compiler from fusing a multiply and an add. The one exception is written
// out: on instruction sets with fused multiply-adds, a quotient by one of a
// pair's divisors may be computed by the proven sequence of
// warp/exact_quotient.h, which gives the division's own double.

// 32-bit Arm NEON has no double lanes: there the portable scalar target is
// the only one.
#if defined(__arm__) && !defined(__aarch64__) && !defined(HWY_COMPILE_ONLY_SCALAR)
#define HWY_COMPILE_ONLY_SCALAR
#endif

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "warp/warp_lanes.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <cmath>

#include "raster/sample_row.h"
#include "warp/kernels.h"

HWY_BEFORE_NAMESPACE();
namespace tavrosk {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Whether this instruction set computes quotients by a pair's divisors with
// the split reciprocal and fused multiply-adds (1) or with the divider (0):
// whichever was faster where it was measured (README, "Performance"). AVX3
// takes the multiply-adds, faster on an AMD Zen 4 and the more so on Intel's
// AVX-512 processors, whose divider is slow; AVX2 keeps the divider, faster on
// the Zen 4 (Intel processors without AVX-512 were not measured). Without
// native fused multiply-adds Highway's MulAdd rounds twice, so the divider it
// is. TAVROSK_SPLIT_QUOTIENTS_AVX2 / _AVX3 (0 or 1) override the choice, for
// measuring.
#undef TAVROSK_SPLIT_QUOTIENTS
#if HWY_NATIVE_FMA && (HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL)
#ifdef TAVROSK_SPLIT_QUOTIENTS_AVX3
#define TAVROSK_SPLIT_QUOTIENTS TAVROSK_SPLIT_QUOTIENTS_AVX3
#else
#define TAVROSK_SPLIT_QUOTIENTS 1
#endif
#elif HWY_NATIVE_FMA && HWY_TARGET == HWY_AVX2
#ifdef TAVROSK_SPLIT_QUOTIENTS_AVX2
#define TAVROSK_SPLIT_QUOTIENTS TAVROSK_SPLIT_QUOTIENTS_AVX2
#else
#define TAVROSK_SPLIT_QUOTIENTS 0
#endif
#else
#define TAVROSK_SPLIT_QUOTIENTS 0
#endif

template <class D, class V = hn::Vec<D>>
HWY_INLINE V PairQuotient(D d, V n, double divisor, const SplitReciprocal& rec, bool split)
{
#if TAVROSK_SPLIT_QUOTIENTS
    if (split) {
        // exact_quotient, lane by lane: the sign of n is put back for n = -0.
        const V hi = hn::Set(d, rec.hi);
        const V q0 = hn::MulAdd(n, hi, hn::Mul(n, hn::Set(d, rec.lo)));
        const V r = hn::MulSub(q0, hn::Set(d, divisor), n);
        return hn::OrAnd(hn::NegMulAdd(r, hi, q0), n, hn::SignBit(d));
    }
#else
    (void)rec;
    (void)split;
#endif
    return hn::Div(n, hn::Set(d, divisor));
}

const char* QuotientMethod()
{
    return TAVROSK_SPLIT_QUOTIENTS ? "fma" : "divider";
}

// Source points of row y for kWarps warps that share their second segments:
// entry k of pairs[w] is warp w's pair, used by it where bit w of used[k] is
// set (every entry, for used == nullptr). u, v, dist and the weight come from
// the second segment and are computed once; X' and the sums for each warp.
// Returns how many of warp 0's points are not finite.
template <int kWarps>
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

            const V u = PairQuotient(
                d, hn::Add(hn::Mul(PX_x, hn::Set(d, pair.PQ_x)), hn::Set(d, PX_y * pair.PQ_y)), pair.len_PQ_sq,
                pair.rec_PQ_sq, pair.split_uv);
            const V v = PairQuotient(
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
                                       PairQuotient(d, hn::Mul(v, hn::Set(d, own.PQ1_perp_x)), own.len_PQ1,
                                                    own.rec_PQ1, own.split_Xs));
                const V Xs_y = hn::Add(hn::Add(hn::Set(d, own.P1_y), hn::Mul(u, hn::Set(d, own.PQ1_y))),
                                       PairQuotient(d, hn::Mul(v, hn::Set(d, own.PQ1_perp_y)), own.len_PQ1,
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

int RowPoints(const FastTable* table, int y, int count, double* sx, double* sy)
{
    const FastPair* pairs[1] = {table->pairs.data()};
    const int counts[1] = {static_cast<int>(table->pairs.size())};
    return RowPointsOf<1>(pairs, nullptr, table->pairs.size(), counts, table->a, table->b, table->outer_pow, y,
                          count, &sx, &sy);
}

void MorphRowPoints(const MorphTable* table, int y, int count, double* const* sx, double* const* sy)
{
    const FastPair* pairs[2] = {table->pairs[0].data(), table->pairs[1].data()};
    RowPointsOf<2>(pairs, table->used.data(), table->used.size(), table->counts, table->a, table->b,
                   table->outer_pow, y, count, sx, sy);
}

}  // namespace HWY_NAMESPACE
}  // namespace tavrosk
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace tavrosk {
HWY_EXPORT(RowPoints);
HWY_EXPORT(MorphRowPoints);
HWY_EXPORT(QuotientMethod);
}  // namespace tavrosk

// The names are found through the using-directive rather than written as
// tavrosk::Name, so that a build with HWY_COMPILE_ONLY_STATIC, whose dispatch
// is a plain N_<TARGET>::Name, resolves them too.
int fast_row_points(const FastTable* table, int y, int count, double* sx, double* sy)
{
    using namespace tavrosk;
    return HWY_DYNAMIC_DISPATCH(RowPoints)(table, y, count, sx, sy);
}

void morph_row_points(const MorphTable* table, int y, int count, double* const sx[2], double* const sy[2])
{
    using namespace tavrosk;
    HWY_DYNAMIC_DISPATCH(MorphRowPoints)(table, y, count, sx, sy);
}

const char* warp_quotient_method()
{
    using namespace tavrosk;
    return HWY_DYNAMIC_DISPATCH(QuotientMethod)();
}

// The source points and the row sampler are dispatched from the one target
// Highway chose, so the sampler's name is the kernel's.
const char* warp_target_name()
{
    return sample_row_target_name();
}
#endif
