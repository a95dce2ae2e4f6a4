// GuiSpinButton: two arrow buttons, up over down (style GSB_VERTICAL) or
// left beside right, that step an integer. With a slave text object the
// spin button reads its text as a decimal number, steps it within the
// limits and writes it back; either way it sends signal 8 (more) or 9
// (less) to its parent.
#pragma once

#include <cstdint>

#include "gui/core/gui_thing.h"

constexpr uint8_t GT_SPIN_BUTTON = 24;
constexpr uint16_t GSB_VERTICAL = 0x1000;
// Ids of the arrow buttons.
constexpr unsigned short GUI_ID_SPIN_UP = 1010;
constexpr unsigned short GUI_ID_SPIN_DOWN = 1011;
constexpr unsigned short GUI_ID_SPIN_LEFT = 1012;
constexpr unsigned short GUI_ID_SPIN_RIGHT = 1013;
constexpr uint8_t GUI_SIG_SPIN_MORE = 8;
constexpr uint8_t GUI_SIG_SPIN_LESS = 9;

class GuiSpinButton : public GuiThing {
public:
    GuiSpinButton(int x, int y, unsigned id, unsigned style);
    GuiSpinButton(int x, int y, GuiTextThing* slave, long min, long max, int step, unsigned id, unsigned style);
    GuiSpinButton(const GuiRect& rect, unsigned id, unsigned style);
    GuiSpinButton(const GuiRect& rect, GuiTextThing* slave, long min, long max, int step, unsigned id,
                  unsigned style);
    ~GuiSpinButton() override;

    int Message(const GuiMessage& msg) override;

    void AddSpinButtons();
    // Steps the slave's number: down for GUI_SIG_SPIN_LESS, else up.
    void UpdateSlave(unsigned direction);
    // Nothing is redrawn and the slave keeps its text.
    void SetLimits(long min, long max, int step);

    GuiTextThing* mpSlave;   // not owned; null for none
    int32_t mMin;
    int32_t mMax;
    int32_t mStep;
    int32_t mMinDigits;      // zero-padded width of the written number; 0: none

private:
    void Init(GuiTextThing* slave, long min, long max, int step);
};
