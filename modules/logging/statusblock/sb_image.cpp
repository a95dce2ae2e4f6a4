// Layout of the status block image.
#include "logging/statusblock/sb_image.h"

#include <algorithm>
#include <cstring>

#include "platform/byteorder.h"

namespace {

// Copies a text into a zero-padded field, always leaving a zero byte.
void putText(uint8_t* field, size_t size, const char* text) {
    std::memset(field, 0, size);
    if (!text) return;
    size_t n = strnlen(text, size - 1);
    std::memcpy(field, text, n);
}

size_t putTag(uint8_t* at, const char* tag) {
    size_t n = std::strlen(tag) + 1;
    std::memcpy(at, tag, n);
    return n;
}

}  // namespace

void sb_image_init(uint8_t* img, uint16_t ecuClass, uint16_t ecuClassExt, uint16_t pcode) {
    std::memset(img, 0xFF, SB_IMAGE_SIZE);
    std::memcpy(img, SB_IMAGE_TEXT, sizeof SB_IMAGE_TEXT);   // with its zero byte: 0..11
    img[16] = 0x00;                                          // 512, stored little-endian
    img[17] = 0x02;
    std::memset(img + 18, 0, 2 + SB_HDR_AREA);               // 18..115
    be_put16(img + SB_OFS_TOTAL_LEN, uint16_t(SB_HDR_AREA));
    if (ecuClass == 0) {
        img[SB_OFS_ECU_CLASS] = 0x0F;
        img[SB_OFS_ECU_CLASS + 1] = 0xDE;
    } else {
        be_put16(img + SB_OFS_ECU_CLASS, ecuClass);
        be_put16(img + SB_OFS_ECU_EXT, ecuClassExt);
    }
    be_put16(img + SB_OFS_PCODE, pcode);
    be_put16(img + SB_OFS_PCODE_INV, uint16_t(~pcode));
}

void sb_build_page01(uint8_t* p, const SbPage01Input& in) {
    std::memset(p, 0, SB_PAGE01_SIZE);
    if (in.created) std::memcpy(p, in.created, 6);
    if (in.now) std::memcpy(p + 6, in.now, 6);
    for (size_t i = 0; in.versions && i < SB_VERSION_ENTRIES; ++i)
        if (in.versions[i].pid != 0xFFFF) putText(p + 32 + 32 * i, 32, in.versions[i].text);
    char korva[32] = "KORVA ";
    std::strncat(korva, in.externalName ? in.externalName : "", sizeof korva - 7);
    putText(p + 416, 32, korva);
    for (size_t i = 0; i < 4; ++i) putText(p + 448 + 80 * i, 80, in.texts[i]);
    putText(p + 768, 256, in.annotation);
    putText(p + 1024, 32, in.epk);
}

size_t sb_add_var_data(uint8_t* img, const uint8_t* page01, const uint8_t* lapStack, size_t lapStackLen) {
    lapStackLen = std::min(lapStackLen, SB_LAPSTACK_MAX);
    std::memset(img + SB_DATA_START, 0xFF, SB_IMAGE_SIZE - SB_DATA_START);
    size_t pos = SB_DATA_START;
    pos += putTag(img + pos, "PAGE_01");
    be_put16(img + SB_OFS_PAGE01, uint16_t(pos - SB_HDR_BASE));
    std::memcpy(img + pos, page01, SB_PAGE01_SIZE);
    pos += SB_PAGE01_SIZE;
    pos += putTag(img + pos, "PAGE_03");
    pos += putTag(img + pos, "LAP_STK");
    be_put16(img + SB_OFS_LAPSTK_A, uint16_t(pos - SB_HDR_BASE));
    be_put16(img + SB_OFS_LAPSTK_B, uint16_t(pos - SB_HDR_BASE));
    if (lapStackLen) std::memcpy(img + pos, lapStack, lapStackLen);
    else be_put16(img + pos, 0), lapStackLen = 2;            // an empty stack still has its count
    pos += lapStackLen;
    pos += putTag(img + pos, "LAP_END");
    be_put16(img + SB_OFS_TOTAL_LEN, uint16_t(pos - SB_HDR_BASE));
    return pos;
}
