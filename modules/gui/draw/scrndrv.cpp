// Display controller: frame buffer, layer registers, the kernel's screen
// service and the boot logo.
#include "gui/draw/scrndrv.h"

#include <cstring>
#include <new>

#include "gui/draw/scrndrv_rtp.h"
#include "host/kernel/kernel.h"
#include "platform/syslogx.h"

namespace {

// The controller's memory and registers. On the device these sit at fixed
// physical addresses; here they are process memory that the flush service
// reads.
uint32_t gFrameMemory[SCRNDRV_FB_WIDTH * SCRNDRV_FB_HEIGHT];
volatile uint32_t gLayerRegs[SCRNDRV_LAYERS];

struct {
    int initialized = 0;
    uint8_t* bootLogo = nullptr;
    uint32_t bootLogoSize = 0;
} scrndrvInitialized;

uint8_t gEnableFlood = 0;
uint8_t gDisableFlood = 0;

constexpr int kErr = 147;

}  // namespace

uint32_t* scrndrvFrameBuffer() { return gFrameMemory; }

uint32_t scrndrvLayerRegister(unsigned layer)
{
    return layer < SCRNDRV_LAYERS ? gLayerRegs[layer] : 0;
}

// Flush and wait. On the device the kernel knows the frame buffer by its
// physical address and takes (application number, 0x0BCA0002, sub-operation);
// the host's screen service, whose first argument is always the application
// number, takes the frame itself: address, visible width and height, and the
// row stride in words.
int scrndrvFlush()
{
    long r = host::rtpSyscall(scrndrvRtpIndex(), reinterpret_cast<intptr_t>(gFrameMemory), SCRNDRV_VISIBLE_WIDTH,
                              SCRNDRV_VISIBLE_HEIGHT, SCRNDRV_FB_WIDTH, 0, 0, 0, host::SC_SCREEN_FLUSH);
    if (r != 0) {
        syslogx(kErr, "scrndrvFlush(): could not set flush display");
        return -1;
    }
    return 0;
}

int scrndrvWaitFlush()
{
    long r = host::rtpSyscall(scrndrvRtpIndex(), SCRNDRV_IFACE, 2, 0, 0, 0, 0, 0, host::SC_SCREEN_WAIT);
    if (r != 0) {
        syslogx(kErr, "scrndrvWaitFlush(): could not wait for flushing display");
        return -1;
    }
    return 0;
}

void scrndrvLayerEnable(unsigned layer)
{
    if (layer < SCRNDRV_LAYERS) {
        gLayerRegs[layer] = 3;
        return;
    }
    SYSLOGX_FLOOD(gEnableFlood, kErr, "scrndrvLayerEnable(): unexpected layer %i", int(layer));
}

void scrndrvLayerDisable(unsigned layer)
{
    if (layer < SCRNDRV_LAYERS) {
        gLayerRegs[layer] = 0;
        return;
    }
    SYSLOGX_FLOOD(gDisableFlood, kErr, "scrndrvLayerDisable(): unexpected layer %i", int(layer));
}

int scrndrvSetColor(uint32_t colour)
{
    for (int y = 0; y < SCRNDRV_VISIBLE_HEIGHT; ++y) {
        uint32_t* row = gFrameMemory + y * SCRNDRV_FB_WIDTH;
        for (int x = 0; x < SCRNDRV_VISIBLE_WIDTH; ++x) row[x] = colour;
    }
    return scrndrvFlush();
}

int scrndrvInit()
{
    if (scrndrvInitialized.initialized) return 0;
    // Boot-logo calls: (address of the size) and (buffer, size) after the
    // application number.
    uint32_t usize = 0;
    long r = host::rtpSyscall(scrndrvRtpIndex(), reinterpret_cast<intptr_t>(&usize), 0, 0, 0, 0, 0, 0,
                              host::SC_BOOTLOGO_SIZE);
    const int32_t size = int32_t(usize);
    if (r == -1) {
        syslogx(kErr, "scrndrvInit(): syscall getBootLogoSize returns error");
        return -1;
    }
    if (size <= 0) {
        syslogx(kErr, "scrndrvInit(): error getting boot logo size");
        return -1;
    }
    uint8_t* buf = new (std::nothrow) uint8_t[size];
    if (!buf) {
        syslogx(kErr, "scrndrvInit(): no memory for boot logo");
        return -1;
    }
    r = host::rtpSyscall(scrndrvRtpIndex(), reinterpret_cast<intptr_t>(buf), size, 0, 0, 0, 0, 0,
                          host::SC_BOOTLOGO);
    if (r == -1) {
        delete[] buf;
        syslogx(kErr, "scrndrvInit(): couldnt get boot logo, syscall returns error");
        return -1;
    }
    scrndrvInitialized.bootLogo = buf;
    scrndrvInitialized.bootLogoSize = uint32_t(size);
    scrndrvInitialized.initialized = 1;
    return scrndrvLoadObj();
}

void scrndrvGetBootLogo(uint8_t** address, uint32_t* size)
{
    bool have = scrndrvInitialized.initialized != 0;
    if (address) *address = have ? scrndrvInitialized.bootLogo : nullptr;
    if (size) *size = have ? scrndrvInitialized.bootLogoSize : 0;
}

int scrndrvInitDumpWithBootLogo(scrn_dump_t* dump)
{
    uint8_t* logo = nullptr;
    uint32_t size = 0;
    scrndrvGetBootLogo(&logo, &size);
    if (!logo) {
        syslogx(kErr, "Scrndrv: Failed to load screen dump BootLogo");
        return 0;
    }
    if (!scrndrvInitDumpByMem(dump, logo, logo + size)) {
        syslogx(kErr, "Scrndrv: Failed to convert screen dump BootLogo");
        return 0;
    }
    return 1;
}

int scrndrvLoadObj()
{
    scrn_dump_t dump{};
    if (!scrndrvInitDumpWithBootLogo(&dump)) return -1;
    int r = scrndrvDrawImg(&dump);   // points into the logo buffer: nothing to free
    scrndrvLayerEnable(1);
    return r;
}

void scrndrvResetForTest()
{
    delete[] scrndrvInitialized.bootLogo;
    scrndrvInitialized.bootLogo = nullptr;
    scrndrvInitialized.bootLogoSize = 0;
    scrndrvInitialized.initialized = 0;
    gEnableFlood = 0;
    gDisableFlood = 0;
    for (auto& reg : gLayerRegs) reg = 0;
}
