// Defaults of the display configuration records, set before each record is
// parsed.
#include "display/config/display_config.h"

#include <cstring>

void XmlInitRGB(rgb_s* c) {
    if (!c) return;
    c->red = c->green = c->blue = 0;
}

void XmlInitChInput(awm_meas_in* in) {
    if (!in) return;
    std::memset(in, 0, sizeof *in);
    in->mask = 0xFFFFFFFFu;
}

void XmlInitPage(page_s* p) {
    if (!p) return;
    std::memset(p, 0, sizeof *p);
    p->used = 1;
}

void XmlInitDisplay(display_s* d) {
    if (!d) return;
    std::memset(d, 0, sizeof *d);
    for (page_s& p : d->pages) {
        XmlInitPage(&p);
        p.used = 0;   // only pages read from the file are used
    }
    XmlInitPage(&d->all_pages);
    XmlInitChInput(&d->reset_in);
    XmlInitChInput(&d->page_in);
    XmlInitChInput(&d->brightness_in);
}

// The decos default to black everywhere and style none: all zero.
void XmlInitAlphaNumDeco(alphanum_deco_s* deco) {
    if (deco) std::memset(deco, 0, sizeof *deco);
}

void XmlInitBarGraphDeco(bargraph_deco_s* deco) {
    if (deco) std::memset(deco, 0, sizeof *deco);
}

void XmlInitPictureDeco(picture_deco_s* deco) {
    if (deco) std::memset(deco, 0, sizeof *deco);
}

void XmlInitTick(tick_s* tick) {
    if (tick) std::memset(tick, 0, sizeof *tick);
}

void XmlInitAlphaNumeric(display_elem_s* e) {
    if (!e) return;
    std::memset(e, 0, sizeof *e);
    e->type = DISP_ELEM_ALPHANUM;
    alphanum_s& a = e->alphanum;
    a.font_size = FONT_NORMAL;
    a.align = ALIGN_MM;
    XmlInitChInput(&a.vis_in);
    XmlInitChInput(&a.ch_in);
}

void XmlInitBarGraph(display_elem_s* e) {
    if (!e) return;
    std::memset(e, 0, sizeof *e);
    e->type = DISP_ELEM_BARGRAPH;
    bargraph_s& b = e->bargraph;
    b.min = 0.0f;
    b.max = 1.0f;
    XmlInitChInput(&b.vis_in);
    XmlInitChInput(&b.ch_in);
}

void XmlInitPictureElement(display_elem_s* e) {
    if (!e) return;
    uint32_t prio = e->prio;
    std::memset(e, 0, sizeof *e);
    e->prio = prio;
    e->type = DISP_ELEM_PICTURE;
    XmlInitChInput(&e->picture.vis_in);
}

void XmlInitVTab(vtab_s* t) {
    if (t) std::memset(t, 0, sizeof *t);
}

void XmlInitVTabNode(vtab_node_s* n) {
    if (n) std::memset(n, 0, sizeof *n);
}

int picture_range_ok(const picture_s* pic, long file_size) {
    if (!pic || file_size < 0) return 0;
    if (pic->len > DISPLAY_PICTURE_MAX_LEN) return 0;
    uint64_t end = uint64_t(pic->ofs) + pic->len;
    return end <= uint64_t(file_size) ? 1 : 0;
}
