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
#include <type_traits>

#include "raster/sample_row.h"
#include "raster/sampler.h"
#include "raster/simd_target.h"

HWY_BEFORE_NAMESPACE();
namespace tavrosk {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// The four neighbours of the N points at sx, sy as sample_bilinear's taps
// give them: the weights, zero for a point outside the image (or NaN), and
// the byte offsets of the neighbours' pixels, of pixel_bytes each; a point
// outside is moved to (0, 0) so that every read stays inside. Returns which
// lanes are inside, as a mask of 32-bit lanes.
//
// The source's sizes come by value: read through a pointer, each would be
// read again after every store of a row, which may alias it.
struct TapGeometry {
    int32_t width, height, stride, pixel_bytes;
};

TapGeometry GeometryOf(const ImageView& src)
{
    return {src.width, src.height, static_cast<int32_t>(src.stride), image_pixel_bytes(src)};
}

template <class V, class VI>
HWY_INLINE hn::Mask<hn::DFromV<VI>> NeighbourTaps(TapGeometry g, const double* sx, const double* sy, V* wx0, V* wx1,
                                                  V* wy0, V* wy1, VI* offsets)
{
    const hn::DFromV<V> d;
    const hn::DFromV<VI> di;
    const V zero = hn::Zero(d), w = hn::Set(d, g.width), h = hn::Set(d, g.height);
    const VI one = hn::Set(di, 1), last_x = hn::Set(di, g.width - 1), last_y = hn::Set(di, g.height - 1);
    const VI pitch = hn::Set(di, g.stride), bytes = hn::Set(di, g.pixel_bytes);
    V x = hn::LoadU(d, sx), y = hn::LoadU(d, sy);
    const auto inside = hn::And(hn::And(hn::Ge(x, zero), hn::Le(x, w)), hn::And(hn::Ge(y, zero), hn::Le(y, h)));
    x = hn::IfThenElseZero(inside, x);
    y = hn::IfThenElseZero(inside, y);
    const VI x0 = hn::DemoteTo(di, x), y0 = hn::DemoteTo(di, y);
    const VI x1 = hn::Add(x0, one), y1 = hn::Add(y0, one);
    *wx0 = hn::IfThenElseZero(inside, hn::Sub(hn::PromoteTo(d, x1), x));
    *wx1 = hn::IfThenElseZero(inside, hn::Sub(x, hn::PromoteTo(d, x0)));
    *wy0 = hn::IfThenElseZero(inside, hn::Sub(hn::PromoteTo(d, y1), y));
    *wy1 = hn::IfThenElseZero(inside, hn::Sub(y, hn::PromoteTo(d, y0)));
    const VI col0 = hn::Mul(hn::Min(x0, last_x), bytes), col1 = hn::Mul(hn::Min(x1, last_x), bytes);
    const VI row0 = hn::Mul(hn::Min(y0, last_y), pitch), row1 = hn::Mul(hn::Min(y1, last_y), pitch);
    // Top-left, top-right, bottom-left, bottom-right.
    offsets[0] = hn::Add(row0, col0);
    offsets[1] = hn::Add(row0, col1);
    offsets[2] = hn::Add(row1, col0);
    offsets[3] = hn::Add(row1, col1);
    return hn::Eq(hn::DemoteTo(di, hn::IfThenElseZero(inside, hn::Set(d, 1.0))), one);
}

// sample_bilinear, a pixel a lane, for 8-bit R, G, B sources with a black
// outside: the same taps, the same doubles in the same order, truncated
// toward zero at both stages. A point outside has zero weights, which blend
// to black. Weights lie in [0, 1] and each pair of them sums to at most
// 1 + 2^-53, so a stage never reaches 256 and the 8-bit cast between the
// stages changes nothing. The result pixels go to `rgb` as R, G, B bytes.
// The last vector of a row reads and writes the padding past count, as the
// other vectors do.
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
    const VI last_word = hn::Set(di, s->last_word);
    const auto word_mask = hn::Set(du, 0xFFFFFFu);
    const int32_t* words = reinterpret_cast<const int32_t*>(s->src.pixels);
    const TapGeometry geometry = GeometryOf(s->src);

