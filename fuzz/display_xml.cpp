// Fuzzes the display.xml reader: the input is the whole file. A model that
// loads is walked as the pages and text boxes would walk it, then released.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "display/config/xml_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 20) return 0;
    display_s* d = nullptr;
    char err[100];
    if (XmlLoadText(reinterpret_cast<const char*>(data), int32_t(size), &d) != 0) {
        xml_get_error_msg(err, sizeof err);
        if (d) abort();   // a failed load leaves nothing behind
        return 0;
    }
    if (d->page_count > DISPLAY_MAX_PAGES) abort();
    char text[DISPLAY_TEXT_LEN];
    for (int i = 0; i <= d->page_count; ++i) {
        const page_s& p = i < d->page_count ? d->pages[i] : d->all_pages;
        unsigned n = 0;
        uint32_t prio = 0;
        for (const display_elem_s* e = p.elements; e; e = e->next, ++n) {
            if (e->version != 1.0f || (n && e->prio <= prio)) abort();
            prio = e->prio;
            if (e->type == DISP_ELEM_ALPHANUM && e->alphanum.vtab) {
                XmlVTabOutput(e->alphanum.vtab, 0, text);
                XmlVTabOutput(e->alphanum.vtab, uint32_t(e->prio), text);
            }
            if (e->type == DISP_ELEM_BARGRAPH && e->bargraph.tick_count > DISPLAY_MAX_TICKS) abort();
        }
        if (n != p.count) abort();
    }
    for (const vtab_s* t = d->vtabs; t; t = t->next) XmlVTabOutput(t, 0xFFFFFFFFu, text);
    XmlFreeDisplay(d);
    return 0;
}
