// CPicture: the view of a Picture element. Its image, frame and title are
// composed once, at construction, into an off-screen bitmap that each draw
// only blits; a resettable picture flagged for reset shows an "R" in its
// corner. Without image it shows in ghost colours with a red cross.
#pragma once

#include <cstdint>

#include "display/views/cdataview.h"

class CPicture : public CDataView {
public:
    // bitmap: the converted image (the image container's), or null.
    CPicture(const GuiRect& pageRect, display_elem_s* element, GuiBitmap* bitmap, GuiWindow* parent,
             unsigned int flags);
    ~CPicture() override;

    void Draw() override;
    int updateDisp(int) override;
    int forceUpdate() override;

    GuiWindow* parent = nullptr;
    GuiBitmap* pictureBitmap = nullptr;   // the composed view, at most the screen's size
    GuiBitmap* titleBitmap = nullptr;
    const char* title = "";
    GuiBitmap* resetLetter = nullptr;
    const GuiFont* titleFont = nullptr;
    uint32_t frameColour = 0, backgroundColour = 0, titleColour = 0, titleBackground = 0;
    int32_t titleWidth = 0, titleHeight = 0;
    int32_t imageX = 0, imageY = 0;
    uint32_t alpha = 0;
    uint32_t decoStyle = 0;

private:
    void compose(GuiBitmap* image, int width, int height);
};
