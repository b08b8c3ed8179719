#include "tools/image_io_interim.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include <sys/stat.h>

#include "raster/pixel.h"
#include "raster/surface_check.h"

SDL_Surface* image_load(const char* path, std::string* problem)
{
    std::FILE* in = std::fopen(path, "rb");
    if (!in) {
        *problem = std::string("cannot open: ") + std::strerror(errno);
        return nullptr;
    }
    struct stat info;
    if (fstat(fileno(in), &info) == 0 && S_ISDIR(info.st_mode)) {
        std::fclose(in);
        *problem = "is a directory";
        return nullptr;
    }
    SDL_Surface* image = load_bmp_rw_checked(SDL_RWFromFP(in, 1));
    if (!image)
        *problem = "not a BMP image that can be loaded";
    return image;
}

bool image_encode(SDL_Surface* image, ImageFormat format, int, std::FILE* out, std::string* problem)
{
    bool ok = true;
    if (format == IMAGE_BMP) {
        SDL_RWops* rw = SDL_RWFromFP(out, 0);
        ok = rw && SDL_SaveBMP_RW(image, rw, 1) == 0;
    } else if (format == IMAGE_PPM) {
        ok = std::fprintf(out, "P6\n%d %d\n255\n", image->w, image->h) > 0;
        std::vector<unsigned char> row(3 * static_cast<size_t>(image->w));
        for (int y = 0; ok && y < image->h; ++y) {
            for (int x = 0; x < image->w; ++x)
                get_pixel(image, x, y, &row[3 * x], &row[3 * x + 1], &row[3 * x + 2]);
            ok = std::fwrite(row.data(), 1, row.size(), out) == row.size();
        }
    } else {
        *problem = "only BMP and PPM for now";
        return false;
    }
    if (std::fflush(out) != 0 || std::ferror(out) || !ok) {
        *problem = std::string("cannot write: ") + std::strerror(errno ? errno : EIO);
        return false;
    }
    return true;
}

static bool format_from_word(std::string word, ImageFormat* format)
{
    for (char& c : word)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (word == "bmp")
        *format = IMAGE_BMP;
    else if (word == "png")
        *format = IMAGE_PNG;
    else if (word == "jpeg" || word == "jpg")
        *format = IMAGE_JPEG;
    else if (word == "ppm")
        *format = IMAGE_PPM;
    else
        return false;
    return true;
}

bool image_format_from_name(const std::string& path, ImageFormat* format)
{
    size_t dot = path.rfind('.');
    size_t slash = path.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return false;
    return format_from_word(path.substr(dot + 1), format);
}

bool image_format_from_word(const std::string& word, ImageFormat* format)
{
    return format_from_word(word, format);
}

const char* image_format_name(ImageFormat format)
{
    static const char* names[] = {"BMP", "PNG", "JPEG", "PPM"};
    return names[format];
}
