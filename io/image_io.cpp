#include "io/image_io.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include <sys/stat.h>

#include "io/image_codecs.h"
#include "sdl/pixel.h"
#include "sdl/surface_image.h"

// A decoded image of any kind turned as its orientation says it is viewed: 2 mirrored left to right, 3 turned half round, 4 mirrored top to
// bottom, 5 mirrored about the main diagonal, 6 turned a quarter clockwise,
// 7 mirrored about the other diagonal, 8 turned a quarter anticlockwise.
// Viewed pixel (x, y) is stored pixel (sx, sy) = (ax x + bx y + cx,
// ay x + by y + cy). False when the new image cannot be allocated.
static bool turn_as_viewed(const ImageView& stored, int orientation, ImageBuffer* viewed)
{
    const int w = stored.width, h = stored.height;
    const bool swap = orientation >= 5;
    static const struct {
        int ax, bx, ay, by;
        bool right, bottom;  // cx = w - 1, cy = h - 1 (else 0)
    } turns[9] = {{}, {1, 0, 0, 1, false, false}, {-1, 0, 0, 1, true, false}, {-1, 0, 0, -1, true, true},
                  {1, 0, 0, -1, false, true}, {0, 1, 1, 0, false, false}, {0, 1, -1, 0, false, true},
                  {0, -1, -1, 0, true, true}, {0, -1, 1, 0, true, false}};
    const auto& t = turns[orientation];
    if (!image_buffer_make(viewed, swap ? h : w, swap ? w : h, stored.channels, stored.type))
        return false;
    const ImageView& to = viewed->view;
    const int bytes = image_pixel_bytes(to);
    for (int y = 0; y < to.height; ++y) {
        unsigned char* row = image_row(to, y);
        for (int x = 0; x < to.width; ++x) {
            const int sx = t.ax * x + t.bx * y + (t.right ? w - 1 : 0);
            const int sy = t.ay * x + t.by * y + (t.bottom ? h - 1 : 0);
            std::memcpy(row + bytes * x, image_row(stored, sy) + size_t(bytes) * sx, bytes);
        }
    }
    return true;
}

bool image_decode(const unsigned char* data, size_t size, ImageBuffer* image, std::string* problem, ImageMeta* meta,
                  ImageOrientation orientation)
{
    std::string ignored;
    if (!problem)
        problem = &ignored;
    ImageMeta unused;
    if (!meta)
        meta = &unused;
    *meta = ImageMeta();
    *image = ImageBuffer();
    static const unsigned char png_signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    bool ok;
    if (size >= 2 && data[0] == 'B' && data[1] == 'M')
        ok = decode_bmp(data, size, image, problem);
    else if (size >= 8 && std::memcmp(data, png_signature, 8) == 0)
        ok = decode_png(data, size, image, problem, meta);
    else if (size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF)
        ok = decode_jpeg(data, size, image, problem, meta);
    else if (library_format_of(data, size) == LIBRARY_TIFF)
        ok = decode_tiff(data, size, image, problem, meta);
    else if (library_format_of(data, size) == LIBRARY_WEBP)
        ok = decode_webp(data, size, image, problem, meta);
    else if (library_format_of(data, size) == LIBRARY_HEIF)
        ok = decode_heif(data, size, image, problem, meta, orientation == IMAGE_AS_STORED);
    else {
        *problem = "not a BMP, PNG, JPEG, TIFF, WebP, HEIF or AVIF image";
        return false;
    }
    if (ok && orientation == IMAGE_AS_VIEWED && meta->orientation != 1) {
        ImageBuffer viewed;
        ok = turn_as_viewed(image->view, meta->orientation, &viewed);
        if (!ok)
            *problem = no_memory_problem(image->view.width, image->view.height);
        *image = std::move(viewed);
    }
    if (!ok) {
        *meta = ImageMeta();
        *image = ImageBuffer();
    }
    return ok;
}

bool image_load(const char* path, ImageBuffer* image, std::string* problem, ImageMeta* meta,
                ImageOrientation orientation)
{
    std::string ignored;
    if (!problem)
        problem = &ignored;
    *image = ImageBuffer();
    std::FILE* in = std::fopen(path, "rb");
    if (!in) {
        *problem = std::string("cannot open: ") + std::strerror(errno);
        return false;
    }
    const bool ok = image_read(in, image, problem, meta, orientation);
    std::fclose(in);
    return ok;
}

