// Item lists: a scrollable window whose client children are its items,
// laid out one after another, with one selected item, keyboard-style
// selection moves and automatic scroll bars.
//
// Any screen object can be an item; non-client children (the scroll bars)
// are never counted, indexed or laid out. The moves select only items that
// are selectable by the pointer (GS_SELECTABLE). The selected item carries
// the style bit GST_SELECTED. Each selection queues signal 12 of the list
// (data: the item's id) for the list's parent while the list has an id and
// signal-mask bit 0x1000; a click (signal 4) of an item selects it and goes
// on to the list's parent.
//
// GuiVertList stacks the items top to bottom at the client width,
// GuiHorzList left to right at the client height. Set an automatic scroll
// mode (GUI_SCROLL_V_AUTO, GUI_SCROLL_H_AUTO) to get bars on overflow.
#pragma once

#include <cstdint>

#include "gui/core/gui_window.h"

enum : uint8_t {
    GT_LIST = 161,
    GT_VERT_LIST = 162,
    GT_HORZ_LIST = 163,
};

// Signal of a list: an item was selected.
constexpr uint8_t GUI_SIG_LIST_SELECT = 12;
// Style bit of a list: the moves wrap around at the ends.
constexpr uint16_t GLS_WRAP = 0x2000;

class GuiList : public GuiWindow {
public:
    GuiList(const GuiRect& rect, unsigned short id, unsigned short style);
    ~GuiList() override;

    int Message(const GuiMessage& msg) override;
    void Add(GuiThing* item, int redraw) override;
    void AddToEnd(GuiThing* item, int redraw) override;
    GuiThing* Remove(GuiThing* item, int redraw) override;
    int CheckAutoScroll() override;

    // Puts the item at the index (< 0: first, beyond the count: last) and
    // selects it when `select` is set.
    virtual void Insert(GuiThing* item, int index, int select, int redraw);
    virtual GuiThing* GetSelected();
    // Selects a client child of this list; anything else clears the
    // selection. Returns the new selection.
    virtual GuiThing* SetSelected(GuiThing* item);
    virtual int GetIndex(GuiThing* item);
    virtual GuiThing* GetThing(int index);
    virtual int GetSelectedIndex();
    virtual GuiThing* SetSelected(int index);
    // Removes and destroys every item.
    virtual void Clear();
    // Places the items inside the client area.
    virtual void PositionChildren() = 0;

    int GetNumItems();
    // Each returns the newly selected item, null when the selection stays.
    GuiThing* SelectNext();
    GuiThing* SelectPrevious();
    GuiThing* PageDown();
    GuiThing* PageUp();
    // Scrolls the items so that the selection lies inside the client area.
    void ScrollCurrentIntoView(int redraw);

    GuiThing* mpSelected;    // not owned; null when none
    int32_t mSeparation;     // from one item's far edge to the next item's near edge
    int32_t mReserved;

protected:
    bool IsHorizontal() const { return mType == GT_HORZ_LIST; }
    // Size of a thing along the list's direction.
    int Extent(const GuiThing* t) const;
    int ClientExtent() const;
    // Whether t is one of this list's items.
    bool IsItem(const GuiThing* t) const;
    static bool IsMoveTarget(const GuiThing* t);
    static GuiThing* NextItem(GuiThing* t);
    static GuiThing* PreviousItem(GuiThing* t);
    GuiThing* FirstItem() const;
    GuiThing* LastItem() const;
    // After items came or went: layout, bars, and a redraw when asked.
    void ItemsChanged(int redraw);
    // Settings every laid-out item gets from the list.
    void AdoptItem(GuiThing* item) const;
    // Invalidates and draws the thing when the list is shown.
    void Repaint(GuiThing* t);
    // One page or one selectable item towards the end (forward) or the start.
    GuiThing* Page(bool forward);
    GuiThing* Step(bool forward);
    // Adds at the front or the end.
    void AddItem(GuiThing* item, int redraw, bool atEnd);
    // The layout of both directions: items one after another.
    void StackItems();
};

class GuiVertList : public GuiList {
public:
    GuiVertList(const GuiRect& rect, unsigned short id, unsigned short style);
    ~GuiVertList() override;
    void PositionChildren() override;
};

class GuiHorzList : public GuiList {
public:
    GuiHorzList(const GuiRect& rect, unsigned short id, unsigned short style);
    ~GuiHorzList() override;
    void PositionChildren() override;
};
