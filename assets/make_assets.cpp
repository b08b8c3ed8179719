// Writes the program's artwork: make_assets MENU.bmp SAMPLE.bmp [SAMPLE2.bmp]
// The menu is a strip of three buttons in the rows app/menu.h gives them,
// with separator lines on the rows between; the sample is a 640 x 480
// 24-bit picture on which a warp is easy to see: gradient, grid, discs, text.
// The second sample is a deformed, recoloured variant of the first, the
// other end of a morph.
#include <SDL.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/menu.h"
#include "sdl/pixel.h"
#include "sdl/text.h"

static SDL_Surface* new_surface(int w, int h)
{
    // 24-bit, blue in the lowest byte, as BMP stores it.
    return SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, 24, 0xFF0000, 0x00FF00, 0x0000FF, 0);
}

static void fill_rect(SDL_Surface* s, int x0, int y0, int x1, int y1, Uint8 r, Uint8 g, Uint8 b)
{
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            if (x >= 0 && y >= 0 && x < s->w && y < s->h)
                put_pixel(s, x, y, r, g, b);
}

static SDL_Surface* make_menu()
{
    SDL_Surface* s = new_surface(MENU_W, EXIT_END);
    struct Button {
        const char* label;
        int top, bottom;
        Uint8 r, g, b;
    };
    // Each face fills its button's rows; the rows between them stay for the
    // separator lines.
    const Button buttons[] = {
        {"PRIDAT", 0, PRIDAT_END, 40, 110, 60},
        {"RESET", PRIDAT_END + 1, RESET_END, 60, 80, 140},
        {"EXIT", RESET_END + 1, EXIT_END, 140, 50, 50},
    };
    fill_rect(s, 0, 0, MENU_W, EXIT_END, 20, 20, 20);
    for (const Button& bt : buttons) {
        // A lighter bevel frames each face so the three read as buttons.
        fill_rect(s, 0, bt.top, MENU_W, bt.bottom, 230, 230, 230);
        fill_rect(s, 3, bt.top + 3, MENU_W - 3, bt.bottom - 3, bt.r, bt.g, bt.b);
        int scale = 2;
        int w = text_width(bt.label, scale);
        int h = GLYPH_H * scale;
        int x = (MENU_W - w) / 2;
        int y = bt.top + (bt.bottom - bt.top - h) / 2;
        draw_text(s, bt.label, x + 1, y + 1, scale, 0, 0, 0);
        draw_text(s, bt.label, x, y, scale, 255, 255, 255);
    }
    fill_rect(s, 0, PRIDAT_END, MENU_W, PRIDAT_END + 1, 0, 0, 0);
    fill_rect(s, 0, RESET_END, MENU_W, RESET_END + 1, 0, 0, 0);
    return s;
}

// Where the sample's elements lie and how they look. The second sample
// (for morphing) is the first with its grid turned and zoomed about the
// centre, the discs, block and word moved and resized, and some colours
// changed, so that both the shapes' paths and the dissolve show.
struct Disc {
    int cx, cy, radius;
    Uint8 r, g, b;
};

struct SampleLayout {
    double grid_angle, grid_zoom;  // of the 40-pixel grid about the centre
    Disc discs[3];
    int block_x0, block_y0, block_x1, block_y1;  // before turning by block_angle
    double block_angle;                         // about the block's centre
    Uint8 block_r, block_g, block_b;
    int word_x, word_y, word_scale;
    Uint8 word_r, word_g, word_b;
};

static const SampleLayout first_sample = {
    0.0, 1.0,
    {{160, 140, 70, 220, 40, 40}, {470, 150, 55, 250, 210, 30}, {330, 330, 90, 30, 60, 200}},
    60, 380, 200, 450, 0.0, 20, 160, 70,
    345, 49, 6, 255, 255, 255,
};

static const SampleLayout second_sample = {
    5.0, 1.1,
    {{185, 155, 80, 200, 40, 160}, {455, 175, 48, 40, 200, 220}, {320, 315, 95, 30, 60, 200}},
    60, 385, 220, 445, -8.0, 230, 120, 30,
    330, 36, 7, 255, 235, 110,
};

