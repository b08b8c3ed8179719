#include "app/frame.h"

#include "app/state.h"
#include "sdl/draw.h"
#include "sdl/pixel.h"

// The whole surface onto the screen with its top-left corner at (x, y).
static void blit_at(SDL_Surface* surface, int x, int y)
{
    if (!surface || !app.screen)
        return;
    SDL_Rect dest;
    dest.x = static_cast<Sint16>(x);
    dest.y = static_cast<Sint16>(y);
    dest.w = 0;
    dest.h = 0;
    SDL_BlitSurface(surface, nullptr, app.screen, &dest);
}

void render_frame(SDL_Surface* screen)
{
    if (app.entering)
        blit_at(app.image, 0, 0);
    lock_if_needed(screen);
    for (int i = 0; i < app.segment_count; ++i) {
        const Segment& s = app.segments[i];
        draw_segment(screen, static_cast<int>(s.x1), static_cast<int>(s.y1), static_cast<int>(s.x2),
                     static_cast<int>(s.y2), 255, 255, 255, true);
    }
    unlock_if_needed(screen);
    if (!app.entering)
        blit_at(app.result, 0, 0);
    if (app.menu)
        blit_at(app.menu, WINDOW_W - app.menu->w, 0);
    SDL_Flip(screen);
}
