// The shell command "display" and its usage.
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
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

// A request the display's task cannot take (it is not up): said, and the value nonzero.
int requestResult(const char* word, int rc)
{
    if (rc == 0) return 0;
    printf("display %s: the display does not run, nothing done\n", word);
    return -1;
}

// A colour is "0x" and one to eight hexadecimal digits, and nothing more:
// a word only partly read would set a colour nobody asked for.
bool readColor(const char* par, unsigned int* value)
{
    if (!par || par[0] != '0' || par[1] != 'x' || !std::isxdigit(static_cast<unsigned char>(par[2]))) return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(par + 2, &end, 16);
    if (*end != '\0' || errno == ERANGE || v > UINT_MAX) return false;
    *value = static_cast<unsigned int>(v);
    return true;
}

// A whole number, the whole word; as the command has always read it, a
// negative one counts as a large one (-1 is the highest), and one beyond
// the range as the largest.
bool readUnsigned(const char* par, unsigned int* value)
{
    const char* digits = par;
    if (digits && (*digits == '-' || *digits == '+')) ++digits;
    if (!digits || !std::isdigit(static_cast<unsigned char>(*digits))) return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(par, &end, 10);
    if (*end != '\0') return false;
    const bool negative = *par == '-';
    if (errno == ERANGE || (!negative && v > UINT_MAX)) *value = UINT_MAX;
    else *value = static_cast<unsigned int>(v);
    return true;
}

int colorCommand(const char* par)
{
    unsigned int value = 0;
    const bool valid = readColor(par, &value);
    int rc = 0;
    if (valid)
        rc = displayColor(value);
    else
        printf("Invalid color format. RGB Format: 0x00RRGGBB\n");
    // the pages stop either way, as they always have; a colour that could
    // not be read answers nonzero all the same
    const int stopped = displayStop();
    if (!valid) return -1;
    return requestResult("color", rc != 0 ? rc : stopped);
}

int unsignedCommand(const char* word, const char* par, int (*request)(unsigned int), const char* error)
{
    unsigned int value = 0;
    if (!readUnsigned(par, &value)) {
        printf("%s", error);
        return -1;
    }
    return requestResult(word, request(value));
}

}  // namespace

int displayCommandFunc(int argc, char** argv)
{
    const char* word = argc >= 2 && argv ? argv[1] : nullptr;
    const char* par = argc >= 3 && argv ? argv[2] : nullptr;
    int rc = 0;
    if (argc == 2 && is(word, "start")) rc = displayStart();
    else if (argc == 2 && is(word, "stop")) rc = displayStop();
    else if (argc == 3 && is(word, "color")) return colorCommand(par);
    else if (argc == 2 && is(word, "next")) rc = displayNext();
    else if (argc == 2 && is(word, "prev")) rc = displayPrev();
    else if (argc == 3 && is(word, "page")) return unsignedCommand(word, par, displaySwitchPage, "Invalid page number.\n");
    else if (argc == 3 && is(word, "brightness"))
        return unsignedCommand(word, par, displayBrightness, "Invalid brightness switch position.\n");
    else if (argc == 2 && is(word, "fstart")) rc = displayFlashStart();
    else if (argc == 2 && is(word, "fstop")) rc = displayFlashStop();
    else if (argc == 3 && is(word, "txtshow")) rc = displayTxtShowFree(par);
    else if (argc == 2 && is(word, "txthide")) rc = displayTxtHide();
    else if (argc == 3 && is(word, "bmpdump")) return display_bmpdump(par);
    else {
        // a word it does not know, or words missing or too many: nothing is
        // done; alone, the command lists its sub-commands, as asked
        display_usage();
        return argc <= 1 ? 0 : -1;
    }
    return requestResult(word, rc);
}
