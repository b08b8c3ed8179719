#include "raster/kinds.h"

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "raster/sampler.h"

namespace {

bool has_alpha(int channels)
{
    return channels == 2 || channels == 4;
}

template <typename T>
constexpr bool is_integer = std::is_integral<T>::value;

// M, the full value: opaque alpha, white.
template <typename T>
constexpr double full_value = std::is_same<T, uint8_t>::value ? 255 : std::is_same<T, uint16_t>::value ? 65535 : 1;

template <typename T>
double load(const unsigned char* pixel, int channel)
{
    T v;
    std::memcpy(&v, pixel + channel * sizeof(T), sizeof(T));
    return v;
}

template <typename T>
void store(unsigned char* pixel, int channel, T v)
{
    std::memcpy(pixel + channel * sizeof(T), &v, sizeof(T));
}

const unsigned char* pixel_at(const ImageView& view, int x, int y)
{
    return image_row(view, y) + static_cast<std::ptrdiff_t>(x) * image_pixel_bytes(view);
}

// A double already known to lie in [0, M + 1) (integers) or any double
// (floats) as a sample: truncated, or rounded to the nearest float.
template <typename T>
T to_sample(double v)
{
    if (is_integer<T>)
        return static_cast<T>(static_cast<int>(v));
    return static_cast<T>(v);
}

// The nearest sample, for values in [0, M + 0.5) or any double for floats.
template <typename T>
T nearest_sample(double v)
{
    return is_integer<T> ? to_sample<T>(v + 0.5) : to_sample<T>(v);
}

// The straight rule: both stages truncate for integers; floats keep the
// stages' doubles and round once.
template <typename T>
T straight(const BilinearTaps& t, const double c[4])
{
    double top = t.wx0 * c[0] + t.wx1 * c[1];
    double bottom = t.wx0 * c[2] + t.wx1 * c[3];
    if (is_integer<T>) {
        top = static_cast<int>(top);
        bottom = static_cast<int>(bottom);
    }
    return to_sample<T>(t.wy0 * top + t.wy1 * bottom);
}

double interpolate(const BilinearTaps& t, const double c[4])
{
    return t.wy0 * (t.wx0 * c[0] + t.wx1 * c[1]) + t.wy1 * (t.wx0 * c[2] + t.wx1 * c[3]);
}

// Writes the pixel of n samples, or zeros where the kind has alpha and the
// alpha is 0.
template <typename T>
void store_pixel(const T* samples, int n, bool alpha, unsigned char* pixel)
{
    if (alpha && samples[n - 1] == 0) {
        std::memset(pixel, 0, n * sizeof(T));
        return;
    }
    for (int c = 0; c < n; ++c)
        store<T>(pixel, c, samples[c]);
}

template <typename T>
void sample_kind(const ImageView& src, double x, double y, const unsigned char* outside, unsigned char* pixel)
{
    const int n = src.channels;
    BilinearTaps t;
    if (!bilinear_taps(src.width, src.height, x, y, &t)) {
        std::memcpy(pixel, outside, n * sizeof(T));
        return;
    }
    const unsigned char* taps[4] = {pixel_at(src, t.cx0, t.cy0), pixel_at(src, t.cx1, t.cy0),
                                    pixel_at(src, t.cx0, t.cy1), pixel_at(src, t.cx1, t.cy1)};
    double c[4][4];  // channel, tap
    for (int ch = 0; ch < n; ++ch)
        for (int k = 0; k < 4; ++k)
            c[ch][k] = load<T>(taps[k], ch);
    const bool alpha = has_alpha(n);
    const double* a = c[n - 1];
    T out[4];
    if (!alpha || (a[0] == a[1] && a[0] == a[2] && a[0] == a[3])) {
        for (int ch = 0; ch < n; ++ch)
            out[ch] = straight<T>(t, c[ch]);
        if (alpha)
            out[n - 1] = static_cast<T>(a[0]);
    } else {
        out[n - 1] = straight<T>(t, a);
        const double A = interpolate(t, a);
        // Where A is 0 (the alphas differ only where a weight is 0) so is the
        // alpha, and with it the pixel; the quotient 0 / 0 would convert to
        // no integer.
        for (int ch = 0; ch < n - 1; ++ch) {
            const double m[4] = {a[0] * c[ch][0], a[1] * c[ch][1], a[2] * c[ch][2], a[3] * c[ch][3]};
            out[ch] = A != 0 ? nearest_sample<T>(interpolate(t, m) / A) : T(0);
        }
    }
    store_pixel(out, n, alpha, pixel);
}

// The straight blend; at 8 bits from `mixed` when given (kind_blend_table's
// entries, the same values).
template <typename T>
T blend_straight(double t, double f, double s, const uint8_t* mixed)
{
    if constexpr (std::is_same<T, uint8_t>::value) {
        if (mixed)
            return mixed[static_cast<int>(f) << 8 | static_cast<int>(s)];
    }
    return nearest_sample<T>((1 - t) * f + t * s);
}

template <typename T>
void blend_kind(int n, double t, const uint8_t* mixed, const unsigned char* f, const unsigned char* s,
                unsigned char* pixel)
{
    const bool alpha = has_alpha(n);
    const double fa = alpha ? load<T>(f, n - 1) : 0, sa = alpha ? load<T>(s, n - 1) : 0;
    T out[4];
    if (alpha)
        out[n - 1] = blend_straight<T>(t, fa, sa, mixed);
    const int colours = alpha ? n - 1 : n;
    const double A = (1 - t) * fa + t * sa;
    for (int c = 0; c < colours; ++c) {
        if (!alpha || fa == sa)
            out[c] = blend_straight<T>(t, load<T>(f, c), load<T>(s, c), mixed);
        else  // where A is 0 so is the alpha, and the quotient would be x / 0
            out[c] = A != 0 ? nearest_sample<T>(((1 - t) * (fa * load<T>(f, c)) + t * (sa * load<T>(s, c))) / A)
                            : T(0);
    }
    store_pixel(out, n, alpha, pixel);
}

template <typename T>
void blend_row(int n, double t, const uint8_t* mixed, const unsigned char* f, const unsigned char* s,
               unsigned char* out, int count)
{
    if (std::is_same<T, uint8_t>::value && mixed && !has_alpha(n)) {
        // Every sample straight from the table, byte by byte.
        for (int i = 0; i < n * count; ++i)
            out[i] = mixed[f[i] << 8 | s[i]];
        return;
    }
    const std::ptrdiff_t bytes = n * sizeof(T);
    for (int x = 0; x < count; ++x, f += bytes, s += bytes, out += bytes)
        blend_kind<T>(n, t, mixed, f, s, out);
}

// An integer colour value from v, clamped to [0, 1] first (NaN as 0).
template <typename T>
T outside_sample(double v)
{
    if (is_integer<T>)
        v = v >= 0 ? (v <= 1 ? v : 1) : 0;
    return is_integer<T> ? nearest_sample<T>(v * full_value<T>) : to_sample<T>(v);
}

template <typename T>
void outside_kind(const OutsideColour& colour, int n, unsigned char* pixel)
{
    T out[4];
    if (n >= 3) {
        out[0] = outside_sample<T>(colour.r);
        out[1] = outside_sample<T>(colour.g);
        out[2] = outside_sample<T>(colour.b);
    } else {
        out[0] = outside_sample<T>(0.2126 * colour.r + 0.7152 * colour.g + 0.0722 * colour.b);
    }
    const bool alpha = has_alpha(n);
    if (alpha)
        out[n - 1] = outside_sample<T>(colour.a);
    store_pixel(out, n, alpha, pixel);
}

}  // namespace

