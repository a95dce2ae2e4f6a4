// GuiEditField: keys, cursor movement by whole characters, the marked text
// and the scratch pad.
#include <algorithm>
#include <cstring>
#include <string>

#include "gui/core/gui_presentation.h"
#include "gui/draw/gui_screen.h"
#include "gui/widgets/text/gui_edit_field.h"
#include "gui/widgets/text/gui_text_keys.h"

// ---- cursor movement --------------------------------------------------------------------------

void GuiEditField::KeepCursorInside()
{
    // Stops at the cursor, so a field narrower than a character cannot
    // scroll past the text.
    while (mpText && mCursorPoint.x >= mClient.right && mFirstVisible < std::min(mCursor, TextLength())) {
        mCursorPoint.x = int16_t(mCursorPoint.x - CharWidth(static_cast<unsigned char>(mpText[mFirstVisible])));
        ++mFirstVisible;
    }
}

void GuiEditField::AdvanceCursor(int ch)
{
    mCursorPoint.x = int16_t(mCursorPoint.x + CharWidth(ch));
    KeepCursorInside();
}

void GuiEditField::RetardCursor(int ch)
{
    mCursorPoint.x = int16_t(mCursorPoint.x - CharWidth(ch));
    while (mCursorPoint.x < mClient.left && mFirstVisible > 0 && mpText) {
        --mFirstVisible;
        mCursorPoint.x = int16_t(mCursorPoint.x + CharWidth(static_cast<unsigned char>(mpText[mFirstVisible])));
    }
}

void GuiEditField::SetCursorPos(GuiPoint point)
{
    const int d = point.x - mClient.left;
    mCursorPoint.y = mClient.top;
    if (!mpText) {
        mCursor = 0;
        mCursorPoint.x = int16_t(mClient.left + 1);
        return;
    }
    const int length = TextLength();
    int index = std::min(mFirstVisible, length);
    int at = 1;
    while (index < length) {
        const int w = CharWidth(static_cast<unsigned char>(mpText[index]));
        if (at + w <= d) {
            at += w;
            ++index;
            continue;
        }
        if (at + w - d < d - at) {   // nearer the character's right edge
            at += w;
            ++index;
        }
        break;
    }
    mCursor = index;
    mCursorPoint.x = int16_t(mClient.left + at);
}

void GuiEditField::KeyEnd()
{
    if (!mpText) return;
    mCursor = TextLength();
    mFirstVisible = 0;
    mCursorPoint.x = int16_t(mClient.left + Width(0, mCursor));
    KeepCursorInside();
    Invalidate();
}

void GuiEditField::KeyHome()
{
    if (mCursor == 0) return;
    mCursor = 0;
    mFirstVisible = 0;
    mCursorPoint.x = mClient.left;
    Invalidate();
}

// ---- marked text and scratch pad --------------------------------------------------------------

void GuiEditField::DeleteMarkedText()
{
    if (!IsMarked()) return;
    mCursorPoint.y = mClient.top;
    mFieldFlags = uint16_t((mFieldFlags | CURSOR_SHOWN) & ~MARKED);
    if (mMarkStart == 0 && mMarkEnd >= TextLength()) {
        GuiTextThing::DataSet(nullptr);
        mCursor = 0;
        mFirstVisible = 0;
        mCursorPoint.x = mClient.left;
        return;
    }
    std::string text(mpText);
    text.erase(size_t(mMarkStart), size_t(mMarkEnd - mMarkStart));
    GuiTextThing::DataSet(text.c_str());
    mCursor = mMarkStart;
    mFirstVisible = std::min(mFirstVisible, mCursor);
    mCursorPoint.x = int16_t(mClient.left + Width(mFirstVisible, mCursor));
}

void GuiEditField::ReplaceMarkedText(int ch)
{
    if (!IsMarked()) return;
    const char c = char(ch);
    if (mMarkStart == 0 && mMarkEnd >= TextLength()) {
        const char one[2] = {c, 0};
        GuiTextThing::DataSet(one);
        mFirstVisible = 0;
        mCursor = 1;
    } else {
        std::string text(mpText);
        text.replace(size_t(mMarkStart), size_t(mMarkEnd - mMarkStart), 1, c);
        GuiTextThing::DataSet(text.c_str());
        mCursor = mMarkStart + 1;
        mFirstVisible = std::min(mFirstVisible, mMarkStart);
    }
    mCursorPoint = GuiPoint{int16_t(mClient.left + Width(mFirstVisible, mCursor)), mClient.top};
    KeepCursorInside();
    mFieldFlags = uint16_t((mFieldFlags | CURSOR_SHOWN) & ~MARKED);
}

void GuiEditField::CopyToScratchPad()
{
    if (!IsMarked() || !mpPresentation) return;
    mpPresentation->SetScratchPad(std::string(mpText + mMarkStart, size_t(mMarkEnd - mMarkStart)).c_str());
}

