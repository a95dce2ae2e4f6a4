// Screen objects: GuiThing, the node of the one tree of everything on the
// display, and GuiTextThing, a screen object with a text and a font.
//
// The root of the tree is the presentation manager. Classes change behaviour
// by overriding Message (0 = handled; non-zero ends the modal loop that
// dispatched the message). Children are owned by their parent once added and
// deleted with it. Tree changes run under the recursive GUI lock so that a
// task other than the GUI task may build a subtree; everything else belongs
// to the GUI task.
#pragma once

#include <cstdint>

#include "gui/core/gui_message.h"
#include "gui/core/gui_types.h"

class GuiScreen;
class GuiMessageQueue;
class GuiPresentationManager;

// ---- class codes (GuiThing::mType) ------------------------------------------------
enum : uint8_t {
    GT_THING = 1,
    GT_BUTTON = 5,
    GT_HSCROLL = 6,
    GT_VSCROLL = 7,
    GT_ICON = 8,
    GT_TEXT_BUTTON = 11,
    GT_BITMAP_BUTTON = 12,     // also the system buttons
    GT_RADIO = 14,
    GT_CHECK = 15,
    GT_PROMPT = 17,
    GT_WINDOW = 150,           // 150 and above: windows
};

// ---- style bits common to the library ------------------------------------------------
enum : uint16_t {
    GST_FRAME_NONE = 0x0001,
    GST_FRAME_THIN = 0x0002,
    GST_FRAME_RAISED = 0x0004,
    GST_FRAME_RECESSED = 0x0008,
    GST_FRAME_THICK = 0x0010,
    GST_FRAME_MASK = 0x001F,
    GST_TEXT_RIGHT = 0x0020,
    GST_TEXT_LEFT = 0x0040,
    GST_SELECTED = 0x1000,
    GST_COPY_TEXT = 0x2000,
    GST_TRANSPARENT = 0x4000,
    GST_ENABLED = 0x8000,
};

// ---- status bits ---------------------------------------------------------------------
enum : uint16_t {
    GS_VISIBLE = 0x0001,          // in the displayed tree
    GS_FOCUS_BRANCH = 0x0002,     // the thing or a descendant has the focus
    GS_SELECTABLE = 0x0004,       // pointer search descends into it
    GS_SIZABLE = 0x0008,
    GS_MOVABLE = 0x0010,
    GS_NONCLIENT = 0x0020,        // lives outside the parent's client area
    GS_ACCEPTS_FOCUS = 0x0040,
    GS_KEEPS_FOCUS = 0x0080,      // does not pass the focus to a client child
    GS_CURRENT_CHILD = 0x0100,    // the child of its parent that had the focus last
    GS_LIVE_SCROLL = 0x0200,
    GS_ACTIVE = 0x0400,
    GS_CAPTURE = 0x0800,          // holds a pointer capture
    GS_ON_TOP = 0x4000,           // in front of siblings without it
    GS_VIEWPORT_OWNER = 0x8000,   // visible parts computed by the drawing surface
};

constexpr uint16_t GS_NEW_THING = GS_SELECTABLE | GS_ACCEPTS_FOCUS;   // 0x0044

class GuiThing {
public:
    GuiThing(const GuiRect& rect, unsigned short id, unsigned short style);
    GuiThing(unsigned short id, unsigned short style);
    GuiThing(const GuiThing&) = delete;
    GuiThing& operator=(const GuiThing&) = delete;

    // Virtual operations; subclasses append theirs after these.
    virtual ~GuiThing();
    virtual int Message(const GuiMessage& msg);
    virtual void Draw();
    virtual void Add(GuiThing* child, int draw);
    virtual void AddToEnd(GuiThing* child, int draw);
    virtual void MoveToFront(GuiThing* child, int draw);
    virtual GuiThing* Remove(GuiThing* child, int draw);
    virtual void SetColor(unsigned char index, unsigned long colour);
    virtual unsigned long GetColor(unsigned char index);
    virtual void Center(GuiThing* child);
    virtual void DrawChildren();
    virtual void Resize(GuiRect rect);
    virtual GuiThing* Find(unsigned short id, int recursive);
    virtual void AddStatus(unsigned short bits);
    virtual void RemoveStatus(unsigned short bits);
    virtual unsigned short Style();
    virtual void Style(unsigned short style);
    virtual void InitClient();
    virtual GuiPoint CenterOf(GuiThing* other);
    virtual void SendSignal(unsigned char signal);
    virtual void ParentShift(int dx, int dy);
    virtual void KillFocus(GuiThing* thing);
    virtual void MoveFocusToFirstClientChild();

