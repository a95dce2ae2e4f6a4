#include "display/app/pageset.h"

#include <cstring>

#include "measurement/comint.h"
#include "platform/appman.h"
#include "platform/startup.h"
#include "platform/syslogx.h"

void pageSetName_ini(void) {}
void pageSetName_100ms(void) {}
void pageSetName_getName(unsigned char*, unsigned int) {}
void pageSetName_putName(unsigned char*, unsigned int) {}

int display_pageset_cmd(unsigned char* msg)
{
    if (!msg) return 0;
    auto* m = reinterpret_cast<ci_msg_t*>(msg);
    // The name field is 16 characters, not terminated when full; a shorter
    // payload counts as padded with zeros.
    char name[DISP_PAGESET_NAME_LEN] = {};
    const uint16_t len = ci_get_len(m);
    std::memcpy(name, m->payload, len < DISP_PAGESET_NAME_LEN ? len : DISP_PAGESET_NAME_LEN);
    unsigned char active[DISP_PAGESET_NAME_LEN] = {};
    pageSetName_getName(active, DISP_PAGESET_NAME_LEN);
    if (std::strncmp(name, reinterpret_cast<const char*>(active), DISP_PAGESET_NAME_LEN) != 0) {
        syslogx(150, "display_pageset_cmd(): received pageset '%.*s'", int(DISP_PAGESET_NAME_LEN), name);
        pageSetName_putName(reinterpret_cast<unsigned char*>(name), DISP_PAGESET_NAME_LEN);
        startPostrun();
    } else {
        syslogx(150, "display_pageset_cmd(): received active pageset '%.*s' -> ignored", int(DISP_PAGESET_NAME_LEN),
                name);
    }
    return 1;
}

int display_pageset_tlc(unsigned short pid, const char* name)
{
    ci_msg_t m{};
    ci_init_msg(&m, CI_CMD_DISPLAY_PAGESET, pid, DISP_PAGESET_NAME_LEN);
    ci_set_src(&m, app_pid);
    if (name) std::strncpy(reinterpret_cast<char*>(m.payload), name, DISP_PAGESET_NAME_LEN);
    const int r = comint_put_cmd(&m, 1);
    syslogx(150, "display_pageset_tlc(): send new pageset to pid 0x%02x, \"%.*s\"", unsigned(pid),
            int(DISP_PAGESET_NAME_LEN), name ? name : "");
    return r;
}
