// GuiProgressBar: a value between a minimum and a maximum shown as the
// filled part of the client area, horizontal (from the left) or vertical
// (from the bottom), as one button face or as a row of segments, with the
// value or its percentage optionally printed in the middle in one colour
// over the filled part and another over the rest. GuiProgressWindow: a
// message window with such a bar above its buttons.
#pragma once

#include <cstdint>

#include "gui/core/gui_button.h"
#include "gui/widgets/frames/gui_message_window.h"

// Style bits of the bar.
constexpr uint16_t GPS_SHOW_VALUE = 0x0100;
constexpr uint16_t GPS_RAISED = 0x0200;      // the face is drawn pressed in
constexpr uint16_t GPS_SEGMENTS = 0x0400;    // segments instead of a face
constexpr uint16_t GPS_VERTICAL = 0x0800;
constexpr uint16_t GPS_PERCENT = 0x1000;     // the value as a percentage with "%"
constexpr uint16_t GPS_NO_BORDER = 0x4000;

class GuiProgressBar : public GuiTextThing {
public:
    GuiProgressBar(const GuiRect& rect, unsigned short style, int min, int max, int value);
    ~GuiProgressBar() override;

    void Draw() override;
    void Resize(GuiRect rect) override;

    // The filled part from the value.
    void GetButtonRect();
    void Reconfig(unsigned short style, int min, int max);
    void Update(int value, int redraw);
    // The number printed by GPS_SHOW_VALUE: the value or its percentage.
    int32_t ShownNumber() const;

    GuiButton* mpFace;   // child drawing the filled part, null with segments
    GuiRect mBarRect;
    int32_t mMin;
    int32_t mMax;
    int32_t mValue;

private:
    void MakeFace();
    void FitFace();
    void DrawSegments();
    void DrawNumber();
};

class GuiProgressWindow : public GuiMessageWindow {
public:
    GuiProgressWindow(const GuiRect& rect, const char* title, const char* message, unsigned short style,
                      unsigned short barStyle, GuiBitmap* icon, GuiThing* owner);
    GuiProgressWindow(const char* title, const char* message, unsigned short style, unsigned short barStyle,
                      GuiBitmap* icon, GuiThing* owner);
    ~GuiProgressWindow() override;

    void AddProgBar();

    GuiProgressBar* mpProgressBar;   // child
    unsigned int mBarStyle;
};
