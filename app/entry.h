// Segment entry and the menu commands, driven by mouse presses and releases
// in window coordinates. The menu strip lies right of x = 700: PRIDAT at
// y < 75, RESET at 75 < y < 150, EXIT at 150 < y < 225. Every mouse button
// counts alike. A completed pair warps the source by every pair so far.
#pragma once

enum { MENU_X = 700, PRIDAT_END = 75, RESET_END = 150, EXIT_END = 225 };

void on_button_down(int x, int y);
// True when the release asks to quit (EXIT).
bool on_button_up(int x, int y);
