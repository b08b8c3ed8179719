// Writes the program's artwork: make_assets MENU.bmp SAMPLE.bmp
// The menu is a strip of three buttons in the rows app/menu.h gives them,
// with separator lines on the rows between; the sample is a 640 x 480
// 24-bit picture on which a warp is easy to see: gradient, grid, discs, text.
#include <SDL.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/menu.h"
#include "raster/pixel.h"
#include "tools/font.h"

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

static int text_width(const char* text, int scale)
{
    int n = static_cast<int>(std::strlen(text));
    return n > 0 ? (n * (GLYPH_W + 1) - 1) * scale : 0;
}

static void draw_text(SDL_Surface* s, const char* text, int x, int y, int scale, Uint8 r, Uint8 g, Uint8 b)
{
    for (; *text; ++text, x += (GLYPH_W + 1) * scale) {
        const unsigned char* rows = glyph_rows(*text);
        if (!rows)
            continue;
        for (int row = 0; row < GLYPH_H; ++row)
            for (int col = 0; col < GLYPH_W; ++col)
                if (rows[row] & (0x10 >> col))
                    fill_rect(s, x + col * scale, y + row * scale, x + (col + 1) * scale,
                              y + (row + 1) * scale, r, g, b);
    }
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

static SDL_Surface* make_sample()
{
    const int w = 640, h = 480;
    SDL_Surface* s = new_surface(w, h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            Uint8 r = static_cast<Uint8>(60 + 180 * x / (w - 1));
            Uint8 g = static_cast<Uint8>(60 + 150 * y / (h - 1));
            Uint8 b = static_cast<Uint8>(200 - 120 * (x + y) / (w + h - 2));
            // A 40-pixel grid shows every bend of the warp.
            if (x % 40 == 0 || y % 40 == 0 || x % 40 == 39 || y % 40 == 39)
                r = g = b = 255;
            put_pixel(s, x, y, r, g, b);
        }
    }
    struct Disc {
        int cx, cy, radius;
        Uint8 r, g, b;
    };
    const Disc discs[] = {
        {160, 140, 70, 220, 40, 40},
        {470, 150, 55, 250, 210, 30},
        {330, 330, 90, 30, 60, 200},
    };
    for (const Disc& d : discs)
        for (int y = d.cy - d.radius; y <= d.cy + d.radius; ++y)
            for (int x = d.cx - d.radius; x <= d.cx + d.radius; ++x) {
                int ddx = x - d.cx, ddy = y - d.cy;
                int rr = ddx * ddx + ddy * ddy;
                if (rr <= d.radius * d.radius && x >= 0 && y >= 0 && x < w && y < h) {
                    bool ring = rr >= (d.radius - 6) * (d.radius - 6);
                    put_pixel(s, x, y, ring ? 0 : d.r, ring ? 0 : d.g, ring ? 0 : d.b);
                }
            }
    fill_rect(s, 60, 380, 200, 450, 20, 160, 70);
    draw_text(s, "TAVROSK", 348, 52, 6, 0, 0, 0);
    draw_text(s, "TAVROSK", 345, 49, 6, 255, 255, 255);
    return s;
}

int main(int argc, char* argv[])
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_assets MENU.bmp SAMPLE.bmp\n");
        return 2;
    }
    SDL_Surface* menu = make_menu();
    SDL_Surface* sample = make_sample();
    if (!menu || !sample || SDL_SaveBMP(menu, argv[1]) != 0 || SDL_SaveBMP(sample, argv[2]) != 0) {
        std::fprintf(stderr, "make_assets: cannot write the images: %s\n", SDL_GetError());
        return 1;
    }
    SDL_FreeSurface(menu);
    SDL_FreeSurface(sample);
    return 0;
}
