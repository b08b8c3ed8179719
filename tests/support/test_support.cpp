#include "tests/support/test_support.h"

#include "raster/kinds.h"

#include <dirent.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>

#include "raster/kinds.h"
#include "sdl/pixel.h"
#include "sdl/surface_image.h"

SDL_Surface* make_surface(int w, int h, int depth)
{
    SDL_Surface* s = nullptr;
    switch (depth) {
    case 8:
        s = SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, 8, 0, 0, 0, 0);
        if (s) {
            SDL_Color colors[256];
            for (int i = 0; i < 256; ++i) {
                colors[i].r = static_cast<Uint8>(i);
                colors[i].g = static_cast<Uint8>(255 - i);
                colors[i].b = static_cast<Uint8>((i * 37) & 0xFF);
                colors[i].unused = 0;
            }
            SDL_SetColors(s, colors, 0, 256);
        }
        break;
    case 15:
        s = SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, 15, 0x7C00, 0x03E0, 0x001F, 0);
        break;
    case 16:
        s = SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, 16, 0xF800, 0x07E0, 0x001F, 0);
        break;
    case 24:
        s = SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, 24, 0xFF0000, 0x00FF00, 0x0000FF, 0);
        break;
    case 32:
        s = SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, 32, 0xFF0000, 0x00FF00, 0x0000FF, 0);
        break;
    }
    return s;
}

void fill_random(SDL_Surface* surface, uint32_t seed)
{
    std::mt19937 rng(seed);
    for (int y = 0; y < surface->h; ++y)
        for (int x = 0; x < surface->w; ++x) {
            uint32_t v = rng();
            put_pixel(surface, x, y, v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF);
        }
}

void fill_random(const ImageView& image, uint32_t seed)
{
    std::mt19937 rng(seed);
    const int samples = image.width * image_pixel_bytes(image);
    for (int y = 0; y < image.height; ++y)
        for (int i = 0; i < samples; ++i)
            image_row(image, y)[i] = static_cast<unsigned char>(rng());
}

void fill_random_samples(const ImageView& image, uint32_t seed)
{
    fill_random(image, seed);
    std::mt19937 rng(~seed);
    static const double special[] = {0.0, -0.0, 1.0, 0.5};
    const bool alpha = image_has_alpha(image), signed_zeros = image.type == SAMPLE_F32 && rng() % 3 == 0;
    const int n = image.channels, bytes = image_pixel_bytes(image);
    double first_alpha = 0;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            unsigned char* pixel = image_row(image, y) + x * bytes;
            for (int c = 0; c < n; ++c) {
                double v = pixel_sample(pixel, image.type, c);
                if (image.type == SAMPLE_F32)
                    v = rng() % 3 == 0 ? special[rng() % 4] : std::uniform_real_distribution<double>(-2, 2)(rng);
                if (alpha && c == n - 1) {
                    if (x == 0 && y == 0)
                        first_alpha = v;
                    if (rng() % 4)
                        v = signed_zeros ? ((x + y) % 2 ? 0.0 : -0.0) : first_alpha;
                }
                set_pixel_sample(pixel, image.type, c, v);
            }
        }
}

std::string compare_rgb(SDL_Surface* a, SDL_Surface* b, int max_reports)
{
    char line[160];
    if (a->w != b->w || a->h != b->h) {
        std::snprintf(line, sizeof line, "size %dx%d vs %dx%d", a->w, a->h, b->w, b->h);
        return line;
    }
    std::string report;
    long differing = 0;
    for (int y = 0; y < a->h; ++y)
        for (int x = 0; x < a->w; ++x) {
            Uint8 ar, ag, ab, br, bg, bb;
            get_pixel(a, x, y, &ar, &ag, &ab);
            get_pixel(b, x, y, &br, &bg, &bb);
            if (ar == br && ag == bg && ab == bb)
                continue;
            if (differing++ < max_reports) {
                std::snprintf(line, sizeof line, "(%d, %d): %d %d %d vs %d %d %d\n", x, y, ar, ag, ab, br,
                              bg, bb);
                report += line;
            }
        }
    if (differing > 0)
        report += std::to_string(differing) + " pixels differ\n";
    return report;
}

std::string compare_rgb(const ImageView& a, const ImageView& b, int max_reports)
{
    SurfacePtr sa(surface_from_rgb8(a)), sb(surface_from_rgb8(b));
    return compare_rgb(sa.get(), sb.get(), max_reports);
}

