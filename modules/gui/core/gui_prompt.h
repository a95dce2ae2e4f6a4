// GuiPrompt: one line of static text in a framed or transparent box, left,
// right or centre aligned, optionally at twice the font's size.
//
// Styles: the frame bits, GST_TEXT_LEFT / GST_TEXT_RIGHT (else centred;
// always centred vertically), GST_SELECTED (set while it has the focus),
// GST_TRANSPARENT (the parent's colour 0 as background; with frame 1 no
// background at all) and GST_ENABLED (takes the focus, signals it).
#pragma once

#include "gui/core/gui_thing.h"

constexpr int GUI_FONT_SLOT_PROMPT = 6;

class GuiPrompt : public GuiTextThing {
public:
    GuiPrompt(const GuiRect& rect, const char* text, unsigned short id, unsigned short style, int doubleSize);
    // At (x, y), width pixels wide, as high as the font and the frame need.
    GuiPrompt(int x, int y, int width, const char* text, unsigned short id, unsigned short style,
              const GuiFont* font, int doubleSize);
    // At (x, y), sized by its text.
    GuiPrompt(int x, int y, const char* text, unsigned short id, unsigned short style, const GuiFont* font,
              int doubleSize);
    ~GuiPrompt() override;

    int Message(const GuiMessage& msg) override;
    void Draw() override;

    int32_t mDoubleSize;   // non-zero: text at twice the font's size

private:
    void InitPrompt(int doubleSize);
};