double pixel_sample(const unsigned char* pixel, SampleType type, int c)
{
    switch (type) {
    case SAMPLE_U8: return load<uint8_t>(pixel, c);
    case SAMPLE_U16: return load<uint16_t>(pixel, c);
    case SAMPLE_F32: return load<float>(pixel, c);
    }
    return 0;
}

void set_pixel_sample(unsigned char* pixel, SampleType type, int c, double v)
{
    switch (type) {
    case SAMPLE_U8: return store<uint8_t>(pixel, c, to_sample<uint8_t>(v));
    case SAMPLE_U16: return store<uint16_t>(pixel, c, to_sample<uint16_t>(v));
    case SAMPLE_F32: return store<float>(pixel, c, to_sample<float>(v));
    }
}

ImageKind kind_wider(ImageKind a, ImageKind b)
{
    const bool colour = a.channels >= 3 || b.channels >= 3;
    const bool alpha = has_alpha(a.channels) || has_alpha(b.channels);
    ImageKind wider;
    wider.channels = (colour ? 3 : 1) + (alpha ? 1 : 0);
    wider.type = a.type == SAMPLE_F32 || b.type == SAMPLE_F32   ? SAMPLE_F32
               : a.type == SAMPLE_U16 || b.type == SAMPLE_U16 ? SAMPLE_U16
                                                              : SAMPLE_U8;
    return wider;
}

