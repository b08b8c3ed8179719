#include "io/image_io.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include <sys/stat.h>

#include "raster/pixel.h"
#include "raster/surface_check.h"
#include "io/image_codecs.h"

SDL_Surface* image_decode(const unsigned char* data, size_t size, std::string* problem)
{
    std::string ignored;
    if (!problem)
        problem = &ignored;
    static const unsigned char png_signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    SDL_Surface* image;
    if (size >= 2 && data[0] == 'B' && data[1] == 'M')
        image = decode_bmp(data, size, problem);
    else if (size >= 8 && std::memcmp(data, png_signature, 8) == 0)
        image = decode_png(data, size, problem);
    else if (size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF)
        image = decode_jpeg(data, size, problem);
    else {
        *problem = "not a BMP, PNG or JPEG image";
        return nullptr;
    }
    if (image && !surface_usable(image)) {
        SDL_FreeSurface(image);
        *problem = "not an image that can be used";
        return nullptr;
    }
    return image;
}

SDL_Surface* image_load(const char* path, std::string* problem)
{
    std::string ignored;
    if (!problem)
        problem = &ignored;
    std::FILE* in = std::fopen(path, "rb");
    if (!in) {
        *problem = std::string("cannot open: ") + std::strerror(errno);
        return nullptr;
    }
    SDL_Surface* image = image_read(in, problem);
    std::fclose(in);
    return image;
}

SDL_Surface* image_read(std::FILE* in, std::string* problem)
{
    std::string ignored;
    if (!problem)
        problem = &ignored;
    struct stat info = {};
    if (fstat(fileno(in), &info) == 0 && S_ISDIR(info.st_mode)) {
        *problem = "is a directory";
        return nullptr;
    }
    // No image the decoders accept needs more than this many bytes (2^27
    // pixels of 4 bytes, with room to spare). A larger file is refused before
    // it is read, a device (/dev/zero, a terminal) at once, and a pipe once it
    // has given that much, so that no input can exhaust memory.
    const size_t max_bytes = size_t(1) << 30;
    if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode)) {
        *problem = "is a device, not an image file";
        return nullptr;
    }
    std::vector<unsigned char> bytes;
    if (S_ISREG(info.st_mode)) {
        if (static_cast<unsigned long long>(info.st_size) > max_bytes) {
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
        *problem = "file too large for an image (over 1 GiB)";
        return nullptr;
    }
    if (std::ferror(in)) {
        *problem = std::string("cannot read: ") + std::strerror(errno);
        return nullptr;
    }
    static const unsigned char nothing = 0;
    return image_decode(bytes.empty() ? &nothing : bytes.data(), bytes.size(), problem);
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

bool image_encode(SDL_Surface* image, ImageFormat format, int quality, std::FILE* out, std::string* problem)
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
            ok = encode_png(image, out, problem);
        else if (format == IMAGE_JPEG)
            ok = encode_jpeg(image, quality, out, problem);
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
