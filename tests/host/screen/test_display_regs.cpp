// The panel's look in screen.png: colour saturation and backlight.
#include "host/device_fixture.h"
#include "host/screen/display_regs.h"

namespace {

class DisplayRegs : public DeviceFolderTest {
protected:
    void TearDown() override {
        host::displayRegWrite(host::DISPLAY_REG_COLSAT, 255);
        DeviceFolderTest::TearDown();
    }
};

TEST_F(DisplayRegs, FullSaturationAndLightLeaveTheFrameAsDrawn) {
    std::vector<uint32_t> frame = {0xFF0000, 0x123456};
    host::displayApplyPanel(frame.data(), frame.size());   // backlight never set: as drawn
    EXPECT_EQ(frame[0], 0xFF0000u);
    host::pwmOutSet(0, 95.0f, 1000.0f);
    host::displayApplyPanel(frame.data(), frame.size());
    EXPECT_EQ(frame[1], 0x123456u);
    EXPECT_EQ(host::displayRegRead(0x12345678), 0u);   // no such register
}

TEST_F(DisplayRegs, LowSaturationTurnsGreyAndALowBacklightDims) {
    host::displayRegWrite(host::DISPLAY_REG_COLSAT, 0);
    EXPECT_EQ(host::displayRegRead(host::DISPLAY_REG_COLSAT), 0u);
    std::vector<uint32_t> frame = {0xFF0000};
    host::displayApplyPanel(frame.data(), frame.size());
    const uint32_t r = frame[0] >> 16 & 0xFF, g = frame[0] >> 8 & 0xFF, b = frame[0] & 0xFF;
    EXPECT_EQ(r, g);
    EXPECT_EQ(g, b);
    host::displayRegWrite(host::DISPLAY_REG_COLSAT, 255);
    host::pwmOutSet(0, 12.5f, 1000.0f);   // a cube root of one half
    frame = {0xFFFFFF};
    host::displayApplyPanel(frame.data(), frame.size());
    EXPECT_NEAR(double(frame[0] & 0xFF), 128.0, 1.0);
}

}  // namespace