void outside_pixel(const OutsideColour& colour, ImageKind kind, unsigned char* pixel)
{
    switch (kind.type) {
    case SAMPLE_U8: return outside_kind<uint8_t>(colour, kind.channels, pixel);
    case SAMPLE_U16: return outside_kind<uint16_t>(colour, kind.channels, pixel);
    case SAMPLE_F32: return outside_kind<float>(colour, kind.channels, pixel);
    }
}

void image_sample(const ImageView& src, double x, double y, const unsigned char* outside, unsigned char* pixel)
{
    switch (src.type) {
    case SAMPLE_U8: return sample_kind<uint8_t>(src, x, y, outside, pixel);
    case SAMPLE_U16: return sample_kind<uint16_t>(src, x, y, outside, pixel);
    case SAMPLE_F32: return sample_kind<float>(src, x, y, outside, pixel);
    }
}

void kind_blend_table(double t, uint8_t* mixed)
{
    for (int f = 0; f < 256; ++f)
        for (int s = 0; s < 256; ++s)
            mixed[f << 8 | s] = blend_straight<uint8_t>(t, f, s, nullptr);
}

void kind_blend_row(ImageKind kind, double t, const uint8_t* mixed, const unsigned char* f, const unsigned char* s,
                    unsigned char* out, int count)
{
    switch (kind.type) {
    case SAMPLE_U8: return blend_row<uint8_t>(kind.channels, t, mixed, f, s, out, count);
    case SAMPLE_U16: return blend_row<uint16_t>(kind.channels, t, nullptr, f, s, out, count);
    case SAMPLE_F32: return blend_row<float>(kind.channels, t, nullptr, f, s, out, count);
    }
}

double sample_full_value(SampleType type)
{
    return type == SAMPLE_U8 ? 255.0 : type == SAMPLE_U16 ? 65535.0 : 1.0;
}

// Sample v of a type whose full value, times `scale`, is `to`'s: integers
// to the nearest level, floats beyond 0 .. 1 (and NaN) clamped on their way
// to integers.
static double converted_sample(double v, double scale, SampleType to)
{
    v *= scale;
    if (to == SAMPLE_F32)
        return v;
    const double top = sample_full_value(to);
    return v > 0 ? (v < top ? v + 0.5 : top) : 0;
}

bool image_convert(const ImageView& from, ImageKind to, ImageBuffer* out)
{
    const bool alpha_in = image_has_alpha(from), alpha_out = to.channels == 2 || to.channels == 4;
    const int colours_in = from.channels - alpha_in, colours_out = to.channels - alpha_out;
    if (colours_out < colours_in || !image_buffer_make(out, from.width, from.height, to.channels, to.type))
        return false;
    const double scale = sample_full_value(to.type) / sample_full_value(from.type);
    const int in_bytes = image_pixel_bytes(from), out_bytes = image_pixel_bytes(out->view);
    for (int y = 0; y < from.height; ++y) {
        const unsigned char* src = image_row(from, y);
        unsigned char* dst = image_row(out->view, y);
        for (int x = 0; x < from.width; ++x, src += in_bytes, dst += out_bytes)
            for (int c = 0; c < to.channels; ++c) {
                const bool alpha = alpha_out && c == to.channels - 1;
                const int at = alpha ? (alpha_in ? colours_in : -1) : colours_in == 1 ? 0 : c;
                const double v = at < 0 ? sample_full_value(from.type) : pixel_sample(src, from.type, at);
                set_pixel_sample(dst, to.type, c, converted_sample(v, scale, to.type));
            }
    }
    return true;
}

void kind_row_rgb8(const ImageView& view, int y, const uint8_t* backdrop, uint8_t* out)
{
    const unsigned char* in = image_row(view, y);
    if (image_is_rgb8(view)) {
        std::memcpy(out, in, static_cast<size_t>(view.width) * 3);
        return;
    }
    const bool alpha = image_has_alpha(view);
    const int colours = view.channels - alpha, bytes = image_pixel_bytes(view);
    const double scale = 255 / sample_full_value(view.type);
    auto level = [&](const unsigned char* pixel, int c) {
        return static_cast<int>(converted_sample(pixel_sample(pixel, view.type, c), scale, SAMPLE_U8));
    };
    for (int x = 0; x < view.width; ++x, in += bytes, out += 3) {
        const int a = alpha ? level(in, colours) : 255;
        for (int c = 0; c < 3; ++c) {
            const int b = backdrop ? backdrop[3 * x + c] : 0;
            out[c] = static_cast<uint8_t>((level(in, colours == 1 ? 0 : c) * a + b * (255 - a) + 127) / 255);
        }
    }
}
