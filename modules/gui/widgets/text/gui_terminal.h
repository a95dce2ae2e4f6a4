// GuiTerminalWin: a command-line window over the text editor. The text is
// the transcript; a prompt marks where each command begins, and Enter hands
// the command typed after the last prompt to the parent as signal 8, the
// command text in payload word 0 (null for an empty command). The parent
// reads it during the call; the window keeps the copy until the next one.
#pragma once

#include "gui/widgets/text/gui_edit_box.h"

constexpr uint8_t GT_TERMINAL = 160;
constexpr uint8_t GUI_SIG_COMMAND = 8;

class GuiTerminalWin : public GuiEditBox {
public:
    GuiTerminalWin(const GuiRect& rect, unsigned short id, unsigned short style, const char* text, int maxChars);
    ~GuiTerminalWin() override;

    int Message(const GuiMessage& msg) override;

    // Keeps a copy of the prompt (null clears it); an empty window shows it.
    void SetPrompt(const char* prompt);
    // Appends the prompt to the transcript and redraws.
    void Prompt();
    void SendCommandToParent();

    const char* PromptText() const { return mpPrompt; }
    const char* LastCommand() const { return mpCommand; }

    char* mpPrompt;
    char* mpCommand;
};
