#include "app/console.h"

#include <cctype>

#include "app/state.h"
#include "raster/surface_check.h"

void print_banner()
{
    static const char* const texts[] = {
        "*******************************************************\n\n",
        "Tavrosk v1.0\n Orvantis\n----------------------\n",
        "Program nacita pouze *.bmp\nSoubor menu.bmp musi byt ve stejnem adresari jako *.exe\n",
        "Ovladani:\nHned se zobrazi obrazek a program ceka na zadani prvniho\n",
        "paru usecek. Usecky se zadavaji tak, ze se stiskne mys (1. bod usecky)\n",
        "a tahne se mysi (pri stale stisklem levem tlacitku) na misto konce \n",
        "usecky. Uvolnenim tlacitka se ulozi 2. bod usecky\n",
        "Hned za sebou je treba zadat vzdy 2 usecky\n",
        "Dalsi par pridame pomoci butonu PRIDAT.\n",
        "Buton RESET vymaze zadane usecky a program rovnou ceka na zadani novych\n",
        "Buton EXIT ukonci program :-)\n",
        "Doufam, ze je ten algoritmus spravne....\n\n",
        "orvantis@example.com\n",
        "*******************************************************\n",
    };
    for (const char* text : texts)
        std::fputs(text, stdout);
}

bool read_image_name(std::FILE* in, char name[NAME_SIZE])
{
    name[0] = '\0';
    if (std::fscanf(in, "%199s", name) != 1)
        return false;
    // A token that goes on past 199 characters is refused rather than cut.
    int next = std::fgetc(in);
    if (next == EOF)
        return true;
    if (!std::isspace(next)) {
        name[0] = '\0';
        return false;
    }
    return true;
}

static SDL_Surface* load_or_report(const char* path)
{
    SDL_Surface* surface = path ? load_bmp_checked(path) : nullptr;
    if (!surface)
        std::fputs("error loading BMP\n", stdout);
    return surface;
}

void load_images()
{
    app.menu = load_or_report("menu.bmp");
    std::fputs("Zadej jmeno souboru BMP (vcetne pripony): ", stdout);
    std::fflush(stdout);
    char name[NAME_SIZE];
    bool have_name = read_image_name(stdin, name);
    app.image = load_or_report(have_name ? name : nullptr);
}
