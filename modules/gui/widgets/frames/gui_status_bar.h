// GuiStatusBar: a strip along the bottom of a window holding text fields
// side by side; on a sizeable window a grip in its right corner starts
// sizing the window from the bottom-right corner.
#pragma once

#include <cstdint>

#include "gui/core/gui_prompt.h"

class GuiStatusBar : public GuiTextThing {
public:
    GuiStatusBar();
    ~GuiStatusBar() override;

    int Message(const GuiMessage& msg) override;
    void Draw() override;
    void SetFont(const GuiFont* font) override;

    // Appended operations, in this order.
    // A new field `width` pixels wide right of the existing children.
    virtual GuiPrompt* AddTextField(int width, unsigned short id, const char* text);
    virtual void SetTextField(unsigned short id, char* text);
    // Spans the bottom of the parent inside its frame; the last field
    // stretches to the grip.
    virtual void SizeToParent();

    // Draws the grip unless `field` is given and ends short of it.
    void CheckDrawDragMap(GuiThing* field);
    GuiPrompt* GetPrompt(unsigned int id);

    GuiPrompt* mpLastField;   // the field added last, or null
    int32_t mSizing;          // 1 while the pointer is over the grip

private:
    bool ParentSizeable() const;
    GuiRect GripArea() const;
    void SetSizing(int on, unsigned char pointerShape);
};
