// Fuzz target: the PNG reader on arbitrary bytes, without and with
// conversion (remap to a small palette, dithering to 16 bits, resizing).
#include "gui/image/gui_png.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const uint8_t palette[] = {0, 0, 0, 255, 255, 255, 255, 0, 0, 0, 0, 255};
    uint8_t selector = size ? data[size - 1] : 0;
    GuiPngConvert conv(0);
    conv.SetKeepAlpha(selector & 1);
    switch ((selector >> 1) & 3) {
    case 0: conv.SetSystemPalette(nullptr, 1600); break;
    case 1: conv.SetSystemPalette(palette, 4); conv.SetModeFlags(GUI_IMG_REMAP); break;
    case 2: conv.SetSystemPalette(nullptr, 650); conv.SetModeFlags(GUI_IMG_DITHER); break;
    default:
        conv.SetSystemPalette(nullptr, 1600);
        conv.SetModeFlags(GUI_IMG_RESIZE | GUI_IMG_REMAP);
        conv.SetTargetSize(1 + (selector >> 3), 7);
        break;
    }
    conv.SetInputBuffer(data, uint32_t(size));
    if (conv.ReadImage(1)) {
        conv.RleEncode(1);
        conv.GetULCColor();
    }
    conv.DestroyImages();
    return 0;
}