void GuiEditField::PasteFromScratchPad()
{
    const char* pad = mpPresentation ? mpPresentation->mpScratchPad : nullptr;
    if (!pad || !*pad) return;
    if (mpText) {
        if (mFieldFlags & (MARKED | MARK_ALL_NEXT)) DeleteMarkedText();
        mFieldFlags &= uint16_t(~MARK_ALL_NEXT);
    }
    if (mpText) {
        // Only as much of the pad as the maximum leaves room for: the text
        // behind the cursor is never cut off.
        std::string text(mpText);
        size_t n = std::strlen(pad);
        if (mMaxChars >= 0) n = std::min(n, size_t(std::max(mMaxChars - TextLength(), 0)));
        const size_t at = size_t(std::clamp(mCursor, 0, TextLength()));
        text.insert(at, pad, n);
        const int cursor = mCursor;
        DataSet(text.c_str());
        mCursor = std::min(cursor, TextLength());
    } else {
        DataSet(pad);
        mCursor = TextLength();
        mFirstVisible = 0;
        mCursorPoint = GuiPoint{int16_t(mClient.left + Width(0, mCursor)), mClient.top};
        KeepCursorInside();
    }
    mFieldFlags = uint16_t((mFieldFlags | CURSOR_SHOWN) & ~MARKED);
    Draw();
}

// ---- keys ------------------------------------------------------------------------------------------

int GuiEditField::InsertKey(int key)
{
    if (IsMarked()) {
        if (GuiIsTextCharacter(key)) {
            ReplaceMarkedText(key);
            mFieldFlags = uint16_t((mFieldFlags & ~MARK_ALL_NEXT) | MODIFIED);
            return 1;
        }
        switch (key) {
        case int(GUI_KEY_BACKSPACE):
        case int(GUI_KEY_DELETE):
            DeleteMarkedText();
            mFieldFlags = uint16_t((mFieldFlags & ~MARK_ALL_NEXT) | MODIFIED);
            return 1;
        case int(GUI_KEY_HOME):
        case int(GUI_KEY_LEFT):
            mFieldFlags = uint16_t((mFieldFlags | CURSOR_SHOWN) & ~(MARKED | MARK_ALL_NEXT));
            mCursor = 1;   // so that Home moves
            KeyHome();
            mFieldFlags |= MODIFIED;
            return 1;
        case int(GUI_KEY_END):
        case int(GUI_KEY_RIGHT):
            mFieldFlags = uint16_t((mFieldFlags | CURSOR_SHOWN) & ~(MARKED | MARK_ALL_NEXT));
            KeyEnd();
            mFieldFlags |= MODIFIED;
            return 1;
        default:
            return 0;
        }
    }
    if (GuiIsTextCharacter(key)) {
        const int length = TextLength();
        if (mMaxChars >= 0 && length >= mMaxChars) return 0;
        const char c = char(key);
        if (mpText) {
            std::string text(mpText);
            const int at = std::clamp(mCursor, 0, length);
            text.insert(size_t(at), 1, c);
            mCursor = at;
            DataSet(text.c_str());
        } else {
            const char one[2] = {c, 0};
            mCursor = 0;
            DataSet(one);
        }
        mCursor = std::min(mCursor + 1, TextLength());
        AdvanceCursor(key);
        mFieldFlags |= MODIFIED;
        return 1;
    }
    const int length = TextLength();
    switch (key) {
    case int(GUI_KEY_END):
        KeyEnd();
        break;
    case int(GUI_KEY_LEFT):
        if (mpText && mCursor > 0) {
            RetardCursor(static_cast<unsigned char>(mpText[mCursor - 1]));
            --mCursor;
            Invalidate();
        }
        break;
    case int(GUI_KEY_RIGHT):
        if (mpText && mCursor < length) {
            ++mCursor;
            AdvanceCursor(static_cast<unsigned char>(mpText[mCursor - 1]));
            Invalidate();
        }
        break;
    case int(GUI_KEY_BACKSPACE):
        if (mpText && mCursor > 0 && mCursor <= length) {
            RetardCursor(static_cast<unsigned char>(mpText[mCursor - 1]));
            std::string text(mpText);
            text.erase(size_t(mCursor - 1), 1);
            --mCursor;
            DataSet(text.c_str());
        }
        break;
    case int(GUI_KEY_HOME):
        KeyHome();
        break;
    case int(GUI_KEY_DELETE):
        if (mpText && mCursor >= 0 && mCursor < length) {
            // In place, the stored length following the text.
            std::memmove(mpText + mCursor, mpText + mCursor + 1, size_t(length - mCursor));
            --mLength;
            if (mLength <= 1) GuiTextThing::DataSet(nullptr);
            Invalidate();
        }
        break;
    default:
        return 0;
    }
    mFieldFlags |= MODIFIED;
    return 1;
}
