// Pixels of the built-in bitmaps, drawn as character art:
// '.' transparent, 'X' black, 'd' dark grey, 'g' light grey, 'W' white,
// 'b' dark blue, 'B' blue.
#include "gui/core/gui_bitmaps.h"

#include <array>
#include <cstddef>

namespace {

constexpr uint8_t pixelOf(char c)
{
    switch (c) {
    case 'X': return 0;
    case 'b': return 1;
    case 'g': return 7;
    case 'd': return 8;
    case 'B': return 9;
    case 'W': return 15;
    default: return GUI_BMP_CLEAR;
    }
}

template <size_t N>
constexpr std::array<uint8_t, N - 1> art(const char (&rows)[N])
{
    std::array<uint8_t, N - 1> p{};
    for (size_t i = 0; i + 1 < N; ++i) p[i] = pixelOf(rows[i]);
    return p;
}

constexpr GuiBitmap bitmapOf(uint8_t* pixels, int width, int height)
{
    return GuiBitmap{GUI_BMP_TRANSPARENT, 8, uint16_t(width), uint16_t(height), GUI_BMP_CLEAR, pixels};
}

// ---- scroll bars --------------------------------------------------------------------
std::array kUp = art("...X..."
                     "..XXX.."
                     ".XXXXX."
                     "XXXXXXX");
std::array kDown = art("XXXXXXX"
                       ".XXXXX."
                       "..XXX.."
                       "...X...");
std::array kLeft = art("...X"
                       "..XX"
                       ".XXX"
                       "XXXX"
                       ".XXX"
                       "..XX"
                       "...X");
std::array kRight = art("X..."
                        "XX.."
                        "XXX."
                        "XXXX"
                        "XXX."
                        "XX.."
                        "X...");
std::array kMix = art("Wg"
                      "gW");

// ---- title-bar buttons ------------------------------------------------------------------
// The system button is opaque (a light-grey face with a bar); the others
// draw only their black mark over the button face.
std::array kSys = art("ggggggggggg"
                      "ggggggggggg"
                      "ggggggggggg"
                      "ggggggggggg"
                      "gWWWWWWWWWg"
                      "gWgggggggXg"
                      "gXXXXXXXXXg"
                      "ggggggggggg"
                      "ggggggggggg"
                      "ggggggggggg"
                      "ggggggggggg");
std::array kClose = art("........"
                        "XX....XX"
                        ".XX..XX."
                        "..XXXX.."
                        "...XX..."
                        "..XXXX.."
                        ".XX..XX."
                        "XX....XX"
                        "........");
std::array kMin = art("........"
                      "........"
                      "........"
                      "........"
                      "........"
                      "........"
                      "XXXXXX.."
                      "XXXXXX.."
                      "........");
std::array kMax = art("XXXXXXXX"
                      "XXXXXXXX"
                      "X......X"
                      "X......X"
                      "X......X"
                      "X......X"
                      "X......X"
                      "X......X"
                      "XXXXXXXX");
std::array kRestore = art("..XXXXXX"
                          "..XXXXXX"
                          "..X....X"
                          "XXXXXX.X"
                          "XXXXXX.X"
                          "X....XXX"
                          "X....X.."
                          "X....X.."
                          "XXXXXX..");
std::array kDrag = art("...........W."
                       "..........Wd."
                       ".........Wd.."
                       "........Wd..."
                       ".......Wd..W."
                       "......Wd..Wd."
                       ".....Wd..Wd.."
                       "....Wd..Wd..."
                       "...Wd..Wd..W."
                       "..Wd..Wd..Wd."
                       ".Wd..Wd..Wd.."
                       "Wd..Wd..Wd..."
                       ".............");

// ---- radio buttons and check boxes ---------------------------------------------------------
// 'i' is the inside (white, light grey when disabled), 'o' the mark (black,
// dark grey when disabled, the inside when off).
template <size_t N>
constexpr std::array<uint8_t, N - 1> stateArt(const char (&rows)[N], bool on, bool disabled)
{
    std::array<uint8_t, N - 1> p{};
    const char inside = disabled ? 'g' : 'W';
    const char mark = !on ? inside : disabled ? 'd' : 'X';
    for (size_t i = 0; i + 1 < N; ++i) {
        char c = rows[i];
        p[i] = pixelOf(c == 'i' ? inside : c == 'o' ? mark : c);
    }
    return p;
}

constexpr char kRadioArt[] = "....dddd...."
                             "..ddXXXXdd.."
                             ".dXXiiiiXXW."
                             ".dXiiiiiiiW."
                             "dXiiiooiiigW"
                             "dXiiooooiigW"
                             "dXiiooooiigW"
                             "dXiiiooiiigW"
                             ".dXiiiiiigW."
                             ".dggiiiiggW."
                             "..WWggggWW.."
                             "....WWWW....";
constexpr char kCheckArt[] = "ddddddddddddW"
                             "dXXXXXXXXXXgW"
                             "dXiiiiiiiiigW"
                             "dXiiiiiiioigW"
                             "dXiiiiiiooigW"
                             "dXioiiioooigW"
                             "dXiooioooiigW"
                             "dXioooooiiigW"
                             "dXiioooiiiigW"
                             "dXiiioiiiiigW"
                             "dXiiiiiiiiigW"
                             "dgggggggggggW"
                             "WWWWWWWWWWWWW";

std::array kRadioOn = stateArt(kRadioArt, true, false);
std::array kRadioOff = stateArt(kRadioArt, false, false);
std::array kRadioOnDis = stateArt(kRadioArt, true, true);
std::array kRadioOffDis = stateArt(kRadioArt, false, true);
std::array kCheckOn = stateArt(kCheckArt, true, false);
std::array kCheckOff = stateArt(kCheckArt, false, false);
std::array kCheckOnDis = stateArt(kCheckArt, true, true);
std::array kCheckOffDis = stateArt(kCheckArt, false, true);

// ---- window icon ------------------------------------------------------------------------------
// A small window: black outline, blue title bar with a light-grey button,
// white client area with a few grey text lines.
constexpr int kIconW = 32;
constexpr int kIconH = 29;

constexpr std::array<uint8_t, kIconW * kIconH> makeWinIcon()
{
    std::array<uint8_t, kIconW * kIconH> p{};
    for (auto& v : p) v = GUI_BMP_CLEAR;
    for (int y = 1; y < kIconH - 1; ++y)
        for (int x = 1; x < kIconW - 1; ++x) {
            char c = 'W';
            if (x == 1 || y == 1 || x == kIconW - 2 || y == kIconH - 2) c = 'X';
            else if (y <= 6) c = (x >= kIconW - 8 && x <= kIconW - 4 && y >= 3 && y <= 5) ? 'g' : 'b';
            else if (y >= 10 && y <= 22 && (y - 10) % 4 == 0 && x >= 5 && x <= kIconW - 7 - (y % 3) * 3) c = 'd';
            p[size_t(y * kIconW + x)] = pixelOf(c);
        }
    // A dark shadow along the right and bottom edges.
    for (int y = 2; y < kIconH; ++y) p[size_t(y * kIconW + kIconW - 1)] = pixelOf('d');
    for (int x = 2; x < kIconW; ++x) p[size_t((kIconH - 1) * kIconW + x)] = pixelOf('d');
    return p;
}
std::array kWinIcon = makeWinIcon();

}  // namespace

