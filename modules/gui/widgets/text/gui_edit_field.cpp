// GuiEditField: construction, the text, drawing and messages.
#include "gui/widgets/text/gui_edit_field.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "gui/draw/gui_screen.h"
#include "gui/widgets/text/gui_text_keys.h"

namespace {
constexpr uint16_t kEditable = 0x0100;
constexpr uint16_t kFocusStatus = GS_ACTIVE | GS_ACCEPTS_FOCUS | GS_SELECTABLE;   // 0x0444

int frameExtra(unsigned short style)
{
    if (style & (GST_FRAME_RAISED | GST_FRAME_RECESSED)) return 4;
    if (style & GST_FRAME_THIN) return 2;
    return 0;
}

int fontHeight(const GuiFont* font) { return GuiThing::mpScreen && font ? GuiThing::mpScreen->TextHeight(nullptr, font) : 0; }
}  // namespace

GuiEditField::GuiEditField(const GuiRect& rect, const char* text, unsigned short id, unsigned short style,
                           int maxChars)
    : GuiTextThing(rect, id, uint16_t(style | GST_COPY_TEXT | kEditable), text, GUI_FONT_SLOT_EDIT_FIELD)
{
    Initialize(style);
    FinishConstruction(maxChars);
}

GuiEditField::GuiEditField(int left, int top, int width, const char* text, unsigned short id, unsigned short style,
                           int maxChars)
    : GuiTextThing(id, uint16_t(style | GST_COPY_TEXT | kEditable), text, GUI_FONT_SLOT_EDIT_FIELD)
{
    Initialize(style);
    mOuter = mClip = GuiRect(left, top, left + width - 1, top + fontHeight(mpFont) + frameExtra(style));
    FinishConstruction(maxChars);
}

GuiEditField::GuiEditField(int left, int top, const char* text, unsigned short id, unsigned short style, int maxChars)
    : GuiTextThing(id, uint16_t(style | GST_COPY_TEXT | kEditable), text, GUI_FONT_SLOT_EDIT_FIELD)
{
    Initialize(style);
    if (mpText && mpScreen) {
        const int width = mpScreen->TextWidth(mpText, mpFont, -1);
        mOuter = mClip = GuiRect(left, top, left + width + 10, top + fontHeight(mpFont) + frameExtra(style));
    }
    FinishConstruction(maxChars);
}

GuiEditField::~GuiEditField() = default;

void GuiEditField::FinishConstruction(int maxChars)
{
    mMaxChars = maxChars;
    InitClient();
    mClient.left = int16_t(mClient.left + 1);
    mClient.right = int16_t(mClient.right - 1);
    mCursorPoint = GuiPoint{int16_t(mClient.left + 1), mClient.top};
}

void GuiEditField::Initialize(unsigned short style)
{
    mType = GT_EDIT_FIELD;
    if (style & kEditable) {
        mStatus |= GS_ACTIVE;
        mSignalMask = 1u << GUI_SIG_EDIT_DONE;
    } else {
        mStatus &= uint16_t(~GS_NEW_THING);
        mSignalMask = 0;
    }
    mColor[0] = 0xFFFFFF;
    mColor[1] = 0x0000BF;
    mColor[2] = 0x000000;
    mColor[3] = 0xFFFFFF;
    mCursor = 0;
    mFirstVisible = 0;
    mFieldFlags = 0;
    mMarkStart = mMarkEnd = -1;
    mMaxChars = -1;
    mCursorPoint = GuiPoint{0, 0};
}

unsigned short GuiEditField::Style() { return mStyle; }

void GuiEditField::Style(unsigned short style)
{
    mStyle = style;
    if (style & kEditable) mStatus |= kFocusStatus;
    else mStatus &= uint16_t(~kFocusStatus);
}

int GuiEditField::GetMarkStart() { return mMarkStart; }
int GuiEditField::GetMarkEnd() { return mMarkEnd; }

bool GuiEditField::IsMarked() const
{
    return (mFieldFlags & MARKED) && mpText && mMarkStart >= 0 && mMarkStart < mMarkEnd && mMarkEnd <= TextLength();
}

int GuiEditField::CharWidth(int ch) const
{
    if (!mpScreen) return 0;
    const char one[2] = {char(ch), 0};
    return mpScreen->TextWidth(one, mpFont, -1);
}

