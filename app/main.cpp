// Tavrosk: warp a BMP image by pairs of line segments drawn with the mouse.
#include <SDL.h>

#include <cstdio>
#include <cstdlib>

#include "app/console.h"
#include "app/entry.h"
#include "app/frame.h"
#include "app/state.h"

static void run_main_loop()
{
    bool done = false;
    SDL_Event event;
    while (!done) {
        // Drain the whole queue even after a quit request, then draw once more.
        while (SDL_PollEvent(&event)) {
            if (event.type == SDL_QUIT)
                done = true;
            if (event.type == SDL_KEYDOWN && event.key.keysym.sym == SDLK_ESCAPE)
                done = true;
            if (event.type == SDL_MOUSEBUTTONDOWN)
                on_button_down(event.button.x, event.button.y);
            if (event.type == SDL_MOUSEBUTTONUP && on_button_up(event.button.x, event.button.y))
                done = true;
        }
        render_frame(app.screen);
    }
}

int main(int argc, char* argv[])
{
    (void)argc;
    (void)argv;
    if (SDL_Init(SDL_INIT_VIDEO) < 0) {
        std::printf("Unable to init SDL: %s\n", SDL_GetError());
        return 1;
    }
    std::printf("SDL initialized.\n");
    std::atexit(SDL_Quit);

    print_banner();
    load_images();

    app.screen = SDL_SetVideoMode(WINDOW_W, WINDOW_H, 32, SDL_HWSURFACE | SDL_DOUBLEBUF);
    if (!app.screen) {
        std::printf("Unable to set video: %s\n", SDL_GetError());
        return 1;
    }
    std::printf("Set at %d bits-per-pixel mode\n", app.screen->format->BitsPerPixel);
    std::printf("Press Esc to quit\n");
    std::fflush(stdout);

    run_main_loop();
    return 0;
}
