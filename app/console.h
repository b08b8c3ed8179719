// The console dialogue: banner and help, the image prompt, the two loads.
// Everything goes to standard output, byte for byte as the user sees it.
#pragma once
#include <cstdio>

enum { NAME_SIZE = 200 };

void print_banner();

// Reads one whitespace-delimited token of at most NAME_SIZE - 1 characters
// into name. False on end of input or a longer token; name is never overrun.
bool read_image_name(std::FILE* in, char name[NAME_SIZE]);

// Fills app.menu from "menu.bmp" in the current directory, else in the
// executable's folder, else in ../share/tavrosk/ from there; and app.image
// from the name read at the prompt. Each handle that stays NULL prints
// "error loading BMP\n" once.
void load_images();
