// Terminal window: the command after the last prompt handed to the parent
// on Enter, the empty command, and windows that send nothing.
#include <gtest/gtest.h>

#include <string>

#include "gui/widgets/text/gui_terminal.h"
#include "gui/widgets/text/text_widget_fixture.h"

namespace {

using namespace textwidgets;

constexpr unsigned short kId = 6;

// Keeps a copy of each command text as it arrives.
class Shell : public GuiWindow {
public:
    explicit Shell(const GuiRect& r) : GuiWindow(r, GST_FRAME_NONE) {}
    int Message(const GuiMessage& msg) override {
        if (msg.type == GuiSignalType(kId, GUI_SIG_COMMAND)) {
            ++signals;
            const char* text = static_cast<const char*>(msg.Pointer(0));
            commands.push_back(text ? text : "<null>");
            data = msg.data;
            source = msg.source;
            return 0;
        }
        return GuiWindow::Message(msg);
    }
    int signals = 0;
    int data = 0;
    GuiThing* source = nullptr;
    std::vector<std::string> commands;
};

class TerminalTest : public TextWidgetTest {
protected:
    void Open(unsigned short id = kId)
    {
        shell = new Shell(GuiRect(10, 10, 629, 469));
        host->Add(shell, 1);
        term = new GuiTerminalWin(GuiRect(20, 20, 519, 319), id, GST_FRAME_THIN | 0x0100, nullptr, 4000);
        term->SetPrompt("> ");
        shell->Add(term, 1);   // takes the focus: the cursor goes behind the prompt
    }
    void Type(const char* text)
    {
        for (const char* p = text; *p; ++p) term->InsertKey(static_cast<unsigned char>(*p));
    }
    void Enter()
    {
        GuiMessage key(GM_KEY, GUI_KEY_ENTER);
        Post(key);
        Pump();
    }

    Shell* shell = nullptr;
    GuiTerminalWin* term = nullptr;
};

TEST_F(TerminalTest, EnterHandsTheCommandBehindThePromptToTheParent)
{
    Open();
    EXPECT_STREQ(term->mpText, "> ");
    EXPECT_EQ(term->mCursorColumn, 2);
    Type("ls");
    Enter();
    ASSERT_EQ(shell->signals, 1);
    EXPECT_EQ(shell->commands[0], "ls");
    EXPECT_EQ(shell->data, kId);
    EXPECT_EQ(shell->source, term);
    EXPECT_STREQ(term->mpText, "> ls");   // Enter itself adds nothing

    // The parent answers and prompts again; the next command is the one
    // behind the last prompt.
    term->Append("\rfile.txt\r", 0);
    term->Prompt();
    Type("pwd");
    Enter();
    ASSERT_EQ(shell->signals, 2);
    EXPECT_EQ(shell->commands[1], "pwd");
}

TEST_F(TerminalTest, EnterRightBehindThePromptHandsNoCommand)
{
    Open();
    Enter();
    ASSERT_EQ(shell->signals, 1);
    EXPECT_EQ(shell->commands[0], "<null>");
    EXPECT_EQ(term->LastCommand(), nullptr);
}

TEST_F(TerminalTest, AWindowWithoutIdOrParentSendsNothing)
{
    Open(0);
    Type("ls");
    Enter();
    EXPECT_EQ(shell->signals, 0);
    auto* lone = new GuiTerminalWin(GuiRect(0, 0, 99, 99), kId, GST_FRAME_THIN | 0x0100, "> x", 100);
    EXPECT_EQ(lone->Message(GuiMessage(GM_KEY, GUI_KEY_ENTER, lone)), 0);
    EXPECT_EQ(lone->LastCommand(), nullptr);
    delete lone;
}

TEST_F(TerminalTest, WithoutAPromptTheCursorRowIsTheCommand)
{
    Open();
    term->SetPrompt(nullptr);
    term->DataSet("first\rsecond");
    term->SetCursorRowCol(term->TextLength());
    Enter();
    ASSERT_EQ(shell->signals, 1);
    EXPECT_EQ(shell->commands[0], "second");
}

}  // namespace
