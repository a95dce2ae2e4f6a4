// GuiGroup: a labelled group box, an etched frame with its caption set into
// the top edge, around a set of controls. It takes its parent's background,
// hands the input focus on to its first child and enables or disables all
// its buttons at once.
#pragma once

#include <cstdint>

#include "gui/core/gui_thing.h"

constexpr uint8_t GT_GROUP = 25;
constexpr int GUI_FONT_SLOT_GROUP = 9;

class GuiGroup : public GuiTextThing {
public:
    GuiGroup(GuiRect& rect, const char* text, unsigned short style);
    ~GuiGroup() override;

    int Message(const GuiMessage& msg) override;
    void Draw() override;
    // Children draw inside the group's own area, never as viewport owners.
    void Add(GuiThing* child, int draw) override;
    GuiThing* Remove(GuiThing* child, int draw) override;

    // Sets or clears the enabled style bit and enables or disables every
    // button child with it; other children are left alone.
    virtual void Enable(int enable);

    // Whether the child is one of the button family that Enable acts on.
    static bool IsButton(const GuiThing* thing);
};