    // Removes and deletes `thing` (this thing, a child or any other); defers
    // the deletion by message when it is the caller or lives in another task.
    void Destroy(GuiThing* thing);
    void CapturePointer();
    void ReleasePointer();
    void MessageChildren(const GuiMessage& msg);
    void StandardBorder(unsigned long fill);
    void UpdateChildClipping();
    static const char* Version();

    // Whether `this` is `ancestor` or lies inside it.
    bool IsInside(const GuiThing* ancestor) const;
    bool IsVisible() const { return (mStatus & GS_VISIBLE) != 0; }
    bool IsWindow() const { return mType >= GT_WINDOW; }
    bool IsNonClient() const { return (mStatus & GS_NONCLIENT) != 0; }
    // Whether the signal may be sent: an id, the mask bit and a visible parent.
    bool SignalAllowed(unsigned char signal) const;

    // Fields, in this order on every screen object.
    uint32_t mColor[4];          // normal fill, selected fill, text, selected text
    GuiRect mOuter;              // the whole thing on the screen
    GuiRect mClient;             // inside the frame: where client children live
    GuiRect mClip;               // the part that may be drawn
    uint8_t mType;
    uint16_t mStyle;
    uint16_t mId;
    uint16_t mStatus;
    uint16_t mSignalMask;
    GuiThing* mpParent;
    GuiThing* mpFirstChild;
    GuiThing* mpNext;
    GuiThing* mpPrev;
    GuiViewport* mpViewports;    // kept by the drawing surface; null unless owned

    // Shared by all screen objects; set once by the GUI task at start-up.
    static GuiScreen* mpScreen;
    static GuiPresentationManager* mpPresentation;
    static GuiMessageQueue* mpMessageQueue;

protected:
    // Links `child` in front of the first child, keeping the groups of
    // viewport owners and stay-in-front things ahead of the others.
    void LinkAtFront(GuiThing* child);
    // Links an unlinked `child` in front of the child `before` (null: at
    // the end); only the links change.
    void LinkBefore(GuiThing* child, GuiThing* before);
    void Unlink(GuiThing* child);
    // Step shared by Add and AddToEnd once the child is linked.
    void ShowLinkedChild(GuiThing* child, int draw, bool drawChildItself);
    void ClipChild(GuiThing* child) const;
};

// ---- text things -------------------------------------------------------------------------
extern const GuiFont SysFont;
extern const GuiFont MenuFont;

class GuiTextThing : public GuiThing {
public:
    GuiTextThing(const GuiRect& rect, unsigned short id, unsigned short style, const char* text,
                 int fontSlot);
    GuiTextThing(unsigned short id, unsigned short style, const char* text, int fontSlot);
    ~GuiTextThing() override;

    virtual void DataSet(const char* text);
    virtual void SetFont(const GuiFont* font);

    void Initialize(unsigned short style, const char* text, int fontSlot);
    void SetCopyMode();
    // Stores a font in slot 0..31 (0 for other slots); with freeOld the font
    // chain in the slot is freed first (only fonts made on the heap).
    static int AssignFontTablePointer(int slot, GuiFont* font, int freeOld);

    const GuiFont* mpFont;
    char* mpText;
    int32_t mLength;        // text length with its terminating zero, 0 for none
    int32_t mBufferSize;    // bytes of the owned copy, 0 when borrowed
    int32_t mCopy;          // 1: owns a heap copy of its text

    static constexpr int FONT_SLOTS = 32;
    static const GuiFont* mFontTable[FONT_SLOTS];
};
