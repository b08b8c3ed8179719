#include "tests/support/test_support.h"

#include <dirent.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "raster/pixel.h"

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
