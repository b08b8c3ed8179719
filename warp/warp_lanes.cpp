// Lane code of the fast kernel: Highway compiles this file once per
// instruction set (foreach_target) and fast_row_points and
// fast_sample_row_packed call the widest one the CPU has. Each lane is one
// pixel of the row and runs the literal kernel's operations in its order; only IEEE-exact lane operations are used
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

#include "warp/warp_fast.h"

HWY_BEFORE_NAMESPACE();
namespace tavrosk {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

void RowPoints(const FastTable* table, int y, int count, double* sx, double* sy)
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
        if (x + N <= count) {
            hn::StoreU(S_x, d, sx + x);
            hn::StoreU(S_y, d, sy + x);
        } else {
            hn::Store(S_x, d, lanes);
            for (int i = 0; x + i < count; ++i)
                sx[x + i] = lanes[i];
            hn::Store(S_y, d, lanes);
            for (int i = 0; x + i < count; ++i)
                sy[x + i] = lanes[i];
        }
    }
}

// sample_bilinear, a pixel a lane: the same taps, the same doubles in the
// same order, truncated toward zero at both stages. A point outside the image
// (or NaN) is moved to (0, 0) so that every read stays inside, and its
// weights are zero, which blends to black. Weights lie in [0, 1] and each
// pair of them sums to at most 1 + 2^-53, so a stage never reaches 256 and
// the 8-bit cast between the stages changes nothing. The last vector of a row
// reads and writes the padding past count, as the other vectors do.
void SampleRowPacked(const LaneSource* src, const double* sx, const double* sy, int count, const int* shift,
                     uint32_t* packed)
{
    static_assert(HWY_MAX_BYTES / sizeof(double) <= FAST_ROW_PAD, "a vector must fit in the row padding");
    const hn::ScalableTag<double> d;
    const hn::Rebind<int32_t, decltype(d)> di;
    const hn::Rebind<uint32_t, decltype(d)> du;
    using V = hn::Vec<decltype(d)>;
    using VI = hn::Vec<decltype(di)>;
    const int N = static_cast<int>(hn::Lanes(d));
    const FastFormat* f = src->format;
    const V zero = hn::Zero(d), w = hn::Set(d, f->w), h = hn::Set(d, f->h);
    const VI one = hn::Set(di, 1), last_x = hn::Set(di, f->w - 1), last_y = hn::Set(di, f->h - 1);
    const VI pitch = hn::Set(di, f->pitch), bytes = hn::Set(di, f->bytes);
    const VI last_word = hn::Set(di, src->last_word);
    const auto word_mask = hn::Set(du, src->word_mask);
    const int32_t* words = reinterpret_cast<const int32_t*>(f->pixels);

    for (int i = 0; i < count; i += N) {
        V x = hn::LoadU(d, sx + i), y = hn::LoadU(d, sy + i);
        const auto inside = hn::And(hn::And(hn::Ge(x, zero), hn::Le(x, w)), hn::And(hn::Ge(y, zero), hn::Le(y, h)));
        x = hn::IfThenElseZero(inside, x);
        y = hn::IfThenElseZero(inside, y);
        const VI x0 = hn::DemoteTo(di, x), y0 = hn::DemoteTo(di, y);
        const VI x1 = hn::Add(x0, one), y1 = hn::Add(y0, one);
        const V wx0 = hn::IfThenElseZero(inside, hn::Sub(hn::PromoteTo(d, x1), x));
        const V wx1 = hn::IfThenElseZero(inside, hn::Sub(x, hn::PromoteTo(d, x0)));
        const V wy0 = hn::IfThenElseZero(inside, hn::Sub(hn::PromoteTo(d, y1), y));
        const V wy1 = hn::IfThenElseZero(inside, hn::Sub(y, hn::PromoteTo(d, y0)));

        const VI col0 = hn::Mul(hn::Min(x0, last_x), bytes), col1 = hn::Mul(hn::Min(x1, last_x), bytes);
        const VI row0 = hn::Mul(hn::Min(y0, last_y), pitch), row1 = hn::Mul(hn::Min(y1, last_y), pitch);
        // Top-left, top-right, bottom-left, bottom-right.
        const VI offsets[4] = {hn::Add(row0, col0), hn::Add(row0, col1), hn::Add(row1, col0), hn::Add(row1, col1)};
        VI channel[4][3];
        for (int k = 0; k < 4; ++k) {
            const VI at = hn::Min(offsets[k], last_word);
            const auto back = hn::BitCast(du, hn::ShiftLeft<3>(hn::Sub(offsets[k], at)));
            const auto word = hn::And(hn::BitCast(du, hn::GatherOffset(di, words, at)) >> back, word_mask);
            for (int c = 0; c < 3; ++c) {
                if (src->direct) {
                    channel[k][c] = hn::BitCast(di, hn::And(hn::ShiftRightSame(word, f->shift[c]), hn::Set(du, 0xFF)));
                } else {
                    const auto index = hn::ShiftRightSame(hn::And(word, hn::Set(du, f->mask[c])), f->shift[c]);
                    channel[k][c] = hn::GatherIndex(di, src->table[c], hn::BitCast(di, index));
                }
            }
        }

        const auto stage = [&](V w0, VI c0, VI c1, V w1) {
            return hn::DemoteTo(di, hn::Add(hn::Mul(w0, hn::PromoteTo(d, c0)), hn::Mul(w1, hn::PromoteTo(d, c1))));
        };
        auto pixel = hn::Zero(du);
        for (int c = 0; c < 3; ++c) {
            const VI top = stage(wx0, channel[0][c], channel[1][c], wx1);
            const VI bottom = stage(wx0, channel[2][c], channel[3][c], wx1);
            pixel = hn::Or(pixel, hn::ShiftLeftSame(hn::BitCast(du, stage(wy0, top, bottom, wy1)), shift[c]));
        }
        hn::StoreU(pixel, du, packed + i);
    }
}

const char* TargetName()
{
    return hwy::TargetName(HWY_TARGET);
}

}  // namespace HWY_NAMESPACE
}  // namespace tavrosk
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace tavrosk {
HWY_EXPORT(RowPoints);
HWY_EXPORT(SampleRowPacked);
HWY_EXPORT(TargetName);
}  // namespace tavrosk

// The names are found through the using-directive rather than written as
// tavrosk::Name, so that a build with HWY_COMPILE_ONLY_STATIC, whose dispatch
// is a plain N_<TARGET>::Name, resolves them too.
void fast_row_points(const FastTable* table, int y, int count, double* sx, double* sy)
{
    using namespace tavrosk;
    HWY_DYNAMIC_DISPATCH(RowPoints)(table, y, count, sx, sy);
}

void fast_sample_row_packed(const LaneSource* source, const double* sx, const double* sy, int count,
                            const int shift[3], uint32_t* packed)
{
    using namespace tavrosk;
    HWY_DYNAMIC_DISPATCH(SampleRowPacked)(source, sx, sy, count, shift, packed);
}

const char* fast_target_name()
{
    using namespace tavrosk;
    return HWY_DYNAMIC_DISPATCH(TargetName)();
}
#endif
