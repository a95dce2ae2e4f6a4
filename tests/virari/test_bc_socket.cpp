// The socket registry: its limit, closing unknown descriptors, and what stays
// registered.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "log_capture.h"
#include "virari/DiraDir2/bc_socket.h"

TEST(BcSocket, TheTwoHundredAndFirstSocketIsRefused) {
    takeLogTexts();
    const int base = bcSocket_count();
    std::vector<int> fds;
    for (int i = base; i < bcSocket::kMaxSockets; ++i) {
        int fd = bcSocket_get(AF_INET, SOCK_DGRAM, 0);
        ASSERT_GE(fd, 0);
        fds.push_back(fd);
    }
    EXPECT_EQ(bcSocket_get(AF_INET, SOCK_DGRAM, 0), -1);
    EXPECT_TRUE(logContains(takeLogTexts(), "bcSocket::get_socket(): maximum socket reached, no socket given"));

    // a connection accepted into a full registry is closed at once
    int lfd = fds.back();
    ASSERT_EQ(bcSocket_close(lfd), 0);
    fds.pop_back();
    lfd = bcSocket_get(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(lfd, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(0x7F000001);
    socklen_t len = sizeof a;
    ASSERT_EQ(bind(lfd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(lfd, 1), 0);
    ASSERT_EQ(getsockname(lfd, reinterpret_cast<sockaddr*>(&a), &len), 0);
    int client = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    errno = 0;
    EXPECT_EQ(bcSocket_accept(lfd, nullptr, nullptr), -1);
    EXPECT_EQ(errno, 35);
    char c;
    EXPECT_LE(recv(client, &c, 1, 0), 0);   // closed by the registry
    close(client);

    EXPECT_EQ(bcSocket_close(lfd), 0);
    for (int fd : fds) EXPECT_EQ(bcSocket_close(fd), 0);
    EXPECT_EQ(bcSocket_count(), base);
}

TEST(BcSocket, ClosingKeepsTheOthersAndRefusesTheUnknown) {
    takeLogTexts();
    const int base = bcSocket_count();
    int a = bcSocket_get(AF_INET, SOCK_DGRAM, 0), b = bcSocket_get(AF_INET, SOCK_DGRAM, 0),
        c = bcSocket_get(AF_INET, SOCK_DGRAM, 0);
    ASSERT_TRUE(a >= 0 && b >= 0 && c >= 0);
    EXPECT_EQ(bcSocket_close(a), 0);
    EXPECT_EQ(bcSocket_count(), base + 2);
    errno = 0;
    EXPECT_EQ(bcSocket_close(a), -1);
    EXPECT_EQ(errno, 9);
    EXPECT_TRUE(logContains(takeLogTexts(), "invalid file descriptor"));
    EXPECT_EQ(bcSocket_close(b), 0);
    EXPECT_EQ(bcSocket_close(c), 0);
    EXPECT_EQ(bcSocket_count(), base);
}