int GuiEditField::Width(int from, int to) const
{
    if (!mpText || !mpScreen) return 0;
    from = std::clamp(from, 0, TextLength());
    to = std::clamp(to, from, TextLength());
    return mpScreen->TextWidth(mpText + from, mpFont, to - from);
}

void GuiEditField::Invalidate()
{
    if (IsVisible() && mpScreen) mpScreen->Invalidate(mClient);
}

// ---- text -------------------------------------------------------------------------------------

void GuiEditField::DataSet(const char* text)
{
    std::string cut;
    if (text && mMaxChars >= 0 && std::strlen(text) > size_t(mMaxChars)) {
        cut.assign(text, size_t(mMaxChars));
        text = cut.c_str();
    }
    GuiTextThing::DataSet(text);
    const int clientWidth = mClient.right - mClient.left + 1;
    if (mpText) {
        const int length = TextLength();
        mFirstVisible = std::min(mFirstVisible, length);
        if (mCursor > length) {
            mCursor = length;
            mCursorPoint = GuiPoint{int16_t(mClient.left + Width(mFirstVisible, length)), mClient.top};
        }
        if (mFirstVisible >= 1) {
            int rest = Width(mFirstVisible, length);
            if (rest >= clientWidth && mCursor == length) {
                while (rest >= clientWidth && mFirstVisible < mCursor) {
                    const int w = CharWidth(static_cast<unsigned char>(mpText[mFirstVisible]));
                    rest -= w;
                    mCursorPoint.x = int16_t(mCursorPoint.x - w);
                    ++mFirstVisible;
                }
            } else if (rest < clientWidth) {
                while (mFirstVisible > 0) {
                    const int w = CharWidth(static_cast<unsigned char>(mpText[mFirstVisible - 1]));
                    if (rest + w >= clientWidth) break;
                    rest += w;
                    mCursorPoint.x = int16_t(mCursorPoint.x + w);
                    --mFirstVisible;
                }
            }
        }
    } else {
        mCursorPoint = GuiPoint{mClient.left, mClient.top};
        mCursor = 0;
        mFirstVisible = 0;
    }
    if ((mFieldFlags & MARK_ALL_NEXT) && mpText) {
        mMarkStart = 0;
        mMarkEnd = TextLength();
        mCursor = 0;
        mFirstVisible = 0;
        mFieldFlags = uint16_t((mFieldFlags | MARKED) & ~CURSOR_SHOWN);
    } else {
        mFieldFlags &= uint16_t(~(CURSOR_SHOWN | MARKED | MARK_ALL_NEXT));
        if (mStatus & GS_FOCUS_BRANCH) mFieldFlags |= CURSOR_SHOWN;
    }
    mFieldFlags &= uint16_t(~MODIFIED);
    if (IsVisible() && mpScreen) mpScreen->Invalidate(mOuter);
}

// ---- drawing ------------------------------------------------------------------------------------

void GuiEditField::Draw()
{
    GuiScreen* s = mpScreen;
    if (!s || !mpParent) return;
    s->BeginDraw(this);
    StandardBorder(mColor[0]);
    const GuiRect saved = mClip;
    mClip &= mClient;
    if (IsMarked()) {
        DrawMarked();
    } else if (mpText) {
        const int first = std::min(mFirstVisible, TextLength());
        const int x = (mStyle & GST_TEXT_RIGHT) ? mClient.right - Width(first, TextLength()) - 1 : mClient.left + 1;
        GuiColor colour{mColor[2], mColor[0], 0};
        s->DrawText(this, GuiPoint{int16_t(x), mClient.top}, mpText + first, colour, mpFont, -1, 0);
    }
    mClip = saved;
    if ((mFieldFlags & CURSOR_SHOWN) && !(mStyle & GST_TEXT_RIGHT))
        s->Line(this, mCursorPoint.x, mClient.top, mCursorPoint.x, mClient.bottom,
                GuiColor{GUI_CURSOR_COLOUR, GUI_CURSOR_COLOUR, 0}, 1);
    if (mpFirstChild) DrawChildren();
    s->EndDraw();
}

