// Shape slots of the widget catalogue that have no body yet: arcs, chords
// and pies draw nothing until the catalogue supplies them. Polygons, pattern
// lines, circles and ellipses are in gui/widgets/shapes/.
#include "gui/draw/gui_screen.h"

void GuiScreen::Arc(GuiThing*, int, int, int, int, int, GuiColor, int) {}
void GuiScreen::Chord(GuiThing*, GuiRect&, GuiPoint, GuiPoint, GuiColor, int) {}
void GuiScreen::Pie(GuiThing*, GuiRect&, GuiPoint, GuiPoint, GuiColor, int) {}

void GuiScreen::ArcToView(int, int, int, int, int, GuiColor, int, GuiRect&) {}
void GuiScreen::CheckArcPoint(int, int, int, int, int, int, GuiRect&) {}
void GuiScreen::ArcLine(int, int, int, int, GuiRect&) {}
void GuiScreen::ArcPlot(int, int, int, int, unsigned long, int, int, GuiRect&) {}
void GuiScreen::ArcFill(int, int, int, int, int, GuiColor, GuiRect&) {}
