// GuiTextThing: a screen object with a text (borrowed or owned) and a font
// taken from the shared font table.
#include <cstring>

#include "gui/draw/gui_screen.h"
#include "gui/core/gui_thing.h"
#include "platform/syslogx.h"

const GuiFont* GuiTextThing::mFontTable[GuiTextThing::FONT_SLOTS] = {
    &SysFont,  &SysFont,  &MenuFont, &MenuFont, &MenuFont, &MenuFont, &SysFont,  &SysFont,   // 0-7
    &SysFont,  &MenuFont, &MenuFont, &MenuFont, &SysFont,  &MenuFont, &MenuFont, &MenuFont,  // 8-15
    &SysFont,  nullptr,   nullptr,   nullptr,   nullptr,   nullptr,   nullptr,   nullptr,    // 16-23
    nullptr,   nullptr,   nullptr,   nullptr,   nullptr,   nullptr,   &SysFont,  &MenuFont,  // 24-31
};

GuiTextThing::GuiTextThing(const GuiRect& rect, unsigned short id, unsigned short style, const char* text,
                           int fontSlot)
    : GuiThing(rect, id, style), mpFont(nullptr), mpText(nullptr), mLength(0), mBufferSize(0), mCopy(0)
{
    Initialize(style, text, fontSlot);
}

GuiTextThing::GuiTextThing(unsigned short id, unsigned short style, const char* text, int fontSlot)
    : GuiThing(id, style), mpFont(nullptr), mpText(nullptr), mLength(0), mBufferSize(0), mCopy(0)
{
    Initialize(style, text, fontSlot);
}

GuiTextThing::~GuiTextThing()
{
    if (mCopy) delete[] mpText;
}

void GuiTextThing::Initialize(unsigned short style, const char* text, int fontSlot)
{
    // A slot outside the table gives no font rather than a read past it.
    if (fontSlot >= 0 && fontSlot < FONT_SLOTS) {
        mpFont = mFontTable[fontSlot];
    } else {
        mpFont = nullptr;
        syslogx(147, "GuiTextThing: font slot %d outside the font table", fontSlot);
    }
    mCopy = (style & GST_COPY_TEXT) ? 1 : 0;
    mpText = nullptr;
    mLength = 0;
    mBufferSize = 0;
    if (!text || !*text) return;
    size_t n = std::strlen(text);
    mLength = int32_t(n + 1);
    if (mCopy) {
        mBufferSize = int32_t(n + 17);   // room for 16 more characters
        mpText = new char[size_t(mBufferSize)];
        std::memcpy(mpText, text, n + 1);
    } else {
        mpText = const_cast<char*>(text);
    }
}

void GuiTextThing::DataSet(const char* text)
{
    bool empty = !text || !*text;
    if (mCopy) {
        if (empty) {
            delete[] mpText;
            mpText = nullptr;
            mLength = 0;
            mBufferSize = 0;
        } else {
            size_t len = std::strlen(text) + 1;
            if (size_t(mBufferSize) < len) {
                char* fresh = new char[len + 32];
                std::memcpy(fresh, text, len);   // text may be the old buffer
                delete[] mpText;
                mpText = fresh;
                mBufferSize = int32_t(len + 32);
            } else {
                std::memmove(mpText, text, len);
            }
            mLength = int32_t(len);
        }
    } else if (empty) {
        mpText = nullptr;
        mLength = 0;
    } else {
        mpText = const_cast<char*>(text);
        mLength = int32_t(std::strlen(text) + 1);
    }
    if (IsVisible() && mpScreen) mpScreen->Invalidate(mClient);
}

void GuiTextThing::SetFont(const GuiFont* font)
{
    mpFont = font;
    if (IsVisible() && mpScreen) mpScreen->Invalidate(mClient);
}

void GuiTextThing::SetCopyMode()
{
    if (!mpText || mCopy) return;
    const char* old = mpText;
    mpText = nullptr;
    mLength = 0;
    mBufferSize = 0;
    mCopy = 1;
    DataSet(old);
}

int GuiTextThing::AssignFontTablePointer(int slot, GuiFont* font, int freeOld)
{
    if (slot < 0 || slot >= FONT_SLOTS) {
        syslogx(147, "GuiTextThing::AssignFontTablePointer: font slot %d outside the font table", slot);
        return 0;
    }
    if (freeOld) {
        // Fonts handed in for freeing are made with new, their tables with
        // new[]; the built-in fonts are static and end the chain.
        const GuiFont* f = mFontTable[slot];
        while (f && f != &SysFont && f != &MenuFont) {
            const GuiFont* next = f->next;
            if (f->type & GUI_FONT_VARIABLE) delete[] f->offsets.table;
            delete[] f->data;
            delete f;
            f = next;
        }
    }
    mFontTable[slot] = font;
    return 1;
}
