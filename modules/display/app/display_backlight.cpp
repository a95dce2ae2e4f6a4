// The backlight's two writers, kept in order: whichever of the start-up task
// and the brightness request comes second, the backlight ends at the
// configured step. The lock only spans the check and the one PWM write.
#include "display/app/display_backlight.h"

#include <mutex>

#include "platform/io.h"

namespace {
constexpr unsigned kBacklight = 0;
constexpr float kSwitchOnDuty = 95.0f;
constexpr float kPwmFrequency = 1000.0f;

std::mutex gBacklightMx;
bool gStepSet = false;   // a brightness step of the configuration is set
}  // namespace

void displayBacklightSwitchOn(void)
{
    std::lock_guard<std::mutex> lock(gBacklightMx);
    if (!gStepSet) PwmOut_Set(kBacklight, kSwitchOnDuty, kPwmFrequency);
}

void displayBacklightStep(float duty)
{
    std::lock_guard<std::mutex> lock(gBacklightMx);
    PwmOut_Set(kBacklight, duty, kPwmFrequency);
    gStepSet = true;
}

void displayBacklightRelease(void)
{
    std::lock_guard<std::mutex> lock(gBacklightMx);
    gStepSet = false;
}
