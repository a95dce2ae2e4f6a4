// The button family: push buttons that turn pointer presses into signal 4
// (clicked) to their parent, buttons showing a bitmap or a text, radio
// buttons that exclude their siblings, check boxes and title-bar system
// buttons; and GuiIcon, what a minimised window leaves in its parent.
//
// Buttons keep their state in the style word (GBS_* below); GST_ENABLED
// makes a button pointer-selectable.
#pragma once

#include "gui/core/gui_thing.h"

// Style bits of buttons.
enum : uint16_t {
    GBS_AUTO_REPEAT = 0x0002,       // signal 4 repeats while held (timer 1)
    GBS_PRESSED = 0x0004,           // pressed; selected or checked for radios and boxes
    GBS_SIGNAL_ON_PRESS = 0x0008,   // signal on the press, no pointer capture
    GBS_BEVEL_IN = 0x0010,          // white bevel lines one pixel in
};

// Font slots of the family.
constexpr int GUI_FONT_SLOT_TEXT_BUTTON = 3;
constexpr int GUI_FONT_SLOT_RADIO = 4;
constexpr int GUI_FONT_SLOT_CHECK = 5;

// Auto-repeat: timer 1, first after 20 ticks (1 s), then every 5 (250 ms).
constexpr unsigned short GUI_REPEAT_TIMER = 1;
constexpr long GUI_REPEAT_FIRST = 20;
constexpr long GUI_REPEAT_NEXT = 5;

class GuiButton : public GuiTextThing {
public:
    GuiButton(const GuiRect& rect, unsigned short id, unsigned short style, const char* text,
              unsigned char fontSlot);
    GuiButton(unsigned short id, unsigned short style, const char* text, unsigned char fontSlot);
    ~GuiButton() override;

    int Message(const GuiMessage& msg) override;
    void Draw() override;
    unsigned short Style() override;
    void Style(unsigned short style) override;

    virtual void Initialize(unsigned short style);
    using GuiTextThing::Initialize;   // (style, text, font slot) of the text

    void Enable();
    void Disable();
    bool IsPressed() const { return (mStyle & GBS_PRESSED) != 0; }

protected:
    // Pressed look on or off: style bit, invalidate, draw.
    void ShowPressed(bool pressed);
    void StopRepeat();
    // Sends signal 4 when the id, the mask and a visible parent allow.
    void Clicked();
    // Text colour by the selected look, grey when disabled.
    uint32_t TextColour() const;
};

class GuiBitmapButton : public GuiButton {
public:
    GuiBitmapButton(const GuiRect& rect, GuiBitmap* bitmap, unsigned int id, unsigned int style);
    // Sized by the bitmap (plus 4 for the bevel unless frame 1).
    GuiBitmapButton(int x, int y, GuiBitmap* bitmap, unsigned int id, unsigned int style);
    ~GuiBitmapButton() override;

    void Draw() override;
    virtual void SetBitmap(GuiBitmap* bitmap);

    GuiBitmap* mpBitmap;

private:
    void InitBitmapButton(GuiBitmap* bitmap);
};

class GuiTextButton : public GuiButton {
public:
    GuiTextButton(GuiRect& rect, const char* text, unsigned short id, unsigned short style);
    GuiTextButton(int x, int y, int width, const char* text, unsigned short id, unsigned short style);
    GuiTextButton(int x, int y, const char* text, unsigned short id, unsigned short style);
    ~GuiTextButton() override;

    void Draw() override;
};

class GuiRadioButton : public GuiButton {
public:
    GuiRadioButton(GuiRect& rect, const char* text, unsigned short id, unsigned short style);
    GuiRadioButton(int x, int y, const char* text, unsigned short id, unsigned short style);
    ~GuiRadioButton() override;

    int Message(const GuiMessage& msg) override;
    void Draw() override;

    virtual void SetSelected(int on);
    virtual int IsSelected();

    // Every sibling radio button, this one included, is turned off.
    void UnselectSiblings();
};

class GuiCheckBox : public GuiButton {
public:
    GuiCheckBox(GuiRect& rect, const char* text, unsigned short id, unsigned short style);
    GuiCheckBox(int x, int y, const char* text, unsigned short id, unsigned short style);
    ~GuiCheckBox() override;

    int Message(const GuiMessage& msg) override;
    void Draw() override;

    virtual void SetSelected(int on);
    virtual int IsChecked();
};

class GuiSystemButton : public GuiBitmapButton {
public:
    GuiSystemButton(GuiRect& rect, GuiBitmap* bitmap, unsigned short id);
    ~GuiSystemButton() override;

    int Message(const GuiMessage& msg) override;
};

class GuiIcon : public GuiThing {
public:
    // Stands for `proxy` (a minimised window) until it is released.
    GuiIcon(GuiThing* proxy, GuiBitmap* bitmap, unsigned int id, unsigned int style);
    GuiIcon(const GuiRect& rect, GuiBitmap* bitmap, unsigned int id, unsigned int style);
    GuiIcon(GuiBitmap* bitmap, unsigned int id, unsigned int style);
    ~GuiIcon() override;

    int Message(const GuiMessage& msg) override;
    void Draw() override;

    virtual void SetIcon(GuiBitmap* bitmap);
    virtual GuiBitmap* GetIcon();
    virtual GuiThing* GetProxy();
    virtual void SetProxy(GuiThing* proxy);

    GuiBitmap* mpBitmap;   // never null: the built-in window icon instead
    GuiThing* mpProxy;     // the window it stands for, or null

private:
    void InitIcon(GuiBitmap* bitmap, bool sizeByBitmap);
};
