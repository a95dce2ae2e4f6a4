// GuiMLTextButton: a push button whose text is cut into lines at a
// separator character and drawn line under line, left, right or centre
// aligned. The button keeps its own copy of every line.
#pragma once

#include <cstdint>

#include "gui/core/gui_button.h"

constexpr uint8_t GT_ML_TEXT_BUTTON = 26;

class GuiMLTextButton : public GuiButton {
public:
    GuiMLTextButton(GuiRect& rect, const char* text, char separator, unsigned int id, unsigned int style);
    GuiMLTextButton(int x, int y, int width, const char* text, char separator, unsigned int id,
                    unsigned int style);
    GuiMLTextButton(int x, int y, const char* text, char separator, unsigned int id, unsigned int style);
    ~GuiMLTextButton() override;

    void Draw() override;
    void DataSet(const char* text) override;
    void SetFont(const GuiFont* font) override;

    // Cuts the text into lines; returns the widest line's width.
    int ParseButtonText(const char* text);
    void FreeTextInfo();

    char** mppLines;       // one copy per line, null for an empty line
    int32_t* mpWidths;     // width of each line in the current font, 0 when empty
    int32_t mLineCount;    // 0 without text
    char mSeparator;

private:
    void InitLines(char separator);
    // Outer (and client) rectangle from (x, y) to `right`, as high as the lines.
    void SizeToLines(int x, int y, int right);
    int LineHeight() const;
};
