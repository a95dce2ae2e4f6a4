// _ltoa: digits by unsigned division, least significant first, then the
// text is reversed in place.
#include "gui/widgets/number/gui_ltoa.h"

#include <algorithm>

char* _ltoa(int32_t value, char* buffer, int radix)
{
    if (!buffer) return nullptr;
    if (radix < 2 || radix > 36) {
        buffer[0] = '\0';
        return buffer;
    }
    const bool negative = radix == 10 && value < 0;
    // The magnitude is taken unsigned, so the most negative value needs no
    // negation that would overflow.
    uint32_t rest = static_cast<uint32_t>(value);
    if (negative) rest = 0u - rest;
    char* p = buffer;
    do {
        const uint32_t digit = rest % uint32_t(radix);
        *p++ = char(digit < 10 ? '0' + digit : 'a' + (digit - 10));
        rest /= uint32_t(radix);
    } while (rest != 0);
    if (negative) *p++ = '-';
    *p = '\0';
    std::reverse(buffer, p);
    return buffer;
}