// Where (x, y) lies in the frame of a figure turned by `degrees` and zoomed
// by `zoom` about (cx, cy): testing that point against the upright figure
// draws the turned one. With angle 0 and zoom 1 the point is (x, y) exactly,
// so the first sample's straight grid and block come out pixel for pixel as
// plain loops would draw them.
static void unturn(double x, double y, double cx, double cy, double degrees, double zoom, double* u, double* v)
{
    double t = degrees * 3.14159265358979323846 / 180.0;
    double c = std::cos(t), s = std::sin(t);
    double dx = x - cx, dy = y - cy;
    *u = cx + (c * dx + s * dy) / zoom;
    *v = cy + (-s * dx + c * dy) / zoom;
}

static bool on_grid_line(double u)
{
    int m = static_cast<int>(std::floor(u)) % 40;
    if (m < 0)
        m += 40;
    return m == 0 || m == 39;
}

static SDL_Surface* make_sample(const SampleLayout& layout)
{
    const int w = 640, h = 480;
    SDL_Surface* s = new_surface(w, h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            Uint8 r = static_cast<Uint8>(60 + 180 * x / (w - 1));
            Uint8 g = static_cast<Uint8>(60 + 150 * y / (h - 1));
            Uint8 b = static_cast<Uint8>(200 - 120 * (x + y) / (w + h - 2));
            // A 40-pixel grid shows every bend of the warp.
            double u, v;
            unturn(x, y, w / 2, h / 2, layout.grid_angle, layout.grid_zoom, &u, &v);
            if (on_grid_line(u) || on_grid_line(v))
                r = g = b = 255;
            put_pixel(s, x, y, r, g, b);
        }
    }
    for (const Disc& d : layout.discs)
        for (int y = d.cy - d.radius; y <= d.cy + d.radius; ++y)
            for (int x = d.cx - d.radius; x <= d.cx + d.radius; ++x) {
                int ddx = x - d.cx, ddy = y - d.cy;
                int rr = ddx * ddx + ddy * ddy;
                if (rr <= d.radius * d.radius && x >= 0 && y >= 0 && x < w && y < h) {
                    bool ring = rr >= (d.radius - 6) * (d.radius - 6);
                    put_pixel(s, x, y, ring ? 0 : d.r, ring ? 0 : d.g, ring ? 0 : d.b);
                }
            }
    // The block: every pixel that, turned back about the block's centre,
    // falls inside its upright rectangle.
    double bcx = (layout.block_x0 + layout.block_x1) / 2.0, bcy = (layout.block_y0 + layout.block_y1) / 2.0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            double u, v;
            unturn(x, y, bcx, bcy, layout.block_angle, 1.0, &u, &v);
            if (u >= layout.block_x0 && u < layout.block_x1 && v >= layout.block_y0 && v < layout.block_y1)
                put_pixel(s, x, y, layout.block_r, layout.block_g, layout.block_b);
        }
    int shadow = layout.word_scale / 2;
    draw_text(s, "TAVROSK", layout.word_x + shadow, layout.word_y + shadow, layout.word_scale, 0, 0, 0);
    draw_text(s, "TAVROSK", layout.word_x, layout.word_y, layout.word_scale, layout.word_r, layout.word_g,
              layout.word_b);
    return s;
}

static bool save(SDL_Surface* image, const char* path)
{
    bool ok = image && SDL_SaveBMP(image, path) == 0;
    if (!ok)
        std::fprintf(stderr, "make_assets: cannot write %s: %s\n", path, SDL_GetError());
    SDL_FreeSurface(image);
    return ok;
}

int main(int argc, char* argv[])
{
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: make_assets MENU.bmp SAMPLE.bmp [SAMPLE2.bmp]\n");
        return 2;
    }
    bool ok = save(make_menu(), argv[1]) && save(make_sample(first_sample), argv[2])
              && (argc == 3 || save(make_sample(second_sample), argv[3]));
    return ok ? 0 : 1;
}
