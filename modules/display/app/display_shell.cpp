// The shell command "display" and the screen dump into a BMP file.
#include <cstdio>
#include <cstring>

#include "display/app/display_requests.h"
#include "gui/core/gui_task.h"
#include "gui/core/gui_thing.h"
#include "gui/draw/gui_screen.h"
#include "gui/draw/scrndrv.h"

unsigned char* DumpReal(unsigned int* size)
{
    if (size) *size = 0;
    if (gbGuiInitialized.load() != 1) return nullptr;
    // Under the GUI lock, so that the frame is not half drawn and the screen
    // is not torn down meanwhile.
    GuiLock lock;
    GuiScreen* screen = GuiThing::mpScreen;
    if (!screen) return nullptr;
    // The visible screen itself: (0, 0) to (639, 479).
    return screen->DumpWindowsBitmap(size, GuiRect(0, 0, SCRNDRV_VISIBLE_WIDTH - 1, SCRNDRV_VISIBLE_HEIGHT - 1));
}

void display_bmpwrite(const char* path)
{
    if (!path) return;
    unsigned int size = 0;
    unsigned char* image = DumpReal(&size);
    if (!image || size == 0) {
        delete[] image;
        printf("Error, no screen image for file %s.\n", path);
        return;
    }
    FILE* f = fopen(path, "wb");
    if (!f) {
        printf("Error, unable to open file %s.\n", path);
        delete[] image;
        return;
    }
    if (fwrite(image, 1, size, f) != size) printf("Error, unable to write file %s.\n", path);
    fclose(f);
    delete[] image;
}

void display_usage(void)
{
    printf("controls display application\n");
    printf("usage: display <command> [<par>]\n");
    printf("    <start|stop>      : starts and stops display application;\n");
    printf("    <color> <par>     : sets color to whole screen\n");
    printf("    <writebmp>        : write screen to file\n");
    printf("    <next|prev>       : switches pages\n");
    printf("    <page> <par>      : select page\n");
    printf("    <brightness> <par>: set brightness<par>\n");
    printf("    <fstop|fstart>    : starts stops flash window\n");
    printf("    <txtshow|txthide> : hides, shows text\n");
}

namespace {

bool is(const char* word, const char* name) { return word && std::strcmp(word, name) == 0; }

int colorCommand(const char* par)
{
    unsigned int value = 0;
    if (par && par[0] && par[1] == 'x' && std::sscanf(par, "%x", &value) == 1)
        displayColor(value);
    else
        printf("Invalid color format. RGB Format: 0x00RRGGBB\n");
    displayStop();
    return 0;
}

int unsignedCommand(const char* par, int (*request)(unsigned int), const char* error)
{
    unsigned int value = 0;
    if (!par || std::sscanf(par, "%u", &value) != 1) {
        printf("%s", error);
        return -1;
    }
    request(value);
    return 0;
}

// The device's files live in its folder (the working directory): a shell
// user may name a file in it or below it, never an absolute path or one that
// climbs out with "..".
bool insideDeviceFolder(const char* path)
{
    if (!path || !*path || path[0] == '/') return false;
    for (const char* p = path; *p;) {
        const char* end = std::strchr(p, '/');
        const size_t len = end ? size_t(end - p) : std::strlen(p);
        if (len == 2 && p[0] == '.' && p[1] == '.') return false;
        if (!end) break;
        p = end + 1;
    }
    return true;
}

int bmpdumpCommand(const char* path)
{
    if (!insideDeviceFolder(path)) {
        printf("Error, file %s is not inside the device folder.\n", path ? path : "");
        return -1;
    }
    display_bmpwrite(path);
    return 0;
}

}  // namespace

int displayCommandFunc(int argc, char** argv)
{
    const char* word = argc >= 2 && argv ? argv[1] : nullptr;
    const char* par = argc >= 3 && argv ? argv[2] : nullptr;
    if (argc == 2 && is(word, "start")) displayStart();
    else if (argc == 2 && is(word, "stop")) displayStop();
    else if (argc == 3 && is(word, "color")) return colorCommand(par);
    else if (argc == 2 && is(word, "next")) displayNext();
    else if (argc == 2 && is(word, "prev")) displayPrev();
    else if (argc == 3 && is(word, "page")) return unsignedCommand(par, displaySwitchPage, "Invalid page number.\n");
    else if (argc == 3 && is(word, "brightness"))
        return unsignedCommand(par, displayBrightness, "Invalid brightness switch position.\n");
    else if (argc == 2 && is(word, "fstart")) displayFlashStart();
    else if (argc == 2 && is(word, "fstop")) displayFlashStop();
    else if (argc == 3 && is(word, "txtshow")) displayTxtShowFree(par);
    else if (argc == 2 && is(word, "txthide")) displayTxtHide();
    else if (argc == 3 && is(word, "bmpdump")) return bmpdumpCommand(par);
    else display_usage();
    return 0;
}
