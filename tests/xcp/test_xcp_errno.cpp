// Error numbers in the XCP log texts: the platform's status codes stay numbers.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "host/os/os.h"
#include "log_capture.h"
#include "xcp/xcp_errno.h"
#include "xcp/xcp_eth.h"
#include "xcp/xcp_internal.h"

TEST(XcpErrnoText, PlatformCodesArePrintedAsNumbersHostErrorsAsText) {
    EXPECT_EQ(std::string(xcpErrnoText(S_objLib_OBJ_UNAVAILABLE).c_str()), "0x3d0002");
    EXPECT_EQ(std::string(xcpErrnoText(S_msgQLib_INVALID_MSG_LENGTH).c_str()), "0x410001");
    EXPECT_EQ(std::string(xcpErrnoText(-1).c_str()), "0xffffffff");
    EXPECT_EQ(std::string(xcpErrnoText(ENOMEM).c_str()), std::strerror(ENOMEM));
}

// A burst of requests that fills the transmit queue: the lost answer or
// control message is logged as a full queue, not as the platform's number
// given to strerror.
TEST(XcpTransmitQueue, AFullQueueIsLoggedAsQueueFull) {
    static xcpHandle c{};
    ASSERT_EQ(xcpQueueInit(&c), 0);
    takeLogTexts();
    for (int i = 0; i < XCP_TX_QUEUE_DEPTH; ++i) xcpEthReset(&c);
    EXPECT_TRUE(takeLogTexts().empty());
    xcpEthReset(&c);
    xcpEthDtoFlush(&c);
    XcpTxMsg msg{};
    EXPECT_EQ(xcpTxFrame(&c, &msg), 0);
    const std::vector<std::string> log = takeLogTexts();
    xcpQueueDelete(&c);
    for (const char* what : {"xcpEthReset", "xcpEthDtoFlush", "xcpTxFrame"})
        EXPECT_TRUE(logContains(log, std::string(what) + "(): msgQSend() error: queue full"))
            << what << ::testing::PrintToString(log);
    // with no queue at all the answer is lost as well, and said so
    EXPECT_EQ(xcpTxFrame(&c, &msg), 0);
    EXPECT_TRUE(logContains(takeLogTexts(), "xcpTxFrame(): msgQSend() error: no transmit queue"));
}
