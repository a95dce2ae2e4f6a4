// Lights: a screen object with a fixed number of states, one of them
// current, shown as a colour (GuiColorLight: a filled rectangle or a round
// light in a black ring) or as a bitmap (GuiBitmapLight).
#pragma once

#include <cstdint>

#include "gui/core/gui_thing.h"

enum : uint8_t {
    GT_COLOR_LIGHT = 52,
    GT_BITMAP_LIGHT = 53,
};

// Style bits of the colour light.
constexpr uint16_t GLS_RECTANGLE = 0x0100;
constexpr uint16_t GLS_ROUND = 0x0200;

class GuiLight : public GuiThing {
public:
    GuiLight(const GuiRect& rect, unsigned int numStates, unsigned int style);
    // Outer rectangle (x, y, x + 100, y + 100).
    GuiLight(int x, int y, unsigned int numStates, unsigned int style);
    ~GuiLight() override;

    // Each returns the current state; with redraw a visible light is drawn.
    // After the last state comes 0, before 0 the last.
    virtual unsigned int IncrementState(int redraw);
    virtual unsigned int DecrementState(int redraw);
    // A state at or above the number of states keeps the current one.
    virtual unsigned int SetState(unsigned int state, int redraw);
    // 0 or the present count changes nothing; returns the number of states.
    virtual unsigned int SetNumStates(unsigned int count);

    unsigned int State() const { return muState; }
    unsigned int NumStates() const { return muNumStates; }

    uint32_t muNumStates = 0;
    uint32_t muState = 0;

protected:
    unsigned int Redrawn(int redraw);
};

class GuiColorLight : public GuiLight {
public:
    GuiColorLight(const GuiRect& rect, unsigned int numStates, unsigned int style);
    GuiColorLight(int x, int y, unsigned int numStates, unsigned int style);
    ~GuiColorLight() override;

    void Draw() override;
    unsigned int SetNumStates(unsigned int count) override;
    // 1 when stored, 0 for a state out of range. No redraw.
    int SetStateColor(unsigned int state, unsigned long colour);

    uint32_t* mpColors = nullptr;   // one per state, owned; null until needed
};

class GuiBitmapLight : public GuiLight {
public:
    GuiBitmapLight(const GuiRect& rect, unsigned int numStates);
    GuiBitmapLight(int x, int y, unsigned int numStates);
    ~GuiBitmapLight() override;

    void Draw() override;
    unsigned int SetNumStates(unsigned int count) override;
    // 1 when stored, 0 for a state out of range. No redraw. The first
    // bitmap given sizes the light.
    int SetStateBitmap(unsigned int state, GuiBitmap* bitmap);

    GuiBitmap** mppBitmaps = nullptr;   // one per state (not owned), the table owned
};