std::string compare_rgb(SDL_Surface* a, const ImageView& b, int max_reports)
{
    SurfacePtr sb(surface_from_rgb8(b));
    return compare_rgb(a, sb.get(), max_reports);
}

ImageBuffer rgb8_of(SDL_Surface* surface)
{
    ImageBuffer image;
    EXPECT_TRUE(surface_to_rgb8(surface, &image));
    return image;
}

WarpStatus warp_surfaces(SDL_Surface* src, SDL_Surface* dst, const Segment* segments, int n, const WarpParams& params,
                         const WarpOptions& options, WarpReport* report)
{
    ImageBuffer source, result;
    if (src)
        source = rgb8_of(src);
    if (dst && image_buffer_make(&result, dst->w, dst->h, 3, SAMPLE_U8))
        fill_random(result.view, 4242);
    const WarpStatus status = warp_run(source.view, result.view, segments, n, params, options, report);
    if (status == WARP_OK)
        rgb8_to_surface(result.view, dst);
    return status;
}

WarpParams params_of(double p, double a, double b)
{
    WarpParams params;
    params.p = p;
    params.a = a;
    params.b = b;
    return params;
}

// A decoded image of any kind as 8-bit R, G, B: grey widened, alpha
// dropped, deeper samples rounded to 8 bits.
static SurfacePtr surface_of(const ImageView& image)
{
    ImageBuffer rgb;
    if (!image_is_rgb8(image) && !image_convert(image, {3, SAMPLE_U8}, &rgb))
        return nullptr;
    return SurfacePtr(surface_from_rgb8(rgb.data ? rgb.view : image));
}

SurfacePtr load_surface(const char* path, std::string* problem, ImageMeta* meta, ImageOrientation orientation)
{
    ImageBuffer image;
    std::string ignored;
    if (!image_load(path, &image, problem ? problem : &ignored, meta, orientation))
        return nullptr;
    return surface_of(image.view);
}

SurfacePtr decode_surface(const unsigned char* data, size_t size, std::string* problem, ImageMeta* meta,
                          ImageOrientation orientation)
{
    ImageBuffer image;
    std::string ignored;
    if (!image_decode(data, size, &image, problem ? problem : &ignored, meta, orientation))
        return nullptr;
    return surface_of(image.view);
}

bool encode_surface(SDL_Surface* image, ImageFormat format, int quality, std::FILE* out, std::string* problem,
                    const ImageMeta* meta)
{
    ImageBuffer rgb;
    if (image && !surface_to_rgb8(image, &rgb))
        return false;
    return image_encode(rgb.view, format, quality, out, problem, meta);
}

bool save_image(const std::string& path, const ImageView& image, ImageFormat format, std::string* problem)
{
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) {
        *problem = path + ": cannot open";
        return false;
    }
    const bool ok = image_encode(image, format, 90, out, problem);
    return std::fclose(out) == 0 && ok;
}

SurfacePtr fold_map_surface(SDL_Surface* result, const uint8_t* flags, const Segment* segments, int n)
{
    if (!result)
        return nullptr;
    ImageBuffer map;
    EXPECT_TRUE(fold_map(rgb8_of(result).view, flags, segments, n, &map));
    return SurfacePtr(surface_from_rgb8(map.view));
}

bool imagemagick_installed()
{
    return std::system("convert -version >/dev/null 2>&1") == 0;
}

bool imagemagick_rgba16(const std::string& path, int w, int h, std::vector<uint16_t>* rgba)
{
    const std::string command = "convert '" + path + "' -set colorspace sRGB -depth 16 -endian LSB rgba:- 2>/dev/null";
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return false;
    std::vector<unsigned char> bytes(static_cast<size_t>(w) * h * 8 + 1);
    const size_t got = std::fread(bytes.data(), 1, bytes.size(), pipe);
    const bool ok = pclose(pipe) == 0 && got + 1 == bytes.size();
    rgba->clear();
    for (size_t i = 0; ok && i + 1 < got; i += 2)
        rgba->push_back(static_cast<uint16_t>(bytes[i] | bytes[i + 1] << 8));
    return ok;
}

