#include "app/entry.h"

#include <cstdio>

#include "app/menu.h"
#include "app/state.h"
#include "app/warp_image.h"

void on_button_down(int x, int y)
{
    if (!app.entering)
        return;
    app.segments[app.segment_count].x1 = x;
    app.segments[app.segment_count].y1 = y;
}

static void warp_all_pairs()
{
    // Release the old result first so that a large image never holds two.
    SDL_FreeSurface(app.result);
    app.result = nullptr;
    if (app.image)
        warp_image(app.image, &app.result, app.segments, app.segment_count, WarpParams());
}

bool on_button_up(int x, int y)
{
    const MenuButton button = menu_button_at(x, y);
    if (app.entering) {
        app.segments[app.segment_count].x2 = x;
        app.segments[app.segment_count].y2 = y;
        app.segment_count += 1;
        if (app.segment_count % 2 == 0) {
            warp_all_pairs();
            app.entering = false;
        }
    } else if (button == MENU_PRIDAT) {
        // Entry mode is only ever left with an even count, so a full table
        // is met here and nowhere else.
        if (app.segment_count >= SEGMENT_CAPACITY) {
            // Flushed at once: the console may be a pipe.
            std::fputs("Nelze pridat dalsi par: tabulka je plna (50 paru).\n", stdout);
            std::fflush(stdout);
        } else {
            app.entering = true;
        }
    }
    const bool quit = button == MENU_EXIT;
    if (button == MENU_RESET) {
        app.segment_count = 0;
        app.entering = true;
    }
    return quit;
}