GuiBitmap gbUpArrowBitmap = bitmapOf(kUp.data(), 7, 4);
GuiBitmap gbDownArrowBitmap = bitmapOf(kDown.data(), 7, 4);
GuiBitmap gbLeftArrowBitmap = bitmapOf(kLeft.data(), 4, 7);
GuiBitmap gbMoreBitmap = bitmapOf(kRight.data(), 4, 7);
GuiBitmap gbMixPatternBitmap = GuiBitmap{0, 8, 2, 2, GUI_BMP_CLEAR, kMix.data()};

GuiBitmap gbSysButtonBitmap = GuiBitmap{0, 8, 11, 11, GUI_BMP_CLEAR, kSys.data()};
GuiBitmap gbCloseButtonBitmap = bitmapOf(kClose.data(), 8, 9);
GuiBitmap gbMinButtonBitmap = bitmapOf(kMin.data(), 8, 9);
GuiBitmap gbMaxButtonBitmap = bitmapOf(kMax.data(), 8, 9);
GuiBitmap gbRestoreButtonBitmap = bitmapOf(kRestore.data(), 8, 9);
GuiBitmap gbDragBitmap = bitmapOf(kDrag.data(), 13, 13);

GuiBitmap gbRadioOnBitmap = bitmapOf(kRadioOn.data(), 12, 12);
GuiBitmap gbRadioOffBitmap = bitmapOf(kRadioOff.data(), 12, 12);
GuiBitmap gbRadioOnDisabledBitmap = bitmapOf(kRadioOnDis.data(), 12, 12);
GuiBitmap gbRadioOffDisabledBitmap = bitmapOf(kRadioOffDis.data(), 12, 12);
GuiBitmap gbCheckBoxOnBitmap = bitmapOf(kCheckOn.data(), 13, 13);
GuiBitmap gbCheckBoxOffBitmap = bitmapOf(kCheckOff.data(), 13, 13);
GuiBitmap gbCheckBoxOnDisabledBitmap = bitmapOf(kCheckOnDis.data(), 13, 13);
GuiBitmap gbCheckBoxOffDisabledBitmap = bitmapOf(kCheckOffDis.data(), 13, 13);

GuiBitmap gbWinIconBitmap = bitmapOf(kWinIcon.data(), kIconW, kIconH);