bool running_under_ci()
{
    const char* ci = std::getenv("CI");
    return ci && std::strcmp(ci, "true") == 0;
}

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void write_file(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

std::vector<std::string> folder_entries(const std::string& folder)
{
    std::vector<std::string> names;
    if (DIR* d = opendir(folder.c_str())) {
        while (dirent* e = readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

void ScratchDirTest::SetUp()
{
    char name[] = "/tmp/tavrosk-test-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    dir = name;
}

void ScratchDirTest::TearDown()
{
    namespace fs = std::filesystem;
    if (dir.empty())
        return;
    // A test may leave folders it made read-only; open them up first.
    std::error_code ignored;
    fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, ignored);
    for (auto it = fs::recursive_directory_iterator(dir, ignored); it != fs::recursive_directory_iterator();
         it.increment(ignored))
        if (it->is_directory(ignored) && !it->is_symlink(ignored))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(dir, ignored);
}

double sample_coordinate(std::mt19937& rng, int size)
{
    switch (rng() % 12) {
    case 0: return static_cast<double>(rng() % (size + 1));
    case 1: return size;
    case 2: return size - 0.25;
    case 3: return std::uniform_real_distribution<double>(0, 1)(rng);
    case 4: return rng() % 2 ? -1e-300 : -0.0;
    case 5: return (rng() % 2 ? 1 : -1) * 1e300;
    case 6: return rng() % 2 ? std::numeric_limits<double>::quiet_NaN() : std::numeric_limits<double>::infinity();
    default: return std::uniform_real_distribution<double>(-1.5, size + 1.5)(rng);
    }
}

uint32_t test_seed(uint32_t fallback)
{
    const char* text = std::getenv("TAVROSK_SEED");
    return text ? static_cast<uint32_t>(std::strtoul(text, nullptr, 10)) : fallback;
}

// Whole numbers put segments through pixel centres and pixels at u = 0 and
// u = 1 exactly along axis-aligned segments.
static double random_coordinate(std::mt19937& rng, int size)
{
    std::uniform_int_distribution<int> whole(-size / 2 - 2, size + size / 2 + 2);
    switch (rng() % 4) {
    case 0:
    case 1: return whole(rng);
    case 2: return whole(rng) + 0.5;
    default: return std::uniform_real_distribution<double>(-size, 2.0 * size)(rng);
    }
}

static Segment random_segment(std::mt19937& rng, int w, int h)
{
    Segment s;
    s.x1 = random_coordinate(rng, w);
    s.y1 = random_coordinate(rng, h);
    switch (rng() % 6) {
    case 0:  // horizontal
        s.x2 = random_coordinate(rng, w);
        s.y2 = s.y1;
        break;
    case 1:  // vertical
        s.x2 = s.x1;
        s.y2 = random_coordinate(rng, h);
        break;
    case 2:  // degenerate: its pair is left out
        s.x2 = s.x1;
        s.y2 = s.y1;
        break;
    default:
        s.x2 = random_coordinate(rng, w);
        s.y2 = random_coordinate(rng, h);
    }
    return s;
}

WarpCase make_warp_case(uint32_t seed, int w, int h)
{
    std::mt19937 rng(seed);
    static const int depths[] = {8, 15, 16, 24, 32};
    static const double ps[] = {0.5, 0.0, 1.0, 2.0, 0.25};
    static const double as[] = {1.0, 0.001, 0.5, 3.0};
    static const double bs[] = {1.0, 1.0, 0.0, 2.0, 0.5, 1.7};
    WarpCase c;
    // Widths 1 to 19 leave every tail length for up to 8 lanes.
    c.w = 1 + static_cast<int>(rng() % 19);
    c.h = 1 + static_cast<int>(rng() % 9);
    if (w > 0 && h > 0) {
        c.w = w;
        c.h = h;
    }
    c.depth = depths[rng() % 5];
    int pairs = 1 + static_cast<int>(rng() % 50);
    for (int k = 0; k < 2 * pairs; ++k)
        c.table.push_back(random_segment(rng, c.w, c.h));
    // An odd count: the unpaired last segment is ignored.
    if (rng() % 8 == 0)
        c.table.push_back(random_segment(rng, c.w, c.h));
    c.params.p = ps[rng() % 5];
    c.params.a = as[rng() % 4];
    c.params.b = bs[rng() % 6];
    if (rng() % 4 == 0) {
        c.params.p = std::uniform_real_distribution<double>(0, 2)(rng);
        c.params.a = std::uniform_real_distribution<double>(0.01, 4)(rng);
        c.params.b = std::uniform_real_distribution<double>(0, 2.5)(rng);
    }
    return c;
}

std::string describe_warp_case(uint32_t seed, const WarpCase& c)
{
    char line[200];
    std::snprintf(line, sizeof line, "seed %u (TAVROSK_SEED=%u): %dx%d depth %d, %zu segments, p %g a %g b %g\n",
                  seed, seed, c.w, c.h, c.depth, c.table.size(), c.params.p, c.params.a, c.params.b);
    return line;
}
