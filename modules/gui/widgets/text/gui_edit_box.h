// GuiEditBox: the multi-line text box made editable: a character cursor,
// a marked range made with the pointer or by the focus, insertion and
// deletion, cursor keys, and cut, copy and paste through the presentation
// manager's scratch pad.
//
// Keys are not taken from messages: the owner (or a subclass) hands each key
// to InsertKey. Signals to the parent: 8 a pointer drag left a mark, 9 text
// was cut or pasted, 10 editing ended; each needs its signal-mask bit.
#pragma once

#include <cstdint>
#include <vector>

#include "gui/widgets/text/gui_text_box.h"
#include "gui/widgets/text/gui_text_keys.h"

class GuiScroll;

constexpr uint8_t GT_EDIT_BOX = 165;

struct CURSOR_POS {
    int32_t column;
    int32_t row;

    bool operator==(const CURSOR_POS&) const = default;
};

class GuiEditBox : public GuiTextBox {
public:
    // Edit flags.
    enum : uint32_t {
        EDITING = 0x1,         // the cursor is shown
        MARKED = 0x2,
        MARKING = 0x4,         // a pointer drag is making a mark
        POINTER_SET = 0x8,     // the editor set the text pointer shape
    };

    GuiEditBox(const GuiRect& rect, unsigned short id, unsigned short style, const char* text, int maxChars);
    ~GuiEditBox() override;

    int Message(const GuiMessage& msg) override;
    void Draw() override;
    void DataSet(const char* text) override;
    void Append(const char* text, int redraw) override;
    void DrawTextLine(int line, GuiPoint point, int fill) override;

    // Appended operations, in this order.
    virtual void InsertCharAtCursor(unsigned int ch);
    virtual void DrawMarkedText(int line, GuiPoint point);
    virtual void DrawOneLine(int row);
    virtual void DrawCursor();
    virtual void RemoveCursor();
    virtual void DrawCharAtCursor(int ch);
    virtual const char* GetCharAtCursor();
    virtual void GetMarkStartAndEnd(CURSOR_POS* start, CURSOR_POS* end);
    virtual void GetCursorRowColFromClick(GuiPoint point);
    virtual void GetCursorPointFromRowCol();
    virtual void SetCursorRowColFromIndex(int index);
    virtual void RemoveCharAtCursor(int before);
    virtual void DrawSelectText(int row, int c1, int c2, int selected);
    virtual void CheckMarkMove();
    virtual int CheckAutoScrollDown();
    virtual int CheckAutoScrollRight();
    virtual int AutoScrollUp();
    virtual int AutoScrollLeft();
    virtual void ExitEditMode();
    // 1 when the key was used, 0 otherwise.
    virtual int InsertKey(unsigned int key);
    virtual void ReplaceMarkedText(unsigned int ch);

    void SetCursorRowCol(int index);
    void HomeCursor() { mCursorColumn = 0; }
    void CopyToScratchPad();
    void PasteFromScratchPad();
    void DeleteMarkedText();

    // Offset in the text of a row and column, within the text.
    int OffsetOf(CURSOR_POS pos);
    int CursorOffset() { return OffsetOf(CURSOR_POS{mCursorColumn, mCursorRow}); }
    int LineLength(int row);

    int32_t mCursorColumn;
    int32_t mCursorRow;
    CURSOR_POS mAnchor;
    CURSOR_POS mMarkEnd;
    GuiPoint mCursorPoint;
    uint32_t mEditFlags;

private:
    // The scroll bars and their information, taken before an edit.
    struct BarState {
        GuiScroll* vBar;
        GuiScroll* hBar;
        GuiScrollInfo vertical;
        GuiScrollInfo horizontal;
    };
    BarState Bars() const;
    // An edit hands the bars new information (UpdateLineStarts) without
    // painting them, and they lie outside the client that the partial and
    // full redraws cover: a bar whose information changed is painted here,
    // and the whole box when a bar came or went.
    void RedrawChangedBars(const BarState& before);
    // Offsets of the rows shown (one more at the end), -1 for no row.
    std::vector<int32_t> VisibleLineStarts();
    // The rows shown before an edit, for the redraw after it.
    struct ShownRows {
        int row;                       // the cursor's row
        int top;
        int total;
        int length;                    // of the text
        std::vector<int32_t> starts;   // VisibleLineStarts
    };
    ShownRows Shown();
    // Start of a row as it was shown, -1 when it was not.
    static int ShownStart(const ShownRows& shown, int row)
    {
        const int i = row - shown.top;
        return i >= 0 && i < int(shown.starts.size()) ? shown.starts[size_t(i)] : -1;
    }
    // After one character was inserted (inserted = 1) or deleted (-1) at
    // `offset`: draws the shown rows whose text changed, and the cursor's
    // old and new row.
    void DrawChangedRows(const ShownRows& before, int offset, int inserted);
    // The redraw after InsertCharAtCursor put a character at `offset`.
    void InsertRedraw(int offset, const ShownRows& before);
    // Sends a signal to the parent when it may be sent.
    void Signal(uint8_t signal);
    // Replaces the characters [from, to) of the text by `insert`.
    void Splice(int from, int to, const char* insert, int insertLength);
    void DropMark();
    void RedrawAll();
    // Opens a draw bracket with the clip narrowed to the text area.
    void BeginTextDraw();
    void EndTextDraw();
    // Scroll helpers: the bar takes the position, then the box scrolls.
    void ScrollTo(bool vertical, int32_t position);
    int PointerMessage(const GuiMessage& msg);
    int FocusMessage(const GuiMessage& msg);
    // The key handlers of InsertKey.
    void KeyUp();
    void KeyDown();
    void KeyLeft();
    void KeyRight();
};
