// CDispBox: the view of an AlphaNumeric element. A box with an optional
// title, a decoration frame and one line of text showing the element's value
// (or, without a value input, its fixed format text), in the colours of its
// lower, middle or upper band, or stale (ghost colours and a red cross)
// while its value is not valid. A resettable alarm box shows "R" in its
// corner while its reset flag is set.
#pragma once

#include <cstdint>

#include "display/views/cdataview.h"
#include "display/views/view_band.h"
#include "gui/core/gui_prompt.h"

class CDispBox : public CDataView {
public:
    CDispBox(GuiRect area, display_elem_s* elem, GuiWindow* parent, unsigned int style);
    ~CDispBox() override;

    void Draw() override;
    int updateDisp(int) override;
    int forceUpdate() override;

    GuiWindow* parent = nullptr;
    const char* initialText = "";
    GuiPrompt* prompt = nullptr;
    char text[DISP_VALUE_TEXT_LEN] = {};
    char previousText[DISP_VALUE_TEXT_LEN] = {};
    uint32_t forceText = 1;
    const char* title = "";
    const GuiFont* titleFont = nullptr;
    const GuiFont* textFont = nullptr;
    DispTitles titles;
    GuiBitmap* resetLetter = nullptr;
    uint32_t textFg = 0, textBg = 0, borderFg = 0, borderBg = 0, titleFg = 0, titleBg = 0;
    DispBands bands;   // band, limits, hysteresis, validity shown
    uint32_t frameStyle = 0;

private:
    // Colours and frame style of a band (the stale band: ghost of the middle).
    void takeBandColours(uint32_t b);
    void placePrompt();
};
