// The one process-wide application state. Surface handles are NULL until
// loaded (a failed load leaves them NULL, and every user skips a NULL one);
// `screen` belongs to SDL, `image` and `menu` live until exit, `result` is
// replaced (and the old one freed) by every warp.
#pragma once
#include <SDL.h>

#include "warp/segment.h"

enum { SEGMENT_CAPACITY = 100, WINDOW_W = 800, WINDOW_H = 600 };

struct AppState {
    SDL_Surface* screen;
    SDL_Surface* image;
    SDL_Surface* menu;
    SDL_Surface* result;
    Segment segments[SEGMENT_CAPACITY];
    int segment_count;
    bool entering;
};

extern AppState app;

// Back to the start-up state; frees image, menu and result (tests use it).
void reset_app_state();
