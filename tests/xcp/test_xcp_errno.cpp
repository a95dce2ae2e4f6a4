// Error numbers in the XCP log texts: the platform's status codes stay numbers.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "host/os/os.h"
#include "xcp/xcp_errno.h"

TEST(XcpErrnoText, PlatformCodesArePrintedAsNumbersHostErrorsAsText) {
    EXPECT_EQ(std::string(xcpErrnoText(S_objLib_OBJ_UNAVAILABLE).c_str()), "0x3d0002");
    EXPECT_EQ(std::string(xcpErrnoText(S_msgQLib_INVALID_MSG_LENGTH).c_str()), "0x410001");
    EXPECT_EQ(std::string(xcpErrnoText(-1).c_str()), "0xffffffff");
    EXPECT_EQ(std::string(xcpErrnoText(ENOMEM).c_str()), std::strerror(ENOMEM));
}