    for (int i = 0; i < count; i += N) {
        V wx0, wx1, wy0, wy1;
        VI offsets[4];
        NeighbourTaps(geometry, sx + i, sy + i, &wx0, &wx1, &wy0, &wy1, offsets);
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

// A channel's 32-bit lanes as samples of the kind (integers already in
// their range).
template <SampleType Type, class DT, class VU>
hn::Vec<DT> AsSamples(DT dt, VU v)
{
    if constexpr (Type == SAMPLE_F32)
        return hn::BitCast(dt, v);
    else
        return hn::TruncateTo(dt, v);
}

// The planes' first count pixels as pixels of the kind, interleaved. The
// last vector writes pixels past count.
template <SampleType Type, int C>
HWY_NOINLINE void Interleave(const uint32_t* planes, int stride, int count, unsigned char* pixels)
{
    using T = std::conditional_t<Type == SAMPLE_U8, uint8_t, std::conditional_t<Type == SAMPLE_U16, uint16_t, float>>;
    const hn::ScalableTag<double> d;  // the lanes KindRow wrote in
    const hn::Rebind<uint32_t, decltype(d)> du;
    const hn::Rebind<T, decltype(d)> dt;
    const int N = static_cast<int>(hn::Lanes(du));
    const auto load = [&](int c, int i) { return AsSamples<Type>(dt, hn::LoadU(du, planes + c * stride + i)); };
    T* p = reinterpret_cast<T*>(pixels);
    for (int i = 0; i < count; i += N, p += N * C) {
        if constexpr (C == 1)
            hn::StoreU(load(0, i), dt, p);
        else if constexpr (C == 2)
            hn::StoreInterleaved2(load(0, i), load(1, i), dt, p);
        else if constexpr (C == 3)
            hn::StoreInterleaved3(load(0, i), load(1, i), load(2, i), dt, p);
        else
            hn::StoreInterleaved4(load(0, i), load(1, i), load(2, i), load(3, i), dt, p);
    }
}

template <SampleType Type, int C>
void KindRow(const RowSampler* s, const double* sx, const double* sy, int count, uint32_t* planes, int stride)
{
    static_assert(HWY_MAX_BYTES / sizeof(double) <= SAMPLE_ROW_PAD, "a vector must fit in the row padding");
    constexpr bool kFloat = Type == SAMPLE_F32, kAlpha = C == 2 || C == 4;
    constexpr int kSampleBytes = Type == SAMPLE_U8 ? 1 : Type == SAMPLE_U16 ? 2 : 4;
    // A pixel of more than 4 bytes is read as 8-byte words: half the
    // gathers.
    constexpr int kWordBytes = C * kSampleBytes > 4 ? 8 : 4;
    constexpr int kWords = (C * kSampleBytes + kWordBytes - 1) / kWordBytes;
    constexpr bool kWhole = C * kSampleBytes % kWordBytes == 0;
    const hn::ScalableTag<double> d;
    const hn::Rebind<int32_t, decltype(d)> di;
    const hn::Rebind<uint32_t, decltype(d)> du;
    const hn::Rebind<float, decltype(d)> df;
    using V = hn::Vec<decltype(d)>;
    using VI = hn::Vec<decltype(di)>;
    using MI = hn::Mask<decltype(di)>;
    const int N = static_cast<int>(hn::Lanes(d));
    const V zero = hn::Zero(d), half = hn::Set(d, 0.5);
    const VI last_word = hn::Set(di, s->last_word);
    const hn::Rebind<int64_t, decltype(d)> dq;
    const hn::Rebind<uint64_t, decltype(d)> duq;
    const int32_t* words32 = reinterpret_cast<const int32_t*>(s->src.pixels);
    const int64_t* words64 = reinterpret_cast<const int64_t*>(s->src.pixels);
    const TapGeometry geometry = GeometryOf(s->src);
    VI outside[C];
    for (int c = 0; c < C; ++c) {
        uint32_t bits = 0;
        if (kFloat) {
            std::memcpy(&bits, s->outside + 4 * c, 4);
        } else {
            uint16_t u16;
            std::memcpy(&u16, s->outside + 2 * c, 2);
            bits = Type == SAMPLE_U8 ? s->outside[c] : u16;
        }
        outside[c] = hn::BitCast(di, hn::Set(du, bits));
    }
    // Two 32-bit lanes are equal as samples: integers as integers, floats as
    // floats (so +0 equals -0 and NaN equals nothing).
    const auto same = [&](VI a, VI b) -> MI {
        if (kFloat)
            return hn::RebindMask(di, hn::Eq(hn::BitCast(df, a), hn::BitCast(df, b)));
        return hn::Eq(a, b);
    };
    const auto widen = [&](VI v) -> V { return kFloat ? hn::PromoteTo(d, hn::BitCast(df, v)) : hn::PromoteTo(d, v); };
    // A double as the kind's 32-bit lane: truncated, or the nearest float.
    const auto narrow = [&](V v) -> VI {
        if (kFloat)
            return hn::BitCast(di, hn::DemoteTo(df, v));
        return hn::DemoteTo(di, v);
    };

    for (int i = 0; i < count; i += N) {
        V wx0, wx1, wy0, wy1;
        VI offsets[4];
        const MI inside_i = NeighbourTaps(geometry, sx + i, sy + i, &wx0, &wx1, &wy0, &wy1, offsets);
        // raw[k][c]: channel c of tap k as a 32-bit lane.
        VI raw[4][C];
        for (int k = 0; k < 4; ++k) {
            for (int j = 0; j < kWords; ++j) {
                // A pixel of whole words never has a word reach past its end.
                const VI want = hn::Add(offsets[k], hn::Set(di, kWordBytes * j));
                const VI at = kWhole ? want : hn::Min(want, last_word);
                const auto back = hn::BitCast(du, hn::ShiftLeft<3>(hn::Sub(want, at)));
                const int first = kWordBytes * j / kSampleBytes, end = kWordBytes * (j + 1) / kSampleBytes;
                constexpr uint32_t kMask = kSampleBytes == 4 ? 0xFFFFFFFFu : (1u << (8 * kSampleBytes)) - 1;
                if constexpr (kWordBytes == 4) {
                    auto word = hn::BitCast(du, hn::GatherOffset(di, words32, at));
                    if (!kWhole)
                        word = word >> back;
                    for (int c = first; c < C && c < end; ++c) {
                        const auto sample = hn::ShiftRightSame(word, 8 * (c - first) * kSampleBytes);
                        raw[k][c] = hn::BitCast(di, kSampleBytes == 4 ? sample : hn::And(sample, hn::Set(du, kMask)));
                    }
                } else {
                    auto word = hn::BitCast(duq, hn::GatherOffset(dq, words64, hn::PromoteTo(dq, at)));
                    if (!kWhole)
                        word = word >> hn::PromoteTo(duq, back);
                    for (int c = first; c < C && c < end; ++c) {
                        // Truncating to 32 bits drops what lies above a 4-byte sample.
                        const auto sample = hn::ShiftRightSame(word, 8 * (c - first) * kSampleBytes);
                        raw[k][c] = hn::BitCast(
                            di, hn::TruncateTo(du, kSampleBytes == 4 ? sample : hn::And(sample, hn::Set(duq, kMask))));
                    }
                }
            }
        }
        V taps[4][C];
        for (int k = 0; k < 4; ++k)
            for (int c = 0; c < C; ++c)
                taps[k][c] = widen(raw[k][c]);

        // The straight rule: integer stages truncate; floats round once.
        const auto straight = [&](const V* t0, const V* t1, const V* t2, const V* t3, int c) -> VI {
            V top = hn::Add(hn::Mul(wx0, t0[c]), hn::Mul(wx1, t1[c]));
            V bottom = hn::Add(hn::Mul(wx0, t2[c]), hn::Mul(wx1, t3[c]));
            if (!kFloat) {
                top = hn::PromoteTo(d, hn::DemoteTo(di, top));
                bottom = hn::PromoteTo(d, hn::DemoteTo(di, bottom));
            }
            return narrow(hn::Add(hn::Mul(wy0, top), hn::Mul(wy1, bottom)));
        };
        const auto interpolate = [&](V c0, V c1, V c2, V c3) -> V {
            return hn::Add(hn::Mul(wy0, hn::Add(hn::Mul(wx0, c0), hn::Mul(wx1, c1))),
                           hn::Mul(wy1, hn::Add(hn::Mul(wx0, c2), hn::Mul(wx1, c3))));
        };
        VI out[C];
        if (!kAlpha) {
            for (int c = 0; c < C; ++c)
                out[c] = straight(taps[0], taps[1], taps[2], taps[3], c);
        } else {
            // Lanes whose four alphas agree take the straight rule, the others
            // the premultiplied one; each is computed only where some lane
            // needs it.
            constexpr int a = C - 1;
            const MI equal = hn::And(same(raw[0][a], raw[1][a]), hn::And(same(raw[0][a], raw[2][a]),
                                                                         same(raw[0][a], raw[3][a])));
            const bool some_equal = !hn::AllFalse(di, equal), all_equal = hn::AllTrue(di, equal);
            out[a] = hn::IfThenElse(equal, raw[0][a], straight(taps[0], taps[1], taps[2], taps[3], a));
            for (int c = 0; c < a && some_equal; ++c)
                out[c] = straight(taps[0], taps[1], taps[2], taps[3], c);
            if (!all_equal) {
                V A = interpolate(taps[0][a], taps[1][a], taps[2][a], taps[3][a]);
                // Where A is 0 the alpha is 0 and the quotient unused; 1 keeps
                // it finite.
                A = hn::IfThenElse(hn::Eq(A, zero), hn::Set(d, 1.0), A);
                for (int c = 0; c < a; ++c) {
                    const V P = interpolate(hn::Mul(taps[0][a], taps[0][c]), hn::Mul(taps[1][a], taps[1][c]),
                                            hn::Mul(taps[2][a], taps[2][c]), hn::Mul(taps[3][a], taps[3][c]));
                    const VI q = narrow(kFloat ? hn::Div(P, A) : hn::Add(hn::Div(P, A), half));
                    out[c] = some_equal ? hn::IfThenElse(equal, out[c], q) : q;
                }
            }
            const MI transparent = same(out[a], hn::Zero(di));
            for (int c = 0; c < C; ++c)
                out[c] = hn::IfThenZeroElse(transparent, out[c]);
        }
        for (int c = 0; c < C; ++c)
            hn::StoreU(hn::BitCast(du, hn::IfThenElse(inside_i, out[c], outside[c])), du, planes + c * stride + i);
    }
}

void SampleKindRow(const RowSampler* s, const double* sx, const double* sy, int count, uint32_t* planes,
                   unsigned char* pixels)
{
    const int stride = count + SAMPLE_ROW_PAD;
    const int channels = s->src.channels;
#define TAVROSK_KIND_ROW(TYPE, C)                          \
    KindRow<TYPE, C>(s, sx, sy, count, planes, stride); \
    return Interleave<TYPE, C>(planes, stride, count, pixels);
#define TAVROSK_KIND_ROWS(TYPE)                   \
    switch (channels) {                           \
    case 1: TAVROSK_KIND_ROW(TYPE, 1)             \
    case 2: TAVROSK_KIND_ROW(TYPE, 2)             \
    case 3: TAVROSK_KIND_ROW(TYPE, 3)             \
    default: TAVROSK_KIND_ROW(TYPE, 4)            \
    }
    switch (s->src.type) {
    case SAMPLE_U8: TAVROSK_KIND_ROWS(SAMPLE_U8)
    case SAMPLE_U16: TAVROSK_KIND_ROWS(SAMPLE_U16)
    case SAMPLE_F32: TAVROSK_KIND_ROWS(SAMPLE_F32)
    }
#undef TAVROSK_KIND_ROWS
#undef TAVROSK_KIND_ROW
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
HWY_EXPORT(SampleKindRow);
HWY_EXPORT(SampleTargetName);
}  // namespace tavrosk

// Which lanes can read src: the lanes address pixel (x, y) as
// stride * y + bytes * x in 32-bit offsets and read a word there, which needs
// a little-endian CPU, rows top-down and at least a word of pixels.
static RowLanes lanes_for(RowSampler* s)
{
    const ImageView& src = s->src;
    if (src.stride <= 0 || __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__)
        return ROW_LANES_NONE;
    const int pixel_bytes = image_pixel_bytes(src), word_bytes = pixel_bytes > 4 ? 8 : 4;
    const int64_t extent =
        static_cast<int64_t>(src.height - 1) * src.stride + static_cast<int64_t>(src.width) * pixel_bytes;
    if (extent < word_bytes || extent > INT32_MAX - 16 || src.stride > INT32_MAX)
        return ROW_LANES_NONE;
    s->last_word = static_cast<int32_t>(extent - word_bytes);
    bool black = true;
    for (int i = 0; i < pixel_bytes; ++i)
        black = black && s->outside[i] == 0;
    return image_is_rgb8(src) && black ? ROW_LANES_RGB8 : ROW_LANES_KIND;
}

void row_sampler_init(RowSampler* sampler, const ImageView& src, const ImageView& dst, const unsigned char* outside,
                      bool use_lanes)
{
    simd_target_init();
    sampler->src = src;
    sampler->dst = dst;
    std::memset(sampler->outside, 0, sizeof sampler->outside);
    if (outside)
        std::memcpy(sampler->outside, outside, image_pixel_bytes(src));
    sampler->last_word = 0;
    sampler->lanes = use_lanes ? lanes_for(sampler) : ROW_LANES_NONE;
}

// The names are found through the using-directive rather than written as
// tavrosk::Name, so that a build with HWY_COMPILE_ONLY_STATIC, whose dispatch
// is a plain N_<TARGET>::Name, resolves them too.
void sample_row(const RowSampler* sampler, int y, const double* sx, const double* sy, uint32_t* scratch)
{
    using namespace tavrosk;
    const ImageView& dst = sampler->dst;
    const int w = dst.width, bytes = image_pixel_bytes(dst);
    uint8_t* out = image_row(dst, y);
    switch (sampler->lanes) {
    case ROW_LANES_RGB8: {
        // Into the scratch row first: the last vector writes past the row.
        uint8_t* rgb = reinterpret_cast<uint8_t*>(scratch);
        HWY_DYNAMIC_DISPATCH(SampleRowRgb)(sampler, sx, sy, w, rgb);
        std::memcpy(out, rgb, 3 * static_cast<size_t>(w));
        return;
    }
    case ROW_LANES_KIND: {
        // Channel planes first, then the pixels, then the row.
        unsigned char* pixels = reinterpret_cast<unsigned char*>(scratch + 4 * (w + SAMPLE_ROW_PAD));
        HWY_DYNAMIC_DISPATCH(SampleKindRow)(sampler, sx, sy, w, scratch, pixels);
        std::memcpy(out, pixels, static_cast<size_t>(w) * bytes);
        return;
    }
    case ROW_LANES_NONE:
        for (int x = 0; x < w; ++x)
            image_sample(sampler->src, sx[x], sy[x], sampler->outside, out + static_cast<std::ptrdiff_t>(x) * bytes);
        return;
    }
}

const char* sample_row_target_name()
{
    simd_target_init();
    using namespace tavrosk;
    return HWY_DYNAMIC_DISPATCH(SampleTargetName)();
}
#endif
