// The display's one top window over the whole screen. It carries out the
// application messages that other tasks post through the request functions:
// start and stop of the configuration with its pages, page switches, the
// colour page, brightness, text overlays, the flash window and the external
// alarm window. Runs on the GUI task only.
#pragma once

#include <cstdint>

#include "display/config/display_config.h"
#include "gui/core/gui_prompt.h"
#include "gui/core/gui_window.h"

class CData;
class CDataManager;
class CDispPage;
class CImageContainer;
class GuiPresentationManager;

constexpr const char* DISPLAY_CFG_PATH = "cfg:/display.xml";
// Physical address of the display controller's colour-saturation register.
constexpr uint32_t DISP_COLSAT_REGISTER = 0x400101B0;

extern int32_t brightness_switch_pos;   // brightness index last requested
extern GuiBitmap* gbBootLogoBitmap;     // the container's wallpaper

class CMainContainer : public GuiWindow {
public:
    CMainContainer(const GuiRect& rect, unsigned int style);
    ~CMainContainer() override;

    int Message(const GuiMessage& msg) override;

    void setupMeas();
    void stopMeas();
    void initDispCfgChan(CData** chan, awm_meas_in* input, unsigned short raster);
    void show_text(const char* text);
    void show_text2(const char* text1, const char* text2);
    void hide_text();
    void update_ext_wnd(bool reset);

    display_s* config = nullptr;
    int32_t currentPage = 0;
    CDispPage* pages[DISPLAY_MAX_PAGES] = {};
    CDispPage* colourPage = nullptr;
    uint8_t flash = 0;
    int32_t frameRate = 1;
    GuiWindow* textWindow = nullptr;
    GuiPrompt* textPrompt1 = nullptr;
    GuiPrompt* textPrompt2 = nullptr;
    GuiWindow* extWindow = nullptr;
    GuiPrompt* extPrompt = nullptr;
    GuiPrompt* extResetPrompt = nullptr;
    CDataManager* data = nullptr;
    CImageContainer* images = nullptr;
    uint32_t colour = 0xFFFFFF;

private:
    CDispPage* current() const;
    // Puts the current page (if any) on the screen as a page switch does.
    void showCurrent();
    void switchPage(int index);
    void nextPage();
    void colourPageRequest(uint32_t rgb);
    void brightness(unsigned index);
    void removeText();
    void flushAndWait();
    // Pages and colour page freed; while destroying, those on screen are
    // left to the window base.
    void releasePages(bool destroying);
    // Subscriptions, data manager, page control, configuration and images.
    void releaseMeasurement();
    // Ends the draw bracket that pending invalidations opened without drawing.
    void releaseInvalidation();
};

// Builds the boot-logo wallpaper once (a plain picture with the device name).
GuiBitmap* displayBootLogo();
void displayReleaseBootLogo();
// The colour-saturation register value last written (0 to 255).
uint32_t displayColourSaturation();
