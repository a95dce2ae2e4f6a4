// The external alarm record: filled on the caller's task, shown by the main
// container when it receives the update request.
#include <cstring>

#include "display/app/display_requests.h"

ext_alarm_s ext_alarm{};

int display_alarm(unsigned char active, unsigned short left, unsigned short top, unsigned short width,
                  unsigned short height, unsigned long textColour, unsigned long backColour,
                  unsigned char resettable, const char* text)
{
    ext_alarm_s& a = ext_alarm;
    a.active = active;
    a.left = left;
    a.top = top;
    a.width = width;
    a.height = height;
    a.textColour = uint32_t(textColour);
    a.backColour = uint32_t(backColour);
    a.resettable = resettable;
    // At most 254 characters; blanks become 0x81 so that the prompt keeps them.
    size_t n = 0;
    if (text)
        for (; n < DISP_ALARM_TEXT_LEN - 2 && text[n]; ++n) a.text[n] = text[n] == ' ' ? DISP_ALARM_BLANK : text[n];
    a.text[n] = '\0';
    a.hidden = 0;
    a.changed = 1;
    return displayUpdateExtWnd();
}

void display_get_alarm_state(ext_alarm_s** out)
{
    if (out) *out = &ext_alarm;
}
