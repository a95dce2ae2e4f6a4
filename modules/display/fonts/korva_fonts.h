// The display's six 1-bit fonts. Their glyph strips are kept deflated in the
// program image (each data table: deflated length as a 32-bit little-endian
// word, then the zlib stream) and unpacked into the heap once, by
// KorvaFonts_ini, before the GUI task draws anything.
//
// A font whose strip could not be unpacked keeps a null glyph pointer and is
// never handed out: Korva_getFont gives the toolkit's SysFont in its place.
#pragma once

#include <cstdint>

#include "display/config/display_config.h"
#include "gui/core/gui_types.h"

// Variable width (0x01) and the display-font mark (0x08).
constexpr uint8_t KORVA_FONT_TYPE = 0x09;

extern GuiFont KorvaTiny;
extern GuiFont KorvaSmall;
extern GuiFont KorvaNormal;
extern GuiFont KorvaLarge;
extern GuiFont KorvaXLarge;
extern GuiFont KorvaXXLarge;

extern const uint8_t KorvaTiny_data_table[];
extern const uint8_t KorvaSmall_data_table[];
extern const uint8_t KorvaNormal_data_table[];
extern const uint8_t KorvaLarge_data_table[];
extern const uint8_t KorvaXLarge_data_table[];
extern const uint8_t KorvaXXLarge_data_table[];

// Unpacks the six fonts in the order tiny .. xxlarge; stops at the first
// failure (logged), leaving that font and the ones after it unusable.
// 0 when all six are ready. Fonts already unpacked are kept.
int KorvaFonts_ini(void);

// The font of a size: 1 small, 2 normal, 3 large, 4 extralarge, 5 and 6
// xxlarge, anything else tiny; SysFont when that font is not unpacked.
const GuiFont* Korva_getFont(FontSizeType_t size);

// 1 for xxxlarge (the xxlarge font drawn at double size), else 0.
int KorvaFonts_isDouble(FontSizeType_t size);

// Releases the unpacked strips (tests; the device keeps them for its life).
void KorvaFonts_release(void);