bool image_read(std::FILE* in, ImageBuffer* image, std::string* problem, ImageMeta* meta,
                ImageOrientation orientation)
{
    std::string ignored;
    if (!problem)
        problem = &ignored;
    *image = ImageBuffer();
    struct stat info = {};
    if (fstat(fileno(in), &info) == 0 && S_ISDIR(info.st_mode)) {
        *problem = "is a directory";
        return false;
    }
    // No image the decoders accept needs more than this many bytes (2^27
    // pixels of 4 bytes, with room to spare). A larger file is refused before
    // it is read, a device (/dev/zero, a terminal) at once, and a pipe once it
    // has given that much, so that no input can exhaust memory.
    const size_t max_bytes = size_t(1) << 30;
    if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode)) {
        *problem = "is a device, not an image file";
        return false;
    }
    std::vector<unsigned char> bytes;
    if (S_ISREG(info.st_mode)) {
        if (static_cast<unsigned long long>(info.st_size) > max_bytes) {
            *problem = "file too large for an image (over 1 GiB)";
            return false;
        }
        bytes.reserve(static_cast<size_t>(info.st_size));
    }
    unsigned char buffer[65536];
    size_t got;
    while (bytes.size() <= max_bytes && (got = std::fread(buffer, 1, sizeof buffer, in)) > 0)
        bytes.insert(bytes.end(), buffer, buffer + got);
    if (bytes.size() > max_bytes) {
        *problem = "file too large for an image (over 1 GiB)";
        return false;
    }
    if (std::ferror(in)) {
        *problem = std::string("cannot read: ") + std::strerror(errno);
        return false;
    }
    static const unsigned char nothing = 0;
    return image_decode(bytes.empty() ? &nothing : bytes.data(), bytes.size(), image, problem, meta, orientation);
}

static bool encode_ppm(const ImageView& image, std::FILE* out, std::atomic<long long>* rows_done)
{
    if (std::fprintf(out, "P6\n%d %d\n255\n", image.width, image.height) < 0)
        return false;
    const size_t row = 3 * static_cast<size_t>(image.width);
    for (int y = 0; y < image.height; ++y) {
        if (std::fwrite(image_row(image, y), 1, row, out) != row)
            return false;
        if (rows_done)
            ++*rows_done;
    }
    return true;
}

// SDL_SaveBMP_RW of the image in a 24-bit surface, which it converts to
// B, G, R rows by a blit of its own; the stream stays open (autoclose 0)
// for the flush below. The surface shares the view's pixels where SDL's
// 16-bit pitch can hold its stride.
static bool encode_bmp(const ImageView& image, std::FILE* out, std::string* problem)
{
    SurfacePtr surface(image.stride > 0 && image.stride <= 0xFFFF
                           ? create_rgb24_surface_from(image.pixels, image.width, image.height,
                                                       static_cast<int>(image.stride))
                           : surface_from_rgb8(image));
    if (!surface) {
        *problem = no_memory_problem(image.width, image.height);
        return false;
    }
    SDL_ClearError();
    SDL_RWops* rw = SDL_RWFromFP(out, 0);
    if (rw && SDL_SaveBMP_RW(surface.get(), rw, 1) == 0)
        return true;
    const char* why = SDL_GetError();
    *problem = std::string("BMP encoder error") + (why && *why ? std::string(" (") + why + ")" : std::string());
    return false;
}

