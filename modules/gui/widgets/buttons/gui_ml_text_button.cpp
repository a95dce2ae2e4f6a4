// GuiMLTextButton: cutting the text into lines, sizing by the lines and
// drawing them one under the other.
#include "gui/widgets/buttons/gui_ml_text_button.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "gui/draw/gui_screen.h"
#include "platform/syslogx.h"

namespace {

constexpr uint32_t kDisabledInk = 0x808080;

}  // namespace

GuiMLTextButton::GuiMLTextButton(GuiRect& rect, const char* text, char separator, unsigned int id,
                                 unsigned int style)
    : GuiButton(rect, uint16_t(id), uint16_t(style), nullptr, 0)
{
    InitLines(separator);
    ParseButtonText(text);
}

GuiMLTextButton::GuiMLTextButton(int x, int y, int width, const char* text, char separator, unsigned int id,
                                 unsigned int style)
    : GuiButton(uint16_t(id), uint16_t(style), nullptr, 0)
{
    InitLines(separator);
    ParseButtonText(text);
    SizeToLines(x, y, x + width - 1);
}

GuiMLTextButton::GuiMLTextButton(int x, int y, const char* text, char separator, unsigned int id,
                                 unsigned int style)
    : GuiButton(uint16_t(id), uint16_t(style), nullptr, 0)
{
    InitLines(separator);
    const int widest = ParseButtonText(text);
    SizeToLines(x, y, mLineCount ? x + widest + 6 : x + 3);
}

GuiMLTextButton::~GuiMLTextButton() { FreeTextInfo(); }

void GuiMLTextButton::InitLines(char separator)
{
    mType = GT_ML_TEXT_BUTTON;
    mppLines = nullptr;
    mpWidths = nullptr;
    mLineCount = 0;
    mSeparator = separator;
    SetFont(mFontTable[GUI_FONT_SLOT_TEXT_BUTTON]);
}

int GuiMLTextButton::LineHeight() const
{
    return (mpFont && mpScreen) ? mpScreen->TextHeight(nullptr, mpFont) : 0;
}

void GuiMLTextButton::SizeToLines(int x, int y, int right)
{
    mOuter = mClient = mClip = GuiRect(x, y, right, y + mLineCount * LineHeight() + 3);
}

void GuiMLTextButton::FreeTextInfo()
{
    if (mLineCount == 0) return;
    delete[] mpWidths;
    for (int i = 0; i < mLineCount; ++i) delete[] mppLines[i];
    delete[] mppLines;
    mpWidths = nullptr;
    mppLines = nullptr;
    mLineCount = 0;
}

int GuiMLTextButton::ParseButtonText(const char* text)
{
    FreeTextInfo();
    if (!text || !*text) return 0;
    const size_t length = std::strlen(text);
    const int count = 1 + int(std::count(text, text + length, mSeparator));
    char** lines = new (std::nothrow) char*[size_t(count)]();
    int32_t* widths = new (std::nothrow) int32_t[size_t(count)]();
    if (!lines || !widths) {
        delete[] lines;
        delete[] widths;
        syslogx(147, "GuiMLTextButton: no memory for %d lines", count);
        return 0;
    }
    mppLines = lines;
    mpWidths = widths;
    mLineCount = count;

    int widest = 0;
    const char* segment = text;
    for (int i = 0; i < count; ++i) {
        const char* end = std::find(segment, text + length, mSeparator);
        const size_t n = size_t(end - segment);
        if (n > 0) {
            // A line that cannot be copied stays empty: drawn as a gap.
            if (char* line = new (std::nothrow) char[n + 1]) {
                std::memcpy(line, segment, n);
                line[n] = '\0';
                mppLines[i] = line;
                mpWidths[i] = (mpFont && mpScreen) ? mpScreen->TextWidth(line, mpFont, -1) : 0;
                widest = std::max(widest, int(mpWidths[i]));
            }
        }
        segment = end + 1;
    }
    return widest;
}

void GuiMLTextButton::DataSet(const char* text)
{
    GuiTextThing::DataSet(text);
    // The thing's own text: the same as `text`, or a copy of it in copy mode.
    ParseButtonText(mpText);
}

void GuiMLTextButton::SetFont(const GuiFont* font)
{
    GuiTextThing::SetFont(font);
    for (int i = 0; i < mLineCount; ++i)
        if (mppLines[i]) mpWidths[i] = (mpFont && mpScreen) ? mpScreen->TextWidth(mppLines[i], mpFont, -1) : 0;
}

void GuiMLTextButton::Draw()
{
    GuiScreen* s = mpScreen;
    if (!s) return;
    s->BeginDraw(this);
    GuiButton::Draw();
    if (mLineCount == 0 || !mpFont) {
        s->EndDraw();
        return;
    }
    GuiColor ink{(mStyle & GST_ENABLED) ? mColor[2] : kDisabledInk, mColor[0], 0};
    const int lh = LineHeight();
    const int ch = mClient.Height(), cw = mClient.Width();
    int y = mLineCount * lh <= ch ? mClient.top + (ch - mLineCount * lh) / 2 : mClient.top;
    for (int i = 0; i < mLineCount; ++i, y += lh) {
        const int w = mpWidths[i];
        if (w == 0) continue;
        int x;
        if (mStyle & GST_TEXT_LEFT) x = mClient.left + 1;
        else if (mStyle & GST_TEXT_RIGHT) x = mClient.right - w - 1;
        else x = mClient.left + (cw - w) / 2;
        s->DrawText(this, GuiPoint{int16_t(x), int16_t(y)}, mppLines[i], ink, mpFont, -1, 0);
    }
    DrawChildren();
    s->EndDraw();
}
