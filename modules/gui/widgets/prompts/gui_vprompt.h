// GuiVPrompt: a prompt whose text is written vertically, one character
// under the other, the column centred in the client area.
#pragma once

#include "gui/core/gui_prompt.h"

constexpr uint8_t GT_VPROMPT = 18;

class GuiVPrompt : public GuiPrompt {
public:
    GuiVPrompt(const GuiRect& rect, const char* text, unsigned short id, unsigned short style);
    ~GuiVPrompt() override;

    void Draw() override;
};
