// Start of the display application: the GUI tasks, the start-up task that
// switches the panel on, the hooks the GUI task calls and the boot logo.
#include <cerrno>
#include <cstring>

#include "display/app/display_backlight.h"
#include "display/app/display_requests.h"
#include "display/app/main_container.h"
#include "display/fonts/korva_fonts.h"
#include "gui/core/gui_presentation.h"
#include "gui/core/gui_task.h"
#include "gui/draw/gui_screen.h"
#include "gui/draw/scrndrv.h"
#include "host/os/os.h"
#include "platform/io.h"
#include "platform/syslogx.h"

GuiBitmap* gbBootLogoBitmap = nullptr;
TASK_ID gGuiTask = nullptr;
TASK_ID gTimerTask = nullptr;

namespace {

constexpr int kGuiPriority = 121;
constexpr int kTimerPriority = 120;
constexpr int kDefaultPriority = 120;
constexpr size_t kStack = 500000;
constexpr cpuset_t kFirstCore = 1;
constexpr uint32_t kLogoBackground = 0x102040;
constexpr uint32_t kLogoText = 0xC0C8D8;

void initDoneBody(intptr_t sem) { displayInitDone(reinterpret_cast<SEM_ID>(sem)); }

void bindToFirstCore(TASK_ID tid, const char* what)
{
    if (taskCpuAffinitySet(tid, kFirstCore) != OK)
        syslogx(147, "displayInit() failed to set cpu affinity for %s, tid %X, cpuset %d, errno %s", what,
                unsigned(reinterpret_cast<uintptr_t>(tid)), int(kFirstCore), strerror(errno));
}

}  // namespace

void displayInitDone(SEM_ID sem)
{
    if (sem && semTake(sem, WAIT_FOREVER) == OK) semDelete(sem);
    displayBacklightSwitchOn();
    digital_ioOut(5, 1);
    scrndrvLayerEnable(1);
}

void displayInit(void)
{
    int priority = kDefaultPriority;
    if (taskPriorityGet(taskIdSelf(), &priority) != OK) priority = kDefaultPriority;
    SEM_ID sem = semBCreate(SEM_Q_PRIORITY, SEM_EMPTY);
    // The fonts are unpacked before the GUI task exists, so that it never
    // draws with a font that is still being unpacked.
    KorvaFonts_ini();

    if (!taskSpawn("r_dispInitDone", priority, VX_FP_TASK, kStack, initDoneBody, reinterpret_cast<intptr_t>(sem))) {
        syslogx(147, "displayInit(): create displayInitDone failed");
        return;
    }
    TASK_ID gui = taskSpawn("r_GuiMn", kGuiPriority, VX_FP_TASK, kStack, GuiTaskMain, reinterpret_cast<intptr_t>(sem));
    if (!gui) {
        syslogx(147, "displayInit(): create GuiMain failed");
        return;
    }
    bindToFirstCore(gui, "GuiMn");
    TASK_ID timer = taskSpawn("r_t_GuiTmr", kTimerPriority, VX_FP_TASK, kStack, GuiTimerTask, 0);
    if (!timer) {
        syslogx(147, "displayInit(): create GuiTimer failed");
        return;
    }
    bindToFirstCore(timer, "t_GuiTmr");
    gGuiTask = gui;
    gTimerTask = timer;
    ext_alarm.shown = ext_alarm.hidden = ext_alarm.active = ext_alarm.changed = 0;
}

void ConfigureGuiInput() {}
void RestoreGuiInput() { displayReleaseBootLogo(); }

void GuiAppInitialize(GuiPresentationManager* pm)
{
    if (!pm) return;
    displayBootLogo();
    auto* container = new CMainContainer(GuiRect(0, 0, 640, 480), GST_FRAME_NONE);
    pm->Add(container, 1);
    if (GuiScreen* s = GuiThing::mpScreen) {
        s->Invalidate(pm->mOuter);
        pm->Draw();
        s->FlushScreen();
        s->WaitFlushFinish();
    }
}

GuiBitmap* displayBootLogo()
{
    GuiScreen* s = GuiThing::mpScreen;
    if (gbBootLogoBitmap || !s) return gbBootLogoBitmap;
    GuiBitmap* b = s->CreateBitmap(SCRNDRV_VISIBLE_WIDTH, SCRNDRV_VISIBLE_HEIGHT, 0);
    if (!b) return nullptr;
    GuiThing owner(GuiRect(0, 0, SCRNDRV_VISIBLE_WIDTH - 1, SCRNDRV_VISIBLE_HEIGHT - 1), 0, GST_FRAME_NONE);
    owner.mStatus |= GS_VISIBLE;
    s->BeginDraw(&owner, b);
    if (s->DrawingIntoBitmap()) {
        s->Rectangle(&owner, owner.mOuter, GuiColor{kLogoBackground, kLogoBackground, GUI_COLOR_FILL}, 0);
        const char* name = "TAV9";
        const GuiFont* f = Korva_getFont(FONT_XXLARGE);
        const int w = s->TextWidth(name, f, -1), h = s->TextHeight(name, f);
        GuiColor c{kLogoText, kLogoBackground, 0};
        s->DrawText(&owner, GuiPoint{int16_t((SCRNDRV_VISIBLE_WIDTH - w) / 2), int16_t((SCRNDRV_VISIBLE_HEIGHT - h) / 2)},
                    name, c, f, -1, 0);
        s->EndDraw(b);
    }
    gbBootLogoBitmap = b;
    return b;
}

void displayReleaseBootLogo()
{
    if (gbBootLogoBitmap && GuiThing::mpScreen) GuiThing::mpScreen->DestroyBitmap(gbBootLogoBitmap);
    gbBootLogoBitmap = nullptr;
}
