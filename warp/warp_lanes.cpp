// Lane code of the fast kernel: Highway compiles this file once per
// instruction set (foreach_target) and fast_row_points calls the widest one
// the CPU has. Each lane is one pixel of the row and runs the literal
// kernel's operations in its order; only IEEE-exact lane operations are used
// (no reciprocal estimates, no multiply-add), and the build's
// -ffp-contract=off keeps the compiler from fusing them.

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

int RowPoints(const FastTable* table, int y, int count, double* sx, double* sy)
{
    const hn::ScalableTag<double> d;
    using V = hn::Vec<decltype(d)>;
    const int N = static_cast<int>(hn::Lanes(d));
    const FastPair* pairs = table->pairs.data();
    const size_t pair_count = table->pairs.size();
    const double X_y = y;
    const V a = hn::Set(d, table->a);
    const V zero = hn::Zero(d);
    const V one = hn::Set(d, 1.0);
    HWY_ALIGN double lanes[HWY_MAX_BYTES / sizeof(double)];
    size_t nonfinite = 0;

    // The last vector of a row may reach past its end: it is computed in full
    // like the others and only its first lanes are stored.
    for (int x = 0; x < count; x += N) {
        const V X_x = hn::Iota(d, static_cast<double>(x));
        V sum_x = zero, sum_y = zero, sum_w = zero;
        for (size_t k = 0; k < pair_count; ++k) {
            const FastPair& pair = pairs[k];
            // The y components are the same for every lane of the row, so
            // they are computed once, as the same doubles.
            const double PX_y = X_y - pair.P_y;
            const double QX_y = pair.Q_y - X_y;
            const V PX_x = hn::Sub(X_x, hn::Set(d, pair.P_x));

            const V u = hn::Div(hn::Add(hn::Mul(PX_x, hn::Set(d, pair.PQ_x)), hn::Set(d, PX_y * pair.PQ_y)),
                                hn::Set(d, pair.len_PQ_sq));
            const V v = hn::Div(
                hn::Add(hn::Mul(PX_x, hn::Set(d, pair.PQ_perp_x)), hn::Set(d, PX_y * pair.PQ_perp_y)),
                hn::Set(d, pair.len_PQ));
            // (P1 + u * PQ1) + (v * PQ1_perp) / |PQ1|, never v * (PQ1_perp / |PQ1|).
            const V len_PQ1 = hn::Set(d, pair.len_PQ1);
            const V Xs_x = hn::Add(hn::Add(hn::Set(d, pair.P1_x), hn::Mul(u, hn::Set(d, pair.PQ1_x))),
                                   hn::Div(hn::Mul(v, hn::Set(d, pair.PQ1_perp_x)), len_PQ1));
            const V Xs_y = hn::Add(hn::Add(hn::Set(d, pair.P1_y), hn::Mul(u, hn::Set(d, pair.PQ1_y))),
                                   hn::Div(hn::Mul(v, hn::Set(d, pair.PQ1_perp_y)), len_PQ1));
            const V D_x = hn::Sub(Xs_x, X_x);
            const V D_y = hn::Sub(Xs_y, hn::Set(d, X_y));

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
            if (table->outer_pow) {
                hn::Store(weight, d, lanes);
                for (int i = 0; i < N; ++i)
                    lanes[i] = std::pow(lanes[i], table->b);
                weight = hn::Load(d, lanes);
            }
            sum_x = hn::Add(sum_x, hn::Mul(weight, D_x));
            sum_y = hn::Add(sum_y, hn::Mul(weight, D_y));
            sum_w = hn::Add(sum_w, weight);
        }

        V S_x = X_x, S_y = hn::Set(d, X_y);
        if (pair_count > 0) {
            S_x = hn::Add(X_x, hn::Div(sum_x, sum_w));
            S_y = hn::Add(S_y, hn::Div(sum_y, sum_w));
        }
        // Counted here, in the lanes, so that asking costs next to nothing.
        const auto finite = hn::And(hn::IsFinite(S_x), hn::IsFinite(S_y));
        if (x + N <= count) {
            nonfinite += hn::CountTrue(d, hn::Not(finite));
            hn::StoreU(S_x, d, sx + x);
            hn::StoreU(S_y, d, sy + x);
        } else {
            nonfinite += hn::CountTrue(d, hn::AndNot(finite, hn::FirstN(d, static_cast<size_t>(count - x))));
            hn::Store(S_x, d, lanes);
            for (int i = 0; x + i < count; ++i)
                sx[x + i] = lanes[i];
            hn::Store(S_y, d, lanes);
            for (int i = 0; x + i < count; ++i)
                sy[x + i] = lanes[i];
        }
    }
    return static_cast<int>(nonfinite);
}

}  // namespace HWY_NAMESPACE
}  // namespace tavrosk
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace tavrosk {
HWY_EXPORT(RowPoints);
}  // namespace tavrosk

// The names are found through the using-directive rather than written as
// tavrosk::Name, so that a build with HWY_COMPILE_ONLY_STATIC, whose dispatch
// is a plain N_<TARGET>::Name, resolves them too.
int fast_row_points(const FastTable* table, int y, int count, double* sx, double* sy)
{
    using namespace tavrosk;
    return HWY_DYNAMIC_DISPATCH(RowPoints)(table, y, count, sx, sy);
}

// The source points and the row sampler are dispatched from the one target
// Highway chose, so the sampler's name is the kernel's.
const char* warp_target_name()
{
    return sample_row_target_name();
}
#endif
