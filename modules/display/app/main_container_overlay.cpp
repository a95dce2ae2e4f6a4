// Text overlays and the external alarm window of the main container.
#include <functional>

#include "display/app/display_requests.h"
#include "display/app/main_container.h"
#include "display/fonts/korva_fonts.h"
#include "display/pages/cdisppage.h"
#include "gui/draw/gui_screen.h"

namespace {

constexpr uint16_t kOverlayPromptStyle = 0x6081;
constexpr uint16_t kResetLetterStyle = 0x2081;

GuiRect at(const GuiRect& client, int l, int t, int r, int b)
{
    return GuiRect(int16_t(client.left + l), int16_t(client.top + t), int16_t(client.left + r),
                   int16_t(client.top + b));
}

GuiPrompt* overlayPrompt(const GuiRect& r, const char* text)
{
    auto* p = new GuiPrompt(r, text ? text : "", 0, kOverlayPromptStyle, 0);
    p->SetFont(Korva_getFont(FONT_TINY));
    return p;
}

}  // namespace

void CMainContainer::removeText()
{
    if (!textWindow) return;
    for (GuiPrompt*& p : {std::ref(textPrompt1), std::ref(textPrompt2)}) {
        if (!p) continue;
        textWindow->Remove(p, 1);
        delete p;
        p = nullptr;
    }
    if (textWindow->mpParent) Remove(textWindow, 1);
    delete textWindow;
    textWindow = nullptr;
}

void CMainContainer::show_text(const char* text)
{
    removeText();
    const GuiRect& c = mClient;
    textWindow = new GuiWindow(at(c, 15, 150, 625, 250), GST_FRAME_NONE);
    textPrompt1 = overlayPrompt(at(c, 40, 160, 600, 240), text);
    textWindow->Add(textPrompt1, 1);
    Add(textWindow, 1);
    textWindow->SetColor(0, 0xFF0000);
    if (mpScreen) mpScreen->Invalidate(textWindow->mOuter);
    textWindow->Draw();
    MoveToFront(textWindow, 1);
    flushAndWait();
}

void CMainContainer::show_text2(const char* text1, const char* text2)
{
    removeText();
    const GuiRect& c = mClient;
    textWindow = new GuiWindow(at(c, 15, 130, 625, 270), GST_FRAME_NONE);
    textPrompt1 = overlayPrompt(at(c, 40, 140, 600, 200), text1);
    textPrompt2 = overlayPrompt(at(c, 40, 200, 600, 260), text2);
    textWindow->Add(textPrompt1, 1);
    textWindow->Add(textPrompt2, 1);
    Add(textWindow, 1);
    textWindow->SetColor(0, 0xFF0000);
    if (mpScreen) mpScreen->Invalidate(textWindow->mOuter);
    textWindow->Draw();
    MoveToFront(textWindow, 1);
    flushAndWait();
}

void CMainContainer::hide_text()
{
    removeText();
    flushAndWait();
}

void CMainContainer::update_ext_wnd(bool reset)
{
    if (disp_started.load() != 1) return;
    ext_alarm_s& a = ext_alarm;
    if (reset) a.hidden = 0;
    const GuiRect r(int16_t(a.left), int16_t(a.top), int16_t(a.left + a.width - 1), int16_t(a.top + a.height - 1));
    if ((a.active & 1) && !a.hidden) {
        if (!extWindow) {
            extWindow = new GuiWindow(r, GST_FRAME_NONE);
            extWindow->SetColor(0, a.backColour);
            extPrompt = new GuiPrompt(r, a.text, 0, kOverlayPromptStyle, 0);
            extPrompt->SetFont(Korva_getFont(FONT_NORMAL));
            extPrompt->SetColor(2, a.textColour);
            extPrompt->SetColor(0, a.backColour);
            extWindow->Add(extPrompt, 1);
            a.changed = 0;
            if (!extResetPrompt && a.resettable) {
                const GuiFont* f = Korva_getFont(FONT_TINY);
                const int w = mpScreen ? mpScreen->TextWidth("R", f, -1) : 0;
                const int h = mpScreen ? mpScreen->TextHeight("R", f) : 0;
                extResetPrompt = new GuiPrompt(GuiRect(r.left, r.top, int16_t(r.left + w), int16_t(r.top + h)), "R", 0,
                                               kResetLetterStyle, 0);
                extResetPrompt->SetFont(f);
                extResetPrompt->SetColor(0, a.textColour);
                extResetPrompt->SetColor(2, a.backColour);
                extWindow->Add(extResetPrompt, 1);
            }
        } else if (a.changed) {
            extWindow->Resize(r);
            extPrompt->Resize(r);
            extWindow->SetColor(0, a.backColour);
            extPrompt->DataSet(a.text);
            extPrompt->SetColor(2, a.textColour);
            extPrompt->SetColor(0, a.backColour);
            if (extResetPrompt) {
                extResetPrompt->SetColor(0, a.textColour);
                extResetPrompt->SetColor(2, a.backColour);
            }
            if (mpScreen) mpScreen->Invalidate(extWindow->mOuter);
            a.changed = 0;
        }
        a.shown = 1;
        Add(extWindow, 1);
        extWindow->Draw();
        if (!current()) flushAndWait();
    } else if (a.shown && extWindow) {
        Remove(extWindow, 1);
        if (!current()) flushAndWait();
        a.shown = 0;
    }
}