bool image_encode(const ImageView& given, ImageFormat format, int quality, std::FILE* out, std::string* problem,
                  const ImageMeta* meta, const ImageEncodeOptions& options)
{
    std::string ignored;
    if (!problem)
        problem = &ignored;
    if (!image_view_valid(given)) {
        *problem = "not an image that can be used";
        return false;
    }
    const bool lossy = format == IMAGE_JPEG || format == IMAGE_HEIF || format == IMAGE_AVIF;
    if ((lossy && (quality < 1 || quality > 100)) || (format == IMAGE_WEBP && (quality < 0 || quality > 100))) {
        *problem = std::string(image_format_name(format)) + " quality must be from " + (lossy ? "1" : "0")
                 + " to 100, not " + std::to_string(quality);
        return false;
    }
    if (format == IMAGE_PNG && (options.png_compression < 0 || options.png_compression > 9)) {
        *problem = "PNG compression must be from 0 to 9, not " + std::to_string(options.png_compression);
        return false;
    }
    // The image as the format holds it.
    ImageBuffer converted;
    const ImageKind kind = image_format_kind(image_kind(given), format);
    if (!kind_equal(kind, image_kind(given)) && !image_convert(given, kind, &converted)) {
        *problem = no_memory_problem(given.width, given.height);
        return false;
    }
    const ImageView& image = converted.data ? converted.view : given;
    problem->clear();
    errno = 0;
    bool ok;
    switch (format) {
    case IMAGE_BMP: ok = encode_bmp(image, out, problem); break;
    case IMAGE_PNG:
        ok = encode_png(image, out, problem, meta, options.png_compression, options.rows_done);
        break;
    case IMAGE_JPEG: ok = encode_jpeg(image, quality, out, problem, meta, options.rows_done); break;
    case IMAGE_PPM: ok = encode_ppm(image, out, options.rows_done); break;
    case IMAGE_TIFF: ok = encode_tiff(image, out, problem, meta); break;
    case IMAGE_WEBP: ok = encode_webp(image, quality, out, problem, meta); break;
    default: ok = encode_heif(image, format == IMAGE_AVIF, quality, out, problem, meta); break;
    }
    // A full disk may show only when the buffered bytes go out; the stream's
    // error flag is the one place that sees every failed write.
    if (std::fflush(out) != 0 || std::ferror(out) || (!ok && problem->empty())) {
        int error = errno;
        *problem = std::string("cannot write: ") + (error ? std::strerror(error) : "write error");
        return false;
    }
    if (ok && options.rows_done && format != IMAGE_PNG && format != IMAGE_JPEG && format != IMAGE_PPM)
        *options.rows_done += image.height;
    return ok;
}

// What each format holds beyond 8-bit RGB.
struct FormatHolds {
    bool grey, alpha, deep, floats;
};

static FormatHolds format_holds(ImageFormat format)
{
    switch (format) {
    case IMAGE_TIFF: return {true, true, true, true};
    case IMAGE_PNG: return {true, true, true, false};
    case IMAGE_JPEG: return {true, false, false, false};
    case IMAGE_WEBP:
    case IMAGE_HEIF:
    case IMAGE_AVIF: return {false, true, false, false};
    default: return {false, false, false, false};
    }
}

ImageKind image_format_kind(ImageKind kind, ImageFormat format)
{
    const FormatHolds holds = format_holds(format);
    const bool alpha = (kind.channels == 2 || kind.channels == 4) && holds.alpha;
    const int colours = kind.channels >= 3 || !holds.grey ? 3 : 1;
    SampleType type = kind.type;
    if (type == SAMPLE_F32 && !holds.floats)
        type = holds.deep ? SAMPLE_U16 : SAMPLE_U8;
    if (type == SAMPLE_U16 && !holds.deep)
        type = SAMPLE_U8;
    return {colours + (alpha ? 1 : 0), type};
}

std::vector<std::string> image_kind_lost(ImageKind kind, ImageFormat format)
{
    const ImageKind held = image_format_kind(kind, format);
    std::vector<std::string> lost;
    if ((kind.channels == 2 || kind.channels == 4) && !(held.channels == 2 || held.channels == 4))
        lost.push_back("alpha");
    if (kind.type != held.type)
        lost.push_back(kind.type == SAMPLE_F32 ? "float samples" : "16-bit samples");
    return lost;
}

// Big-endian numbers in a colour chunk or profile.
static uint32_t be32(const unsigned char* p)
{
    return static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}

// gAMA's value in 1/100000, near 1/2.2: the sRGB curve's as PNG writers
// (ImageMagick, libpng) round it. cHRM's white point and primaries in
// 1/100000: sRGB's (D65; R 0.64 0.33; G 0.30 0.60; B 0.15 0.06), within
// 0.001 for writers that compute them.
static bool gama_is_srgb(const std::vector<unsigned char>& gama)
{
    return gama.size() == 4 && be32(gama.data()) >= 45450 && be32(gama.data()) <= 45460;
}

