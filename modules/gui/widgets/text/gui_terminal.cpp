// GuiTerminalWin: prompt, and the command handed to the parent on Enter.
#include "gui/widgets/text/gui_terminal.h"

#include <cstring>

namespace {
char* copyOf(const char* text, size_t length)
{
    char* copy = new char[length + 1];
    std::memcpy(copy, text, length);
    copy[length] = 0;
    return copy;
}
}  // namespace

GuiTerminalWin::GuiTerminalWin(const GuiRect& rect, unsigned short id, unsigned short style, const char* text,
                               int maxChars)
    : GuiEditBox(rect, id, style, text, maxChars), mpPrompt(nullptr), mpCommand(nullptr)
{
    mType = GT_TERMINAL;
}

GuiTerminalWin::~GuiTerminalWin()
{
    delete[] mpPrompt;
    delete[] mpCommand;
}

void GuiTerminalWin::SetPrompt(const char* prompt)
{
    delete[] mpPrompt;
    mpPrompt = prompt ? copyOf(prompt, std::strlen(prompt)) : nullptr;
    if (!mpText && mpPrompt) DataSet(mpPrompt);
}

void GuiTerminalWin::Prompt()
{
    if (mpPrompt) Append(mpPrompt, 1);
}

int GuiTerminalWin::Message(const GuiMessage& msg)
{
    if (msg.type == GM_KEY && msg.data == GUI_KEY_ENTER) {
        if (mId != 0 && mpParent) SendCommandToParent();
        return 0;
    }
    return GuiEditBox::Message(msg);
}

void GuiTerminalWin::SendCommandToParent()
{
    if (!mpParent) return;
    const int promptLength = mpPrompt ? int(std::strlen(mpPrompt)) : 0;
    // The command begins behind the nearest prompt at or above the cursor;
    // the first row is taken when none is found.
    int row = mCursorRow;
    if (mpPrompt) {
        for (; row > 0; --row) {
            int length = 0;
            const char* line = GetLineStart(row, &length);
            if (line && length >= promptLength && std::strncmp(line, mpPrompt, size_t(promptLength)) == 0) break;
        }
    }
    const int textLength = TextLength();
    const int rowStart = GetLineIndex(row);
    const int start = (rowStart < 0 ? 0 : rowStart) + promptLength;
    const int end = CursorOffset();
    delete[] mpCommand;
    mpCommand = nullptr;
    if (mpText && end > start && end != 65535 && end <= textLength)
        mpCommand = copyOf(mpText + start, size_t(end - start));
    GuiMessage m(GuiSignalType(mId, GUI_SIG_COMMAND), mId, mpParent, this);
    m.SetPointer(mpCommand);
    mpParent->Message(m);
}
