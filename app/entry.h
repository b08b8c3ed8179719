// Segment entry and the menu commands, driven by mouse presses and releases
// in window coordinates; the buttons lie where app/menu.h says. Every mouse
// button counts alike. A completed pair warps the source by every pair so far.
#pragma once

void on_button_down(int x, int y);
// True when the release asks to quit (EXIT).
bool on_button_up(int x, int y);
