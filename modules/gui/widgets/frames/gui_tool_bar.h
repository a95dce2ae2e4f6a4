// GuiToolBar: a strip below a window's title and menu bar holding panels
// edge to edge. GuiToolBarPanel: a raised box with a two-line grip at its
// left that lays out its children (typically buttons) in a row.
#pragma once

#include <cstdint>

#include "gui/core/gui_thing.h"

class GuiToolBarPanel : public GuiThing {
public:
    explicit GuiToolBarPanel(unsigned short id);
    ~GuiToolBarPanel() override;

    void Draw() override;
    void Add(GuiThing* child, int draw) override;
    void AddToEnd(GuiThing* child, int draw) override;
    GuiThing* Remove(GuiThing* child, int draw) override;

    // Appended operation: the children in a row right of the grip; the
    // panel fits its width and height to them.
    virtual void PositionChildren();
};

class GuiToolBar : public GuiThing {
public:
    explicit GuiToolBar(unsigned short id);
    ~GuiToolBar() override;

    int Message(const GuiMessage& msg) override;
    void Draw() override;

    // Appended operations, in this order.
    virtual void AddPanel(GuiToolBarPanel* panel, int redraw);
    virtual void RemovePanel(GuiThing* panel, int redraw);
    virtual void PositionPanels();
    // Spans the parent's width under its title and menu bar.
    virtual void SizeToParent();
    // Grows the bar to its tallest panel while it is not on the screen.
    virtual void SizeToTallestPanel();

    int32_t mPanelHeight;   // only grows

private:
    void Repaint(int redraw);
};
