// Reference frames for the end-to-end tests, built from the image files with
// SDL's own loader:
//   frame_ref depth IMAGE.bmp            prints "W H BITS" of the loaded surface
//   frame_ref overlay IMAGE.bmp SEGS OUT  writes OUT (24-bit BMP): the image
//                                         with the segments of SEGS (one
//                                         "x1 y1 x2 y2" a line) drawn inverted,
//                                         as the window shows it in entry mode
#include <SDL.h>

#include <cstdio>
#include <cstring>

#include "sdl/draw.h"

int main(int argc, char* argv[])
{
    if (argc < 3)
        return 2;
    SDL_Surface* image = SDL_LoadBMP(argv[2]);
    if (!image) {
        std::fprintf(stderr, "frame_ref: cannot load %s: %s\n", argv[2], SDL_GetError());
        return 1;
    }
    if (std::strcmp(argv[1], "depth") == 0) {
        std::printf("%d %d %d\n", image->w, image->h, image->format->BitsPerPixel);
        SDL_FreeSurface(image);
        return 0;
    }
    if (std::strcmp(argv[1], "overlay") != 0 || argc != 5)
        return 2;
    SDL_Surface* frame =
        SDL_CreateRGBSurface(SDL_SWSURFACE, image->w, image->h, 24, 0xFF0000, 0x00FF00, 0x0000FF, 0);
    std::FILE* segs = std::fopen(argv[3], "r");
    if (!frame || !segs || SDL_BlitSurface(image, nullptr, frame, nullptr) < 0) {
        std::fprintf(stderr, "frame_ref: cannot set up the frame\n");
        return 1;
    }
    // Whole mouse positions, truncated as the frame does before drawing.
    double x1, y1, x2, y2;
    while (std::fscanf(segs, "%lf %lf %lf %lf", &x1, &y1, &x2, &y2) == 4)
        draw_segment(frame, int(x1), int(y1), int(x2), int(y2), 255, 255, 255, true);
    std::fclose(segs);
    int saved = SDL_SaveBMP(frame, argv[4]);
    // Freed so that the sanitizer build's leak check stays quiet.
    SDL_FreeSurface(frame);
    SDL_FreeSurface(image);
    if (saved < 0) {
        std::fprintf(stderr, "frame_ref: cannot write %s\n", argv[4]);
        return 1;
    }
    return 0;
}
