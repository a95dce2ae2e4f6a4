// The display configuration: plain records filled from "cfg:/display.xml" by
// the display's own reader (xml_reader.h) and only read by the rest of the
// display. Texts are zero-terminated in fixed arrays; enumerations are 32-bit
// words unless noted; every field holds its default until the file sets it.
#pragma once

#include <cstdint>

#include "measurement/types.h"

constexpr int DISPLAY_MAX_PAGES = 12;
constexpr int DISPLAY_MAX_PERC = 6;
constexpr int DISPLAY_MAX_TICKS = 20;
constexpr int DISPLAY_TEXT_LEN = 256;      // title, format_str, filename, entry text
constexpr int DISPLAY_VTAB_NAME_LEN = 255; // vtab name and default text
constexpr int DISPLAY_TICK_NAME_LEN = 8;   // 7 characters and the terminator

// Element types.
enum DisplayElemType_t : uint32_t {
    DISP_ELEM_ALPHANUM = 0,
    DISP_ELEM_BARGRAPH = 1,
    DISP_ELEM_PICTURE = 2,
};

enum VisModeType_t : uint32_t {
    VIS_ALWAYS = 0,
    VIS_LIMIT = 1,
    VIS_LIMIT_RESETABLE = 2,
};

enum FontSizeType_t : uint32_t {
    FONT_TINY = 0,
    FONT_SMALL = 1,
    FONT_NORMAL = 2,
    FONT_LARGE = 3,
    FONT_EXTRALARGE = 4,
    FONT_XXLARGE = 5,
    FONT_XXXLARGE = 6,
};

enum AlignType_t : uint32_t {
    ALIGN_TL = 0,
    ALIGN_TM = 1,
    ALIGN_TR = 2,
    ALIGN_ML = 3,
    ALIGN_MM = 4,
    ALIGN_MR = 5,
    ALIGN_BL = 6,
    ALIGN_BM = 7,
    ALIGN_BR = 8,
};

// 0 is no mode: dispmode is required in the file.
enum DispOptType_t : uint32_t {
    DISP_NONE = 0,
    DISP_NORMAL = 1,
    DISP_TIME_HH_MM_SS = 2,
    DISP_TIME_MM_SS_MS = 3,
    DISP_TIME_U_SSS_MS = 4,
    DISP_TIME_S_SSS_MS = 5,
    DISP_VERBAL = 6,
    DISP_ASCII = 7,
};

// Frame style of a deco.
enum StyleType_t : uint32_t {
    STYLE_NONE = 0,
    STYLE_SINGLE_LINE = 1,
    STYLE_DOUBLE_LINE = 2,
    STYLE_SINGLE_TOP = 3,
    STYLE_SINGLE_SIDE = 4,
};

enum BargrStyleType_t : uint32_t {
    BARGR_SOLID = 0,
    BARGR_STACKED = 1,
};

enum BargrOrientType_t : uint32_t {
    BARGR_HORI_LR = 0,
    BARGR_HORI_RL = 1,
    BARGR_VERT_BT = 2,
    BARGR_VERT_TB = 3,
};

enum BlinkType_t : uint32_t {
    BLINK_OFF = 0,
    BLINK_SLOW = 1,
    BLINK_FAST = 2,
};

struct rgb_s {
    uint8_t red;
    uint8_t green;
    uint8_t blue;
};

// A channel reference (ChInput, VisInput, ResetInput, PageInput,
// BrightnessInput). The shown value of a raw x is
// (a*x*x + b*x + c) / (d*x*x + e*x + f).
struct awm_meas_in {
    uint32_t adr;        // measurement address; 0 = no channel
    uint32_t mask;       // bits of the value in the raw word
    float quant_a;
    float quant_b;
    float quant_c;
    float quant_d;
    float quant_e;
    float quant_f;
    uint16_t type;       // TypeEnum_t; 0 = the element has no channel
};

// Colours of an AlphaNumeric in one value band.
struct alphanum_deco_s {
    rgb_s BGCol;
    rgb_s TitleBGCol;
    rgb_s TitleFGCol;
    rgb_s BorderBGCol;
    rgb_s BorderFGCol;
    StyleType_t style;
    rgb_s TextBGCol;
    rgb_s TextFGCol;
};

// Colours of a BarGraph in one value band.
struct bargraph_deco_s {
    rgb_s BGCol;
    rgb_s TitleBGCol;
    rgb_s TitleFGCol;
    rgb_s BorderBGCol;
    rgb_s BorderFGCol;
    StyleType_t style;
    rgb_s BarBGCol;
    rgb_s BarFGCol;
    rgb_s TicksCol;
};

struct picture_deco_s {
    rgb_s BGCol;
    rgb_s TitleBGCol;
    rgb_s TitleFGCol;
    rgb_s BorderBGCol;
    rgb_s BorderFGCol;
    StyleType_t style;
};

// One tick of a bar graph.
struct tick_s {
    char name[DISPLAY_TICK_NAME_LEN];
    float value;
};

// The image of a Picture element: a PNG at ofs, len bytes long, in filename.
struct picture_s {
    rgb_s TransparentCol;
    char filename[DISPLAY_TEXT_LEN];
    uint32_t ofs;
    uint32_t len;
};

struct vtab_s;