static bool chrm_is_srgb(const std::vector<unsigned char>& chrm)
{
    static const uint32_t srgb[8] = {31270, 32900, 64000, 33000, 30000, 60000, 15000, 6000};
    if (chrm.size() != 32)
        return false;
    for (int i = 0; i < 8; ++i) {
        const uint32_t v = be32(chrm.data() + 4 * i);
        if (v + 100 < srgb[i] || v > srgb[i] + 100)
            return false;
    }
    return true;
}

// Whether readers take the pixels as sRGB: no description, an sRGB chunk,
// or gAMA and cHRM (either or both) that give sRGB's curve and primaries. A
// profile is never taken so, whatever it holds.
static bool colour_is_srgb(const ImageMeta& meta)
{
    if (!meta.icc.empty())
        return false;
    return !meta.srgb.empty()
        || ((meta.gama.empty() || gama_is_srgb(meta.gama)) && (meta.chrm.empty() || chrm_is_srgb(meta.chrm)));
}

bool image_format_carries_colour(ImageFormat format)
{
    return format != IMAGE_BMP && format != IMAGE_PPM;
}

// The colour description's losses, each a phrase, for a file whose pixels
// have `channels` channels.
static std::vector<std::string> meta_lost(const ImageMeta& meta, ImageFormat format, int channels)
{
    std::vector<std::string> lost;
    const bool icc_fits = image_icc_fits(meta, channels);
    const bool keeps_icc = image_format_carries_colour(format);
    if (!meta.icc.empty() && (!icc_fits || !keeps_icc))
        lost.push_back(icc_fits      ? "ICC profile"
                       : channels >= 3 ? "ICC profile (not one for RGB data)"
                                       : "ICC profile (not one for grey data)");
    // gAMA and cHRM say nothing beside an sRGB chunk or a profile that is
    // kept, nor when they describe sRGB, which a file without them is taken as.
    const bool described
        = !meta.srgb.empty() || (icc_fits && keeps_icc && format != IMAGE_PNG) || colour_is_srgb(meta);
    if (format != IMAGE_PNG && !described) {
        std::string chunks = !meta.gama.empty() && !meta.chrm.empty() ? "gAMA and cHRM chunks"
                           : !meta.gama.empty()                       ? "gAMA chunk"
                           : !meta.chrm.empty()                       ? "cHRM chunk"
                                                                      : "";
        if (!chunks.empty())
            lost.push_back(chunks);
    }
    return lost;
}

// "a", "a and b", "a, b and c".
static std::string in_words(const std::vector<std::string>& items)
{
    std::string words;
    for (size_t i = 0; i < items.size(); ++i)
        words += (i == 0 ? "" : i + 1 == items.size() ? " and " : ", ") + items[i];
    return words;
}

std::string image_meta_lost(const ImageMeta& meta, ImageFormat format)
{
    return in_words(meta_lost(meta, format, 3));
}

std::string image_lost(ImageKind kind, const ImageMeta* meta, ImageFormat format, const char** pronoun)
{
    std::vector<std::string> lost = image_kind_lost(kind, format);
    if (meta) {
        const std::vector<std::string> more = meta_lost(*meta, format, image_format_kind(kind, format).channels);
        lost.insert(lost.end(), more.begin(), more.end());
    }
    const std::string words = in_words(lost);
    // "gAMA and cHRM chunks" and "16-bit samples" are more than one thing too.
    *pronoun = words.find(" and ") != std::string::npos || (!words.empty() && words.back() == 's') ? "them" : "it";
    return words;
}

bool image_same_colour(const ImageMeta& a, const ImageMeta& b)
{
    if (colour_is_srgb(a) || colour_is_srgb(b))
        return colour_is_srgb(a) && colour_is_srgb(b);
    // What readers go by: a profile before the chunks.
    if (!a.icc.empty() || !b.icc.empty())
        return a.icc == b.icc;
    return a.srgb == b.srgb && a.gama == b.gama && a.chrm == b.chrm;
}

