#include "io/image_io.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include <sys/stat.h>

#include "raster/pixel.h"
#include "raster/surface_check.h"
#include "io/image_codecs.h"

// A decoded JPEG (24-bit R, G, B) turned as its Exif orientation says it is
// viewed: 2 mirrored left to right, 3 turned half round, 4 mirrored top to
// bottom, 5 mirrored about the main diagonal, 6 turned a quarter clockwise,
// 7 mirrored about the other diagonal, 8 turned a quarter anticlockwise.
// Viewed pixel (x, y) is stored pixel (sx, sy) = (ax x + bx y + cx,
// ay x + by y + cy). NULL when the new surface cannot be allocated.
static SDL_Surface* turn_as_viewed(SDL_Surface* stored, int orientation)
{
    const int w = stored->w, h = stored->h;
    const bool swap = orientation >= 5;
    static const struct {
        int ax, bx, ay, by;
        bool right, bottom;  // cx = w - 1, cy = h - 1 (else 0)
    } turns[9] = {{}, {1, 0, 0, 1, false, false}, {-1, 0, 0, 1, true, false}, {-1, 0, 0, -1, true, true},
                  {1, 0, 0, -1, false, true}, {0, 1, 1, 0, false, false}, {0, 1, -1, 0, false, true},
                  {0, -1, -1, 0, true, true}, {0, -1, 1, 0, true, false}};
    const auto& t = turns[orientation];
    SDL_Surface* viewed = create_rgb24_surface(swap ? h : w, swap ? w : h);
    if (!viewed)
        return nullptr;
    const Uint8* from = static_cast<const Uint8*>(stored->pixels);
    Uint8* to = static_cast<Uint8*>(viewed->pixels);
    for (int y = 0; y < viewed->h; ++y) {
        Uint8* row = to + row_offset(y, viewed->pitch, 3);
        for (int x = 0; x < viewed->w; ++x) {
            const int sx = t.ax * x + t.bx * y + (t.right ? w - 1 : 0);
            const int sy = t.ay * x + t.by * y + (t.bottom ? h - 1 : 0);
            std::memcpy(row + 3 * x, from + row_offset(sy, stored->pitch, 3) + 3 * sx, 3);
        }
    }
    return viewed;
}

SDL_Surface* image_decode(const unsigned char* data, size_t size, std::string* problem, ImageMeta* meta,
                          ImageOrientation orientation)
{
    std::string ignored;
    if (!problem)
        problem = &ignored;
    ImageMeta unused;
    if (!meta)
        meta = &unused;
    *meta = ImageMeta();
    static const unsigned char png_signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    SDL_Surface* image;
    if (size >= 2 && data[0] == 'B' && data[1] == 'M')
        image = decode_bmp(data, size, problem);
    else if (size >= 8 && std::memcmp(data, png_signature, 8) == 0)
        image = decode_png(data, size, problem, meta);
    else if (size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF)
        image = decode_jpeg(data, size, problem, meta);
    else {
        *problem = "not a BMP, PNG or JPEG image";
        return nullptr;
    }
    if (image && !surface_usable(image)) {
        SDL_FreeSurface(image);
        *problem = "not an image that can be used";
        image = nullptr;
    }
    if (image && orientation == IMAGE_AS_VIEWED && meta->orientation != 1) {
        SDL_Surface* viewed = turn_as_viewed(image, meta->orientation);
        if (!viewed)
            *problem = no_memory_problem(image->w, image->h);
        SDL_FreeSurface(image);
        image = viewed;
    }
    if (!image)
        *meta = ImageMeta();
    return image;
}

