// The status block image: a fixed header, then the data sequence
// "PAGE_01", the page-01 data, "PAGE_03", "LAP_STK", the lap stack and
// "LAP_END". The part written into the file runs from byte 0 to the zero
// byte after "LAP_END".
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t SB_BUFFER_SIZE = 5668;     // image + working state on the device
constexpr size_t SB_IMAGE_SIZE = 4212;
constexpr size_t SB_HDR_BASE = 20;          // offsets in the header count from here
constexpr size_t SB_HDR_AREA = 96;          // bytes 20..115
constexpr size_t SB_DATA_START = SB_HDR_BASE + SB_HDR_AREA;
constexpr size_t SB_PAGE01_SIZE = 1056;
constexpr size_t SB_LAPSTACK_MAX = 2 + 256 * 6;
constexpr size_t SB_VERSION_ENTRIES = 10;
constexpr size_t SB_VERSION_TEXT = 32;
constexpr char SB_IMAGE_TEXT[] = "StateData V";

// Header offsets (from byte 0).
constexpr size_t SB_OFS_TOTAL_LEN = 20;
constexpr size_t SB_OFS_ECU_CLASS = 22;
constexpr size_t SB_OFS_ECU_EXT = 24;
constexpr size_t SB_OFS_PCODE = 32;
constexpr size_t SB_OFS_PCODE_INV = 34;
constexpr size_t SB_OFS_LAPSTK_A = 68;
constexpr size_t SB_OFS_PAGE01 = 86;
constexpr size_t SB_OFS_LAPSTK_B = 90;

// One entry of the version table: the identification text of a device.
struct SbVersionEntry {
    uint16_t pid;                       // 0xFFFF = empty
    char text[SB_VERSION_TEXT];
};

// What the page-01 data is made of.
struct SbPage01Input {
    const uint8_t* created;             // 6 BCD bytes of the file's creation
    const uint8_t* now;                 // 6 BCD bytes of now
    const SbVersionEntry* versions;     // SB_VERSION_ENTRIES, ascending PID
    const char* externalName;           // engine control unit type
    const char* texts[4];               // file name, configuration name, log name, configuration text
    const char* annotation;             // ECU annotation text
    const char* epk;                    // EPK of the calibration dataset
};

// Fills the image with 0xFF and writes the text, the version word and the
// header area (ECU class, project code). Offsets and lengths come with the data.
void sb_image_init(uint8_t* image, uint16_t ecuClass, uint16_t ecuClassExt, uint16_t pcode);
void sb_build_page01(uint8_t* page, const SbPage01Input& in);
// Appends the data sequence to an initialised image (an earlier sequence is
// dropped first); the bytes to write (up to the zero after "LAP_END").
size_t sb_add_var_data(uint8_t* image, const uint8_t* page01, const uint8_t* lapStack, size_t lapStackLen);
