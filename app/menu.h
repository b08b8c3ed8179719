// The menu strip's geometry in window pixels (x right, y down), written once
// for the handlers, the artwork generator and the tests. The strip is the
// columns right of x = MENU_X; a release there is on PRIDAT at y < PRIDAT_END,
// on RESET at PRIDAT_END < y < RESET_END and on EXIT at RESET_END < y <
// EXIT_END. Rows PRIDAT_END and RESET_END, and rows from EXIT_END down,
// belong to no button: the artwork draws its separators on the first two.
#pragma once

enum { MENU_X = 700, MENU_W = 100, PRIDAT_END = 75, RESET_END = 150, EXIT_END = 225 };

enum MenuButton { MENU_NONE, MENU_PRIDAT, MENU_RESET, MENU_EXIT };

inline MenuButton menu_button_at(int x, int y)
{
    if (x <= MENU_X)
        return MENU_NONE;
    if (y < PRIDAT_END)
        return MENU_PRIDAT;
    if (y > PRIDAT_END && y < RESET_END)
        return MENU_RESET;
    if (y > RESET_END && y < EXIT_END)
        return MENU_EXIT;
    return MENU_NONE;
}
