// The socket registry: a connection accepted beyond its limit (the limit
// and closing are tested with the telemetry).
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "log_capture.h"
#include "virari/DiraDir2/bc_socket.h"

TEST(BcSocket, AConnectionAcceptedIntoAFullRegistryIsClosed) {
    takeLogTexts();
    const int base = bcSock().count();
    std::vector<int> fds;
    for (int i = base; i < bcSocket::kMaxSockets; ++i) {
        int fd = bcSocket_get(AF_INET, SOCK_DGRAM, 0);
        ASSERT_GE(fd, 0);
        fds.push_back(fd);
    }
    // room for the listening socket only
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
    EXPECT_EQ(bcSock().count(), base);
}
