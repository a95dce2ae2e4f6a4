// GuiComboBox: a closed field showing the selected item of a drop-down
// list, with a down-arrow button at its right end.
//
// The arrow opens the list (ComboList, a vertical item list) as a
// stay-in-front window of the presentation manager directly under the
// field; a click on an item, the arrow again or the loss of the focus
// closes it. A selection made while the list was open is reported as
// signal 12 of the combo box (data: the item's id) to its parent. The field
// shows the selected item as a bitmap, drawn off-screen.
//
// The list is owned by the combo box, also while it is shown: a combo box
// destroyed or hidden with its list open takes the list off the screen.
#pragma once

#include <cstdint>

#include "gui/widgets/lists/gui_list.h"

class GuiBitmapButton;
class ComboList;

constexpr uint8_t GT_COMBO_BOX = 164;
// Id of the arrow button; its click is message 0x3F04 to the combo box.
constexpr unsigned short GUI_ID_COMBO_ARROW = 1000;

class GuiComboBox : public GuiThing {
public:
    // rect: the field and, below it, the area the open list takes.
    GuiComboBox(const GuiRect& rect, unsigned short id, unsigned short style);
    ~GuiComboBox() override;

    int Message(const GuiMessage& msg) override;
    void Draw() override;
    // Items go to the list.
    void Add(GuiThing* item, int redraw) override;
    void AddToEnd(GuiThing* item, int redraw) override;
    GuiThing* Remove(GuiThing* thing, int redraw) override;
    void Resize(GuiRect rect) override;
    GuiThing* Find(unsigned short id, int recursive) override;

    virtual void Insert(GuiThing* item, int index, int select, int redraw);
    virtual GuiThing* GetSelected();
    virtual GuiThing* SetSelected(GuiThing* item);
    virtual GuiThing* SetSelected(int index);
    virtual int GetIndex(GuiThing* item);
    virtual GuiThing* GetThing(int index);
    virtual int GetSelectedIndex();
    virtual void Clear();

    void SetScrollMode(unsigned int mode);
    void OpenList();
    void CloseList();
    // Signal 12 when the list's selection is not the item the field shows.
    void SendListSelect();
    // The closed field's height by the items and the frame; places the arrow.
    void CalcCloseHeight();
    // Draws the list's selection into the field's image (none: no image).
    void CaptureSelectedToBitmap();

    GuiBitmapButton* mpButton;   // owned child
    ComboList* mpList;           // owned; null only once the list was deleted elsewhere
    GuiBitmap* mpImage;          // owned: the last capture of the selection
    GuiThing* mpShown;           // the item last captured, not owned
    int32_t mOpenHeight;         // outer height at construction
    int32_t mClosedHeight;
    int32_t mOpen;

private:
    // After items changed: layout, redraw of a shown list, field height.
    void ItemsChanged(int redraw);
    // Inset of the frame on each side.
    int FrameInset() const;
    void ReleaseImage();
    void Repaint();
};

class ComboList : public GuiVertList {
public:
    ComboList(GuiComboBox* owner, const GuiRect& rect, unsigned short id, unsigned short style);
    ~ComboList() override;

    int Message(const GuiMessage& msg) override;
    void PositionChildren() override;

    GuiComboBox* mpOwner;   // not owned; null once the owner let go
};
