#include "sdl/text.h"

#include <cstring>

#include "sdl/pixel.h"

int text_width(const char* text, int scale)
{
    int n = static_cast<int>(std::strlen(text));
    return n > 0 ? (n * (GLYPH_W + 1) - 1) * scale : 0;
}

void draw_text(SDL_Surface* surface, const char* text, int x, int y, int scale, Uint8 r, Uint8 g, Uint8 b)
{
    for (; *text; ++text, x += (GLYPH_W + 1) * scale) {
        char c = *text >= 'a' && *text <= 'z' ? static_cast<char>(*text - 'a' + 'A') : *text;
        const unsigned char* rows = glyph_rows(c);
        if (!rows)
            continue;
        for (int row = 0; row < GLYPH_H; ++row)
            for (int col = 0; col < GLYPH_W; ++col)
                if (rows[row] & (0x10 >> col))
                    for (int py = y + row * scale; py < y + (row + 1) * scale; ++py)
                        for (int px = x + col * scale; px < x + (col + 1) * scale; ++px)
                            if (point_in_rect(surface->clip_rect, px, py))
                                put_pixel(surface, px, py, r, g, b);
    }
}