// The profile's own name, its 'desc' tag: ICC v2's ASCII ('desc' type) or
// v4's first Unicode record ('mluc' type, UTF-16BE), with anything but
// printable ASCII as '?'; "" when the profile has none that can be read.
// Every offset is checked against the tag and the profile.
static std::string icc_description(const std::vector<unsigned char>& icc)
{
    const size_t size = icc.size();
    if (size < 132)
        return "";
    const unsigned char* p = icc.data();
    const uint32_t tags = be32(p + 128);
    for (uint32_t i = 0; i < tags && 132 + 12 * static_cast<size_t>(i) + 12 <= size; ++i) {
        const unsigned char* entry = p + 132 + 12 * static_cast<size_t>(i);
        const size_t offset = be32(entry + 4), length = be32(entry + 8);
        if (std::memcmp(entry, "desc", 4) != 0 || offset > size || length > size - offset || length < 12)
            continue;
        const unsigned char* tag = p + offset;
        std::string text;
        auto add = [&](uint32_t c) {
            if (c == 0 || text.size() >= 64)
                return false;
            text += c >= 32 && c < 127 ? static_cast<char>(c) : '?';
            return true;
        };
        if (std::memcmp(tag, "desc", 4) == 0) {
            const size_t count = be32(tag + 8);
            for (size_t k = 0; k < count && 12 + k < length && add(tag[12 + k]); ++k) {
            }
        } else if (std::memcmp(tag, "mluc", 4) == 0 && length >= 28 && be32(tag + 8) >= 1) {
            const size_t bytes = be32(tag + 20), start = be32(tag + 24);
            for (size_t k = 0; k + 1 < bytes && start <= length && k + 1 < length - start
                               && add(static_cast<uint32_t>(tag[start + k]) << 8 | tag[start + k + 1]);
                 k += 2) {
            }
        }
        return text;
    }
    return "";
}

std::string image_colour_words(const ImageMeta& meta)
{
    if (!meta.icc.empty()) {
        std::string name = icc_description(meta.icc);
        return "ICC profile" + (name.empty() ? "" : " '" + name + "'") + " of " + std::to_string(meta.icc.size())
             + " bytes";
    }
    if (!meta.srgb.empty())
        return "sRGB chunk";
    std::vector<std::string> parts;
    if (meta.gama.size() == 4) {
        char value[32];
        std::snprintf(value, sizeof value, "gAMA %.5g", be32(meta.gama.data()) / 100000.0);
        parts.push_back(value);
    }
    if (!meta.chrm.empty())
        parts.push_back(chrm_is_srgb(meta.chrm) ? "cHRM of the sRGB primaries" : "cHRM");
    if (parts.empty())
        return "none";
    return parts.size() == 1 ? parts[0] : parts[0] + " and " + parts[1];
}

// The same table serves extensions and --format words.
static bool format_from_word_any_case(std::string word, ImageFormat* format)
{
    for (char& c : word)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    static const struct {
        const char* word;
        ImageFormat format;
    } words[] = {{"bmp", IMAGE_BMP},   {"png", IMAGE_PNG},   {"jpeg", IMAGE_JPEG},  {"jpg", IMAGE_JPEG},
                 {"ppm", IMAGE_PPM},   {"tiff", IMAGE_TIFF}, {"tif", IMAGE_TIFF},   {"webp", IMAGE_WEBP},
                 {"heic", IMAGE_HEIF}, {"heif", IMAGE_HEIF}, {"avif", IMAGE_AVIF}};
    for (const auto& w : words)
        if (word == w.word) {
            *format = w.format;
            return true;
        }
    return false;
}

bool image_format_from_name(const std::string& path, ImageFormat* format)
{
    size_t dot = path.rfind('.');
    size_t slash = path.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return false;
    return format_from_word_any_case(path.substr(dot + 1), format);
}

bool image_format_from_word(const std::string& word, ImageFormat* format)
{
    return format_from_word_any_case(word, format);
}

bool image_format_writable(ImageFormat format)
{
    return (format != IMAGE_HEIF && format != IMAGE_AVIF) || heif_can_write(format == IMAGE_AVIF);
}

const char* image_format_name(ImageFormat format)
{
    switch (format) {
    case IMAGE_BMP:
        return "BMP";
    case IMAGE_PNG:
        return "PNG";
    case IMAGE_JPEG:
        return "JPEG";
    case IMAGE_PPM:
        return "PPM";
    case IMAGE_TIFF:
        return "TIFF";
    case IMAGE_WEBP:
        return "WebP";
    case IMAGE_HEIF:
        return "HEIF";
    case IMAGE_AVIF:
        return "AVIF";
    }
    return "?";
}
