// Tavrosk: warp a BMP image by pairs of line segments drawn with the mouse.
#include <SDL.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>

#include "app/console.h"
#include "app/entry.h"
#include "app/frame.h"
#include "app/state.h"

// SDL's own SIGINT/SIGTERM handler pushes a quit event, which takes the
// event queue's lock: a signal that lands while the loop is inside
// SDL_PollEvent, holding that lock, deadlocks the program. This handler only
// sets a flag, and the loop ends on it as on the quit event.
static volatile sig_atomic_t quit_signalled = 0;

static void on_quit_signal(int)
{
    quit_signalled = 1;
}

static void take_quit_signals()
{
    struct sigaction action = {};
    action.sa_handler = on_quit_signal;
    sigemptyset(&action.sa_mask);
    // The console prompt keeps waiting, as it does under SDL's handler.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

static void run_main_loop()
{
    bool done = false;
    SDL_Event event;
    while (!done) {
        if (quit_signalled)
            done = true;
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
    take_quit_signals();

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
