// Shape primitives of the widget catalogue (polygons, circles, ellipses,
// arcs, chords, pies, pattern lines and fills). Their slots exist so that
// every driver has the full surface; until the catalogue supplies the
// bodies they draw nothing.
#include "gui/draw/gui_screen.h"

void GuiScreen::SetFillPattern(GuiBitmap* pattern) { mpFillPattern = pattern; }

void GuiScreen::Polygon(GuiThing*, GuiPoint*, int, const GuiColor&, int) {}
void GuiScreen::Circle(GuiThing*, int, int, int, GuiColor&, int) {}
void GuiScreen::Ellipse(GuiThing*, const GuiRect&, GuiColor, int) {}
void GuiScreen::PatternLine(GuiThing*, int, int, int, int, GuiColor&, int, unsigned long, int) {}
void GuiScreen::Arc(GuiThing*, int, int, int, int, int, GuiColor, int) {}
void GuiScreen::Chord(GuiThing*, GuiRect&, GuiPoint, GuiPoint, GuiColor, int) {}
void GuiScreen::Pie(GuiThing*, GuiRect&, GuiPoint, GuiPoint, GuiColor, int) {}

void GuiScreen::FillPolygon(GuiThing*, GuiRect&, GuiPoint*, int, unsigned long) {}
void GuiScreen::Circle(const GuiRect&, int, int, int, GuiColor&, int) {}
void GuiScreen::CircleFast(int, int, int, GuiColor&, int) {}
void GuiScreen::FillCircle(const GuiRect&, int, int, int, unsigned long) {}
void GuiScreen::FillCircleFast(int, int, int, unsigned long) {}
void GuiScreen::OutlineCircle(const GuiRect&, int, int, int, unsigned long, int) {}
void GuiScreen::OutlineCircleFast(int, int, int, unsigned long, int) {}
void GuiScreen::FillPolygonView(const GuiRect&, GuiPoint*, int, unsigned long) {}
void GuiScreen::PatternFillPolygon(GuiThing*, GuiRect&, GuiPoint*, int, unsigned long) {}
void GuiScreen::PatternFillPolygonView(const GuiRect&, GuiPoint*, int) {}
void GuiScreen::PatternLine(int, int, int, int, GuiRect&, const GuiColor&, int, unsigned long) {}
void GuiScreen::EllipseToView(const GuiRect&, GuiColor&, int, GuiRect) {}
void GuiScreen::EllipseFast(const GuiRect&, GuiColor&, int) {}
void GuiScreen::PlotEllipsePoints(GuiRect&) {}
void GuiScreen::ArcToView(int, int, int, int, int, GuiColor, int, GuiRect&) {}
void GuiScreen::CheckArcPoint(int, int, int, int, int, int, GuiRect&) {}
void GuiScreen::ArcLine(int, int, int, int, GuiRect&) {}
void GuiScreen::ArcPlot(int, int, int, int, unsigned long, int, int, GuiRect&) {}
void GuiScreen::ArcFill(int, int, int, int, int, GuiColor, GuiRect&) {}
