#include "io/image_io.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include <sys/stat.h>

#include "io/image_codecs.h"
#include "sdl/pixel.h"
#include "sdl/surface_image.h"

// A decoded JPEG (8-bit R, G, B) turned as its Exif orientation says it is
// viewed: 2 mirrored left to right, 3 turned half round, 4 mirrored top to
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
    if (!image_buffer_make(viewed, swap ? h : w, swap ? w : h, 3, SAMPLE_U8))
        return false;
    const ImageView& to = viewed->view;
    for (int y = 0; y < to.height; ++y) {
        unsigned char* row = image_row(to, y);
        for (int x = 0; x < to.width; ++x) {
            const int sx = t.ax * x + t.bx * y + (t.right ? w - 1 : 0);
            const int sy = t.ay * x + t.by * y + (t.bottom ? h - 1 : 0);
            std::memcpy(row + 3 * x, image_row(stored, sy) + 3 * sx, 3);
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
    else {
        *problem = "not a BMP, PNG or JPEG image";
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

static bool encode_ppm(const ImageView& image, std::FILE* out)
{
    if (std::fprintf(out, "P6\n%d %d\n255\n", image.width, image.height) < 0)
        return false;
    const size_t row = 3 * static_cast<size_t>(image.width);
    for (int y = 0; y < image.height; ++y)
        if (std::fwrite(image_row(image, y), 1, row, out) != row)
            return false;
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

bool image_encode(const ImageView& image, ImageFormat format, int quality, std::FILE* out, std::string* problem,
                  const ImageMeta* meta)
{
    std::string ignored;
    if (!problem)
        problem = &ignored;
    if (!image_view_valid(image) || !image_is_rgb8(image)) {
        *problem = "not an image that can be used";
        return false;
    }
    if (format == IMAGE_JPEG && (quality < 1 || quality > 100)) {
        *problem = "JPEG quality must be from 1 to 100, not " + std::to_string(quality);
        return false;
    }
    problem->clear();
    errno = 0;
    bool ok;
    if (format == IMAGE_BMP)
        ok = encode_bmp(image, out, problem);
    else if (format == IMAGE_PNG)
        ok = encode_png(image, out, problem, meta);
    else if (format == IMAGE_JPEG)
        ok = encode_jpeg(image, quality, out, problem, meta);
    else
        ok = encode_ppm(image, out);
    // A full disk may show only when the buffered bytes go out; the stream's
    // error flag is the one place that sees every failed write.
    if (std::fflush(out) != 0 || std::ferror(out) || (!ok && problem->empty())) {
        int error = errno;
        *problem = std::string("cannot write: ") + (error ? std::strerror(error) : "write error");
        return false;
    }
    return ok;
}

std::string image_meta_lost(const ImageMeta& meta, ImageFormat format)
{
    std::vector<std::string> lost;
    const bool icc_fits = image_icc_fits(meta);
    if (!meta.icc.empty() && (!icc_fits || format == IMAGE_BMP || format == IMAGE_PPM))
        lost.push_back(icc_fits ? "ICC profile" : "ICC profile (not one for RGB data)");
    // gAMA and cHRM say nothing beside an sRGB chunk or a profile that is kept.
    const bool described = !meta.srgb.empty() || (icc_fits && format == IMAGE_JPEG);
    if (format != IMAGE_PNG && !described) {
        std::string chunks = !meta.gama.empty() && !meta.chrm.empty() ? "gAMA and cHRM chunks"
                           : !meta.gama.empty()                       ? "gAMA chunk"
                           : !meta.chrm.empty()                       ? "cHRM chunk"
                                                                      : "";
        if (!chunks.empty())
            lost.push_back(chunks);
    }
    return lost.empty() ? "" : lost.size() == 1 ? lost[0] : lost[0] + " and " + lost[1];
}

bool image_same_colour(const ImageMeta& a, const ImageMeta& b)
{
    return a.icc == b.icc && a.srgb == b.srgb && a.gama == b.gama && a.chrm == b.chrm;
}

// The same table serves extensions and --format words.
static bool format_from_word_any_case(std::string word, ImageFormat* format)
{
    for (char& c : word)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    static const struct {
        const char* word;
        ImageFormat format;
    } words[] = {{"bmp", IMAGE_BMP}, {"png", IMAGE_PNG}, {"jpeg", IMAGE_JPEG}, {"jpg", IMAGE_JPEG}, {"ppm", IMAGE_PPM}};
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
    }
    return "?";
}
