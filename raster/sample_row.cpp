// Highway compiles the lane sampler once per instruction set (foreach_target)
// and sample_row calls the widest one the CPU has. Only IEEE-exact lane
// operations are used, and the build's -ffp-contract=off keeps the compiler
// from fusing a multiply and an add.

// 32-bit Arm NEON has no double lanes: there the portable scalar target is
// the only one.
#if defined(__arm__) && !defined(__aarch64__) && !defined(HWY_COMPILE_ONLY_SCALAR)
#define HWY_COMPILE_ONLY_SCALAR
#endif

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "raster/sample_row.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <cstring>

#include "raster/pixel.h"
#include "raster/sample_row.h"
#include "raster/simd_target.h"

HWY_BEFORE_NAMESPACE();
namespace tavrosk {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// sample_bilinear, a pixel a lane: the same taps, the same doubles in the
// same order, truncated toward zero at both stages. A point outside the image
// (or NaN) is moved to (0, 0) so that every read stays inside, and its
// weights are zero, which blends to black. Weights lie in [0, 1] and each
// pair of them sums to at most 1 + 2^-53, so a stage never reaches 256 and
// the 8-bit cast between the stages changes nothing. The last vector of a row
// reads and writes the padding past count, as the other vectors do.
void SampleRowPacked(const FastFormat* f, const LaneSource* src, const double* sx, const double* sy, int count,
                     const int* shift, uint32_t* packed)
{
    static_assert(HWY_MAX_BYTES / sizeof(double) <= SAMPLE_ROW_PAD, "a vector must fit in the row padding");
    const hn::ScalableTag<double> d;
    const hn::Rebind<int32_t, decltype(d)> di;
    const hn::Rebind<uint32_t, decltype(d)> du;
    using V = hn::Vec<decltype(d)>;
    using VI = hn::Vec<decltype(di)>;
    const int N = static_cast<int>(hn::Lanes(d));
    const V zero = hn::Zero(d), w = hn::Set(d, f->w), h = hn::Set(d, f->h);
    const VI one = hn::Set(di, 1), last_x = hn::Set(di, f->w - 1), last_y = hn::Set(di, f->h - 1);
    const VI pitch = hn::Set(di, f->pitch), bytes = hn::Set(di, f->bytes);
    const VI last_word = hn::Set(di, src->last_word);
    const auto word_mask = hn::Set(du, src->word_mask);
    const int32_t* words = reinterpret_cast<const int32_t*>(f->pixels);
    // Copied into locals: the stores to `packed` could otherwise alias them
    // and force a reload of each in every vector.
    const bool direct = src->direct;
    const int in_shift[3] = {f->shift[0], f->shift[1], f->shift[2]};
    const int out_shift[3] = {shift[0], shift[1], shift[2]};
    const uint32_t mask[3] = {f->mask[0], f->mask[1], f->mask[2]};

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
                if (direct) {
                    channel[k][c] = hn::BitCast(di, hn::And(hn::ShiftRightSame(word, in_shift[c]), hn::Set(du, 0xFF)));
                } else {
                    const auto index = hn::ShiftRightSame(hn::And(word, hn::Set(du, mask[c])), in_shift[c]);
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
            pixel = hn::Or(pixel, hn::ShiftLeftSame(hn::BitCast(du, stage(wy0, top, bottom, wy1)), out_shift[c]));
        }
        hn::StoreU(pixel, du, packed + i);
    }
}

const char* SampleTargetName()
{
    return hwy::TargetName(HWY_TARGET);
}

}  // namespace HWY_NAMESPACE
}  // namespace tavrosk
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace tavrosk {
HWY_EXPORT(SampleRowPacked);
HWY_EXPORT(SampleTargetName);
}  // namespace tavrosk

static bool lane_source_init(LaneSource* s, const FastFormat* f)
{
    // The lanes address pixel (x, y) as pitch * y + bytes * x, which is
    // row_offset's rule only when the pitch is a whole number of units.
    if (!f->fast_read || SDL_BYTEORDER != SDL_LIL_ENDIAN || row_offset(1, f->pitch, f->bytes) != f->pitch)
        return false;
    const int64_t extent = static_cast<int64_t>(f->h - 1) * f->pitch + static_cast<int64_t>(f->w) * f->bytes;
    if (extent < 4 || extent > INT32_MAX)
        return false;
    s->last_word = static_cast<int32_t>(extent - 4);
    s->word_mask = f->bytes == 4 ? 0xFFFFFFFFu : (1u << (8 * f->bytes)) - 1;
    s->direct = true;
    for (int c = 0; c < 3; ++c) {
        bool identity = (f->mask[c] >> f->shift[c]) == 0xFF;
        for (int v = 0; v < 256; ++v) {
            s->table[c][v] = f->read_table[c][v];
            identity = identity && f->read_table[c][v] == v;
        }
        s->direct = s->direct && identity;
    }
    return true;
}

// True, with the shifts, where dst's SDL_MapRGB is each channel shifted into
// place and nothing more, so that lanes can pack a row.
static bool packs_by_shifts(const FastFormat* dst, int shift[3])
{
    if (!dst->fast_write || dst->bytes != 4)
        return false;
    for (int c = 0; c < 3; ++c) {
        shift[c] = 0;
        while (shift[c] < 24 && dst->write_table[c][1] != 1u << shift[c])
            ++shift[c];
        for (Uint32 v = 0; v < 256; ++v)
            if (dst->write_table[c][v] != v << shift[c])
                return false;
    }
    return true;
}

void row_sampler_init(RowSampler* sampler, SDL_Surface* src, SDL_Surface* dst, bool use_lanes)
{
    simd_target_init();
    fast_format_init(&sampler->src, src);
    fast_format_init(&sampler->dst, dst);
    sampler->lanes = use_lanes && lane_source_init(&sampler->lane_source, &sampler->src)
                  && packs_by_shifts(&sampler->dst, sampler->shift);
}

// The names are found through the using-directive rather than written as
// tavrosk::Name, so that a build with HWY_COMPILE_ONLY_STATIC, whose dispatch
// is a plain N_<TARGET>::Name, resolves them too.
void sample_row(const RowSampler* sampler, int y, const double* sx, const double* sy, uint32_t* scratch)
{
    using namespace tavrosk;
    const FastFormat* dst = &sampler->dst;
    if (sampler->lanes) {
        HWY_DYNAMIC_DISPATCH(SampleRowPacked)(&sampler->src, &sampler->lane_source, sx, sy, dst->w, sampler->shift,
                                              scratch);
        std::memcpy(dst->pixels + row_offset(y, dst->pitch, 4), scratch, sizeof(uint32_t) * dst->w);
        return;
    }
    for (int x = 0; x < dst->w; ++x) {
        Uint8 r, g, b;
        fast_sample_bilinear(&sampler->src, sx[x], sy[x], &r, &g, &b);
        fast_put_pixel(dst, x, y, r, g, b);
    }
}

const char* sample_row_target_name()
{
    simd_target_init();
    using namespace tavrosk;
    return HWY_DYNAMIC_DISPATCH(SampleTargetName)();
}
#endif
