// The application number passed as the first argument of the kernel's
// screen service.
#pragma once

#include <cstdint>

#if __has_include("platform/appman.h")
#include "platform/appman.h"
inline intptr_t scrndrvRtpIndex() { return intptr_t(RtpIndex); }
#else
inline intptr_t scrndrvRtpIndex() { return 1; }
#endif
