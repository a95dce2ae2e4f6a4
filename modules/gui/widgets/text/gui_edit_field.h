// GuiEditField: a framed one-line text entry. The text scrolls sideways by
// whole characters to keep the cursor inside; a marked range, cut, copy
// and paste through the presentation manager's scratch pad; a change is
// reported to the parent as signal 10 when the field loses the focus.
//
// Keys are not taken from messages: the owner (or a subclass) hands each key
// to InsertKey, and a pointer position to SetCursorPos.
#pragma once

#include <cstdint>

#include "gui/core/gui_thing.h"

constexpr uint8_t GT_EDIT_FIELD = 22;
constexpr int GUI_FONT_SLOT_EDIT_FIELD = 7;

class GuiEditField : public GuiTextThing {
public:
    // Field flags.
    enum : uint16_t {
        CURSOR_SHOWN = 0x01,
        MARKED = 0x02,
        MARK_ALL_NEXT = 0x04,   // mark the whole text at the next text change
        MODIFIED = 0x10,
    };

    GuiEditField(const GuiRect& rect, const char* text, unsigned short id, unsigned short style, int maxChars);
    // width pixels wide, as high as the font and the frame need.
    GuiEditField(int left, int top, int width, const char* text, unsigned short id, unsigned short style,
                 int maxChars);
    // Sized by its text.
    GuiEditField(int left, int top, const char* text, unsigned short id, unsigned short style, int maxChars);
    ~GuiEditField() override;

    int Message(const GuiMessage& msg) override;
    void Draw() override;
    unsigned short Style() override;
    void Style(unsigned short style) override;
    void DataSet(const char* text) override;

    // Appended operations, in this order.
    virtual void SetMark(int start, int end);
    virtual void SetMark(char* start, char* end);
    virtual int GetMarkStart();
    virtual int GetMarkEnd();
    virtual void Initialize(unsigned short style);
    virtual void RetardCursor(int ch);
    virtual void AdvanceCursor(int ch);
    virtual void DrawMarked();
    // 1 when the key was used, 0 otherwise.
    virtual int InsertKey(int key);
    virtual void SetCursorPos(GuiPoint point);

    void CopyToScratchPad();
    void PasteFromScratchPad();
    void DeleteMarkedText();
    void ReplaceMarkedText(int ch);

    int TextLength() const { return mpText && mLength > 0 ? mLength - 1 : 0; }
    bool IsMarked() const;

    int32_t mCursor;
    int32_t mMarkStart;
    int32_t mMarkEnd;
    int32_t mFirstVisible;
    int32_t mMaxChars;            // negative: no limit
    GuiPoint mCursorPoint;
    uint16_t mFieldFlags;

private:
    void FinishConstruction(int maxChars);
    int CharWidth(int ch) const;
    // Width of the characters [from, to) of the text.
    int Width(int from, int to) const;
    // The view moves right by one character while the cursor is at or
    // past the right edge, never past the cursor itself.
    void KeepCursorInside();
    void KeyEnd();
    void KeyHome();
    void Invalidate();
};
