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

#include "raster/sample_row.h"
#include "raster/sampler.h"
#include "raster/simd_target.h"

HWY_BEFORE_NAMESPACE();
namespace tavrosk {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// sample_bilinear, a pixel a lane, for 8-bit R, G, B sources: the same
// taps, the same doubles in the same order, truncated toward zero at both
// stages. A point outside the image (or NaN) is moved to (0, 0) so that every
// read stays inside, and its weights are zero, which blends to black. Weights
// lie in [0, 1] and each pair of them sums to at most 1 + 2^-53, so a stage
// never reaches 256 and the 8-bit cast between the stages changes nothing.
// The result pixels go to `rgb` as R, G, B bytes. The last vector of a row
// reads and writes the padding past count, as the other vectors do.
void SampleRowRgb(const RowSampler* s, const double* sx, const double* sy, int count, uint8_t* rgb)
{
    static_assert(HWY_MAX_BYTES / sizeof(double) <= SAMPLE_ROW_PAD, "a vector must fit in the row padding");
    const hn::ScalableTag<double> d;
    const hn::Rebind<int32_t, decltype(d)> di;
    const hn::Rebind<uint32_t, decltype(d)> du;
    const hn::Rebind<uint8_t, decltype(d)> d8;
    using V = hn::Vec<decltype(d)>;
    using VI = hn::Vec<decltype(di)>;
    const int N = static_cast<int>(hn::Lanes(d));
    const ImageView& src = s->src;
    const V zero = hn::Zero(d), w = hn::Set(d, src.width), h = hn::Set(d, src.height);
    const VI one = hn::Set(di, 1), last_x = hn::Set(di, src.width - 1), last_y = hn::Set(di, src.height - 1);
    const VI pitch = hn::Set(di, static_cast<int32_t>(src.stride)), bytes = hn::Set(di, src.channels);
    const VI last_word = hn::Set(di, s->last_word);
    const auto word_mask = hn::Set(du, s->word_mask);
    const int32_t* words = reinterpret_cast<const int32_t*>(src.pixels);

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
        // The samples are read here, and only here.
        VI channel[4][3];
        for (int k = 0; k < 4; ++k) {
            const VI at = hn::Min(offsets[k], last_word);
            const auto back = hn::BitCast(du, hn::ShiftLeft<3>(hn::Sub(offsets[k], at)));
            const auto word = hn::And(hn::BitCast(du, hn::GatherOffset(di, words, at)) >> back, word_mask);
            for (int c = 0; c < 3; ++c)
                channel[k][c] = hn::BitCast(di, hn::And(hn::ShiftRightSame(word, 8 * c), hn::Set(du, 0xFF)));
        }

        const auto stage = [&](V w0, VI c0, VI c1, V w1) {
            return hn::DemoteTo(di, hn::Add(hn::Mul(w0, hn::PromoteTo(d, c0)), hn::Mul(w1, hn::PromoteTo(d, c1))));
        };
        // The samples are written here, and only here.
        hn::Vec<decltype(d8)> out[3];
        for (int c = 0; c < 3; ++c) {
            const VI top = stage(wx0, channel[0][c], channel[1][c], wx1);
            const VI bottom = stage(wx0, channel[2][c], channel[3][c], wx1);
            out[c] = hn::DemoteTo(d8, stage(wy0, top, bottom, wy1));
        }
        hn::StoreInterleaved3(out[0], out[1], out[2], d8, rgb + 3 * static_cast<size_t>(i));
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
HWY_EXPORT(SampleRowRgb);
HWY_EXPORT(SampleTargetName);
}  // namespace tavrosk

// The lanes address pixel (x, y) as stride * y + 3 * x in 32-bit offsets and
// read 4 bytes there, which needs a little-endian CPU, rows top-down and at
// least 4 bytes of pixels.
static bool lanes_fit(RowSampler* s)
{
    const ImageView& src = s->src;
    if (!image_is_rgb8(src) || !image_is_rgb8(s->dst) || src.stride <= 0 || __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__)
        return false;
    const int64_t extent = static_cast<int64_t>(src.height - 1) * src.stride + static_cast<int64_t>(src.width) * 3;
    if (extent < 4 || extent > INT32_MAX || src.stride > INT32_MAX)
        return false;
    s->last_word = static_cast<int32_t>(extent - 4);
    s->word_mask = 0xFFFFFFu;
    return true;
}

void row_sampler_init(RowSampler* sampler, const ImageView& src, const ImageView& dst, bool use_lanes)
{
    simd_target_init();
    sampler->src = src;
    sampler->dst = dst;
    sampler->last_word = 0;
    sampler->word_mask = 0;
    sampler->lanes = use_lanes && lanes_fit(sampler);
}

// The names are found through the using-directive rather than written as
// tavrosk::Name, so that a build with HWY_COMPILE_ONLY_STATIC, whose dispatch
// is a plain N_<TARGET>::Name, resolves them too.
void sample_row(const RowSampler* sampler, int y, const double* sx, const double* sy, uint32_t* scratch)
{
    using namespace tavrosk;
    const ImageView& dst = sampler->dst;
    const int w = dst.width, channels = dst.channels;
    uint8_t* out = image_row(dst, y);
    if (sampler->lanes) {
        // Into the scratch row first: the last vector writes past the row.
        uint8_t* rgb = reinterpret_cast<uint8_t*>(scratch);
        HWY_DYNAMIC_DISPATCH(SampleRowRgb)(sampler, sx, sy, w, rgb);
        std::memcpy(out, rgb, 3 * static_cast<size_t>(w));
        return;
    }
    for (int x = 0; x < w; ++x)
        sample_bilinear(sampler->src, sx[x], sy[x], out + static_cast<std::ptrdiff_t>(x) * channels);
}

const char* sample_row_target_name()
{
    simd_target_init();
    using namespace tavrosk;
    return HWY_DYNAMIC_DISPATCH(SampleTargetName)();
}
#endif
