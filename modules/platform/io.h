// Front ends of the board's I/O and network services: PWM and digital I/O,
// the measurement status LED word, the 1-Wire ROM id, network routes and heap
// statistics.
#pragma once

#include <cstddef>
#include <cstdint>

// Sets PWM output channel (0 = display backlight) to duty (percent) at
// frequency (Hz).
void PwmOut_Set(unsigned channel, float duty, float frequency);
// Switches a PWM output off (shutdown).
void PwmOut_Stop(unsigned channel);

unsigned digital_ioIn(unsigned channel);
void digital_ioOut(unsigned channel, unsigned level);

// Measurement status word shown by the status LED.
void meas_led_set_status(uint32_t mask);
void meas_led_clr_status(uint32_t mask);
uint32_t meas_led_get_status();

// 64-bit 1-Wire ROM id into out[8]; 1 on success, else 0 with zeros and the
// log "Reading OWID failed".
int ow_readRomID(uint8_t* out);
// The unit id the device network knows this unit by: crc32_bsd of its ROM
// id (of zeros when it cannot be read).
uint32_t unit_id_get();

// True when "/tyCo/0" is there for the serial telemetry.
bool pinConfig_getRS232TeleEnabled();

// Gives the Ethernet interface an address in the /24 subnet of addr (host
// order) unless it is the own one or already added; the kernel side's result,
// or -1 when nothing was to be done or 10 subnets were added already.
int add_subnet(uint32_t addr);
// Forgets the added subnets (tests).
void add_subnet_resetForTest();

// Heap statistics.
struct MemInfo {
    uint64_t numBytesFree;
    uint64_t maxBlockSizeFree;
};
// 0 on success, -1 when the statistics cannot be read.
int memInfoGet(MemInfo* info);
