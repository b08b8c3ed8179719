#include "app/console.h"

#include <unistd.h>

#include <cctype>
#include <climits>
#include <string>

#include "app/state.h"
#include "io/surface_check.h"

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

// The folder of the running executable, or "" when /proc cannot tell it.
static std::string executable_folder()
{
    char path[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path);
    // A full buffer may hold a cut-off path: better no folder than a wrong one.
    if (length <= 0 || static_cast<size_t>(length) >= sizeof path)
        return "";
    std::string folder(path, static_cast<size_t>(length));
    size_t slash = folder.rfind('/');
    return slash == std::string::npos ? "" : folder.substr(0, slash + 1);
}

// menu.bmp from the current directory, as ever; failing that (missing or
// unusable), beside the executable, then in the installed data folder, so
// that a program started from anywhere still has its buttons. Any working
// copy will do, since the menu is artwork for fixed button rows: a stray or
// damaged menu.bmp in the user's folder should not cost them the menu.
static SDL_Surface* load_menu()
{
    if (SDL_Surface* menu = load_bmp_checked("menu.bmp"))
        return menu;
    std::string folder = executable_folder();
    if (!folder.empty()) {
        for (const char* place : {"menu.bmp", "../share/tavrosk/menu.bmp"})
            if (SDL_Surface* menu = load_bmp_checked((folder + place).c_str()))
                return menu;
    }
    std::fputs("error loading BMP\n", stdout);
    return nullptr;
}

void load_images()
{
    app.menu = load_menu();
    std::fputs("Zadej jmeno souboru BMP (vcetne pripony): ", stdout);
    std::fflush(stdout);
    char name[NAME_SIZE];
    bool have_name = read_image_name(stdin, name);
    app.image = load_or_report(have_name ? name : nullptr);
}
