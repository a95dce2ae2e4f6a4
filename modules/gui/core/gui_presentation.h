// The presentation manager: root of the screen-object tree, a window over
// the whole screen. It runs the GUI task's message loop, routes untargeted
// messages, keeps the input focus, the pointer capture (8 deep) and a stack
// of replaced screens, hands messages to tasks that execute their own
// windows, and holds the copy-and-paste scratch pad.
#pragma once

#include <atomic>
#include <cstdint>

#include "gui/core/gui_queue.h"
#include "gui/core/gui_window.h"
#include "host/os/os.h"

// A window executed modally by a task other than the GUI task.
struct GuiTaskRecord {
    GuiTaskRecord* next;
    GuiThing* window;
    TASK_ID task;
    GuiQueue* queue;
};

constexpr int GUI_CAPTURE_DEPTH = 8;
constexpr int GUI_SCREEN_STACK = 20;
// Result that ends the GUI task's message loop.
constexpr int GUI_RESULT_QUIT = -19;

class GuiPresentationManager : public GuiWindow {
public:
    explicit GuiPresentationManager(const GuiRect& rect);
    ~GuiPresentationManager() override;

    int Message(const GuiMessage& msg) override;
    void Add(GuiThing* thing, int draw) override;
    GuiThing* Remove(GuiThing* thing, int draw) override;
    void KillFocus(GuiThing* thing) override;
    int Execute(int add) override;

    virtual int DispatchMessage(GuiThing* start, GuiMessage* msg);
    virtual void CapturePointer(GuiThing* thing);
    virtual void ReleasePointer(GuiThing* thing);
    virtual void SetFocus(GuiThing* thing);
    using GuiThing::CapturePointer;
    using GuiThing::ReleasePointer;

    int RouteMessageToTask(GuiMessage* msg);
    GuiQueue* GetThingMessageQueue(GuiThing* thing);
    GuiQueue* GetCurrentMessageQueue();
    void BeginSubTaskExecute(GuiThing* window);
    void EndSubTaskExecute(GuiThing* window);

    GuiThing* FindLowestThingContaining(GuiThing* start, GuiPoint point);
    void MoveFocusTree(GuiThing* thing);
    void InsureBranchHasFocus(GuiThing* thing);
    void NullInput(GuiThing* thing);
    GuiThing* GetPointerOwner();

    int ScreenPush(GuiThing* current, GuiThing* next, int remove, int drawOnRemove, int center,
                   int execute);
    GuiThing* ScreenPop(GuiThing* current, int remove, int destroy, int draw);
    GuiThing* ScreenPop();
    void ScreenStackReset(int unstack, int destroy, int unused);
    int ScreenStackDepth() const { return GUI_SCREEN_STACK - mScreenIndex; }

    void SetScratchPad(const char* text);
    void ClearScratchPad();

    GuiTaskRecord* mpTasks;               // newest first
    GuiThing* mpFocus;                    // receives keys and untargeted messages
    GuiThing* mpSavedFocus;               // focus before the first capture
    GuiThing* mpPointerOver;              // thing the pointer was last over
    GuiThing* mCapture[GUI_CAPTURE_DEPTH];
    GuiThing** mpScreenStack;             // GUI_SCREEN_STACK entries
    int32_t mScreenIndex;                 // GUI_SCREEN_STACK = empty; counts down
    char* mpScratchPad;
    uint8_t mCaptureCount;
    int32_t mFocusRestorePending;

private:
    GuiThing* FirstChildWithStatus(uint16_t bits) const;
    // Number of records in the task list: lets routing skip the GUI lock
    // while no other task executes a window.
    std::atomic<int> mTaskCount{0};
};
