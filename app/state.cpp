#include "app/state.h"

AppState app = {nullptr, nullptr, nullptr, nullptr, {}, 0, true};

void reset_app_state()
{
    SDL_FreeSurface(app.image);
    SDL_FreeSurface(app.menu);
    SDL_FreeSurface(app.result);
    app = AppState{nullptr, nullptr, nullptr, nullptr, {}, 0, true};
}
