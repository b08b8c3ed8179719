// Frame composition onto app.screen: source image (in entry mode), the
// segments inverted under a screen lock, the result (outside entry mode), the
// menu against the right edge, then the flip. NULL surfaces are skipped. The
// screen is never cleared.
#pragma once
#include <SDL.h>

void render_frame(SDL_Surface* screen);