void GuiEditField::DrawMarked()
{
    GuiScreen* s = mpScreen;
    if (!s || !IsMarked()) return;
    s->BeginDraw(this);
    s->Invalidate(mClient);
    const GuiRect saved = mClip;
    mClip &= mClient;
    const int length = TextLength();
    const int first = std::min(mFirstVisible, length);
    int x = (mStyle & GST_TEXT_RIGHT) ? mClient.right - Width(first, length) - 1 : mClient.left + 1;
    auto piece = [&](int from, int to, bool selected) {
        if (to <= from) return;
        const std::string part(mpText + from, size_t(to - from));
        GuiColor colour{selected ? mColor[3] : mColor[2], selected ? mColor[1] : mColor[0], GUI_COLOR_FILL};
        s->DrawText(this, GuiPoint{int16_t(x), mClient.top}, part.c_str(), colour, mpFont, -1, 0);
        x += s->TextWidth(part.c_str(), mpFont, -1);
    };
    if (mMarkStart > first) piece(first, mMarkStart, false);
    piece(std::max(mMarkStart, first), mMarkEnd, true);
    piece(std::max(mMarkEnd, first), length, false);
    mClip = saved;
    s->EndDraw();
}

// ---- marks ----------------------------------------------------------------------------------------

void GuiEditField::SetMark(int start, int end)
{
    if (!mpText) return;
    mFieldFlags &= uint16_t(~(CURSOR_SHOWN | MARK_ALL_NEXT));
    const int length = TextLength();
    if (start >= 0 && start < length && start < end && end <= length) {
        mMarkStart = start;
        mMarkEnd = end;
        mFieldFlags |= MARKED;
        DrawMarked();
        return;
    }
    mFieldFlags &= uint16_t(~MARKED);
    Invalidate();
    Draw();
}

void GuiEditField::SetMark(char* start, char* end)
{
    if (!mpText || !start || !end) return;
    const uintptr_t text = reinterpret_cast<uintptr_t>(mpText);
    const uintptr_t last = text + uintptr_t(std::max(TextLength() - 1, 0));
    const uintptr_t s = reinterpret_cast<uintptr_t>(start), e = reinterpret_cast<uintptr_t>(end);
    if (s < text || s >= last || e <= s || e > last) return;
    mMarkStart = int(s - text);
    mMarkEnd = int(e - text);
    mFieldFlags = uint16_t((mFieldFlags | MARKED) & ~(CURSOR_SHOWN | MARK_ALL_NEXT));
    DrawMarked();
}

// ---- messages -------------------------------------------------------------------------------------

int GuiEditField::Message(const GuiMessage& msg)
{
    switch (msg.type) {
    case GM_HIDE: {
        const int r = GuiThing::Message(msg);
        mFieldFlags = 0;
        return r;
    }
    case GM_FOCUS_GAINED: {
        const int r = GuiThing::Message(msg);
        if (mpText) {
            mMarkStart = 0;
            mMarkEnd = TextLength();
            mCursor = 0;
            mFieldFlags = uint16_t((mFieldFlags | MARKED | MARK_ALL_NEXT) & ~(CURSOR_SHOWN | MODIFIED));
            mCursorPoint.x = int16_t(mClient.left - Width(0, mFirstVisible) + 1);
        } else {
            mCursor = 0;
            mCursorPoint = GuiPoint{int16_t(mClient.left + 1), mClient.top};
            mFieldFlags = uint16_t((mFieldFlags | CURSOR_SHOWN) & ~(MARKED | MARK_ALL_NEXT | MODIFIED));
        }
        Invalidate();
        Draw();
        return r;
    }
    case GM_FOCUS_LOST: {
        const int r = GuiThing::Message(msg);
        if ((mFieldFlags & MODIFIED) && SignalAllowed(GUI_SIG_EDIT_DONE)) SendSignal(GUI_SIG_EDIT_DONE);
        mFieldFlags = 0;
        if (IsVisible() && mpScreen) mpScreen->Invalidate(mOuter);
        Draw();
        return r;
    }
    case GM_CUT:
        CopyToScratchPad();
        DeleteMarkedText();
        mFieldFlags |= MODIFIED;
        Draw();
        return 0;
    case GM_COPY:
        CopyToScratchPad();
        return 0;
    case GM_PASTE:
        PasteFromScratchPad();
        mFieldFlags |= MODIFIED;
        return 0;
    default:
        return GuiThing::Message(msg);
    }
}