SDL_Surface* image_load(const char* path, std::string* problem, ImageMeta* meta, ImageOrientation orientation)
{
    std::string ignored;
    if (!problem)
        problem = &ignored;
    std::FILE* in = std::fopen(path, "rb");
    if (!in) {
        *problem = std::string("cannot open: ") + std::strerror(errno);
        return nullptr;
    }
    struct stat info = {};
    if (fstat(fileno(in), &info) == 0 && S_ISDIR(info.st_mode)) {
        std::fclose(in);
        *problem = "is a directory";
        return nullptr;
    }
    // No image the decoders accept needs more than this many bytes (2^27
    // pixels of 4 bytes, with room to spare). A larger file is refused before
    // it is read, a device (/dev/zero, a terminal) at once, and a pipe once it
    // has given that much, so that no input can exhaust memory.
    const size_t max_bytes = size_t(1) << 30;
    if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode)) {
        std::fclose(in);
        *problem = "is a device, not an image file";
        return nullptr;
    }
    std::vector<unsigned char> bytes;
    if (S_ISREG(info.st_mode)) {
        if (static_cast<unsigned long long>(info.st_size) > max_bytes) {
            std::fclose(in);
            *problem = "file too large for an image (over 1 GiB)";
            return nullptr;
        }
        bytes.reserve(static_cast<size_t>(info.st_size));
    }
    unsigned char buffer[65536];
    size_t got;
    while (bytes.size() <= max_bytes && (got = std::fread(buffer, 1, sizeof buffer, in)) > 0)
        bytes.insert(bytes.end(), buffer, buffer + got);
    if (bytes.size() > max_bytes) {
        std::fclose(in);
        *problem = "file too large for an image (over 1 GiB)";
        return nullptr;
    }
    bool failed = std::ferror(in) != 0;
    int error = errno;
    std::fclose(in);
    if (failed) {
        *problem = std::string("cannot read: ") + std::strerror(error);
        return nullptr;
    }
    static const unsigned char nothing = 0;
    return image_decode(bytes.empty() ? &nothing : bytes.data(), bytes.size(), problem, meta, orientation);
}

// Row y as it lies in memory when that is already what a PPM holds: 3-byte
// pixels of R, G and B bytes in that order (create_rgb24_surface's layout).
// NULL for any other layout.
static const unsigned char* rgb24_row(SDL_Surface* image, int y)
{
    int offsets[3];
    if (image->format->BytesPerPixel != 3 || !rgb_byte_offsets(image->format, offsets) || offsets[0] != 0
        || offsets[1] != 1 || offsets[2] != 2)
        return nullptr;
    return static_cast<const unsigned char*>(image->pixels) + row_offset(y, image->pitch, 3);
}

static bool encode_ppm(SDL_Surface* image, std::FILE* out)
{
    if (std::fprintf(out, "P6\n%d %d\n255\n", image->w, image->h) < 0)
        return false;
    std::vector<unsigned char> row(3 * static_cast<size_t>(image->w));
    for (int y = 0; y < image->h; ++y) {
        const unsigned char* rgb = rgb24_row(image, y);
        if (!rgb) {
            read_rgb_row(image, y, row.data());
            rgb = row.data();
        }
        if (std::fwrite(rgb, 1, row.size(), out) != row.size())
            return false;
    }
    return true;
}

// SDL_SaveBMP_RW converts any surface that is not 8-bit or 24-bit BGR by a
// blit of its own; the stream stays open (autoclose 0) for the flush below.
static bool encode_bmp(SDL_Surface* image, std::FILE* out, std::string* problem)
{
    SDL_ClearError();
    SDL_RWops* rw = SDL_RWFromFP(out, 0);
    if (rw && SDL_SaveBMP_RW(image, rw, 1) == 0)
        return true;
    const char* why = SDL_GetError();
    *problem = std::string("BMP encoder error") + (why && *why ? std::string(" (") + why + ")" : std::string());
    return false;
}

bool image_encode(SDL_Surface* image, ImageFormat format, int quality, std::FILE* out, std::string* problem,
                  const ImageMeta* meta)
{
    std::string ignored;
    if (!problem)
        problem = &ignored;
    if (!surface_usable(image)) {
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
    if (format == IMAGE_BMP) {
        ok = encode_bmp(image, out, problem);
    } else {
        lock_if_needed(image);
        if (format == IMAGE_PNG)
            ok = encode_png(image, out, problem, meta);
        else if (format == IMAGE_JPEG)
            ok = encode_jpeg(image, quality, out, problem, meta);
        else
            ok = encode_ppm(image, out);
        unlock_if_needed(image);
    }
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
