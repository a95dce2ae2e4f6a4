// The shell command "display" and its usage.
#include <cstdio>
#include <cstring>

#include "display/app/display_dump.h"
#include "display/app/display_requests.h"

void display_usage(void)
{
    printf("controls display application\n");
    printf("usage: display <command> [<par>]\n");
    printf("    <start|stop>      : starts and stops display application;\n");
    printf("    <color> <par>     : sets color to whole screen\n");
    printf("    <bmpdump> <par>   : writes the screen to the new file <par>\n");
    printf("    <next|prev>       : switches pages\n");
    printf("    <page> <par>      : select page\n");
    printf("    <brightness> <par>: set brightness<par>\n");
    printf("    <fstop|fstart>    : starts stops flash window\n");
    printf("    <txtshow> <par>   : shows the text <par>\n");
    printf("    <txthide>         : hides the text\n");
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
    else if (argc == 3 && is(word, "bmpdump")) return display_bmpdump(par);
    else display_usage();
    return 0;
}