struct alphanum_s {
    float limit_low;
    float hyst_low;
    uint8_t has_lower;
    alphanum_deco_s deco_lower;
    alphanum_deco_s deco_middle;
    float limit_up;
    float hyst_up;
    uint8_t has_upper;
    alphanum_deco_s deco_upper;
    char title[DISPLAY_TEXT_LEN];
    FontSizeType_t font_size;
    AlignType_t align;
    DispOptType_t dispmode;
    char format_str[DISPLAY_TEXT_LEN];
    VisModeType_t vis_mode;
    awm_meas_in vis_in;
    awm_meas_in ch_in;
    uint8_t always_on_top;     // 1: the view is an alarm view
    vtab_s* vtab;              // null: no verbal table
    BlinkType_t blink;
    uint32_t min_disp_time;    // milliseconds
    uint32_t auto_reset_time;
    uint32_t retrigger_time;
};

struct bargraph_s {
    BargrStyleType_t style;
    BargrOrientType_t orientation;
    uint16_t tick_count;
    tick_s tick_list[DISPLAY_MAX_TICKS];
    float limit_low;
    float hyst_low;
    uint8_t has_lower;
    bargraph_deco_s deco_lower;
    bargraph_deco_s deco_middle;
    float limit_up;
    float hyst_up;
    uint8_t has_upper;
    bargraph_deco_s deco_upper;
    float min;
    float max;
    char title[DISPLAY_TEXT_LEN];
    VisModeType_t vis_mode;
    awm_meas_in vis_in;
    awm_meas_in ch_in;
    uint8_t always_on_top;
    uint8_t ticks;
};

struct picture_elem_s {
    picture_s pic;
    picture_deco_s deco_middle;
    char title[DISPLAY_TEXT_LEN];
    VisModeType_t vis_mode;
    awm_meas_in vis_in;
    uint8_t always_on_top;
    BlinkType_t blink;
    uint32_t min_disp_time;
    uint32_t auto_reset_time;
    uint32_t retrigger_time;
};

// One display element: the common head, the body of its type, the link to
// the next element of its page.
struct display_elem_s {
    DisplayElemType_t type;
    float version;       // 1.0 for every element left in a page
    uint32_t prio;       // strictly increasing along a page
    uint32_t pos_x;
    uint32_t pos_y;
    uint32_t size_x;
    uint32_t size_y;
    union {
        alphanum_s alphanum;
        bargraph_s bargraph;
        picture_elem_s picture;
    };
    display_elem_s* next;
};

struct page_s {
    uint8_t used;
    rgb_s bg_col;
    uint16_t count;              // elements in the list
    display_elem_s* elements;    // document order
};

// One entry of a verbal table; the entries of a table form an AVL tree
// ordered by num compared as unsigned 32-bit.
struct vtab_node_s {
    vtab_node_s* parent;
    vtab_node_s* left;
    vtab_node_s* right;
    int8_t balance;              // right height minus left height
    char text[DISPLAY_TEXT_LEN];
    int32_t num;
};

struct vtab_s {
    char name[DISPLAY_VTAB_NAME_LEN];
    char default_text[DISPLAY_VTAB_NAME_LEN];
    vtab_node_s* root;
    vtab_s* next;
};

// The whole configuration. Allocated by XmlLoad, released with XmlFreeDisplay.
struct display_s {
    uint16_t x_res;
    uint16_t y_res;
    uint16_t page_count;
    uint16_t perc[DISPLAY_MAX_PERC];   // brightness steps in percent
    uint16_t perc_count;
    page_s pages[DISPLAY_MAX_PAGES];
    page_s all_pages;                  // shown on every page
    vtab_s* vtabs;                     // the last table of the file first
    float version;
    float xml_version;
    awm_meas_in reset_in;
    awm_meas_in page_in;
    awm_meas_in brightness_in;

    // Storage of the lists above, owned by the configuration.
    display_elem_s* elem_block;
    uint32_t elem_capacity;
    vtab_s* vtab_block;
    vtab_node_s* vtab_node_block;
};

// Largest picture the display reads: a PNG beyond this is no picture for a
// 640 x 480 screen, and its buffer is not allocated.
constexpr uint32_t DISPLAY_PICTURE_MAX_LEN = 16u * 1024u * 1024u;

// 1 when the picture's bytes lie within a file of file_size bytes and are no
// more than DISPLAY_PICTURE_MAX_LEN, else 0; checked before a buffer of len
// bytes is allocated for them.
int picture_range_ok(const picture_s* pic, long file_size);

// Defaults of the records (a null record is ignored).
void XmlInitDisplay(display_s* d);
void XmlInitPage(page_s* p);
void XmlInitRGB(rgb_s* c);
void XmlInitChInput(awm_meas_in* in);
void XmlInitAlphaNumDeco(alphanum_deco_s* deco);
void XmlInitBarGraphDeco(bargraph_deco_s* deco);
void XmlInitPictureDeco(picture_deco_s* deco);
void XmlInitTick(tick_s* tick);
void XmlInitAlphaNumeric(display_elem_s* e);
void XmlInitBarGraph(display_elem_s* e);
// Leaves prio alone: a picture's prio is always set from the file.
void XmlInitPictureElement(display_elem_s* e);
void XmlInitVTab(vtab_s* t);
void XmlInitVTabNode(vtab_node_s* n);
