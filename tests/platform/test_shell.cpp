// Shell: splitting lines, dispatching commands, capturing their output and the
// socket bridge.
#include "platform/shell.h"

#include "platform_fixture.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

std::vector<std::string> gArgs;

int recordArgs(int argc, char** argv) {
    gArgs.assign(argv, argv + argc);
    EXPECT_EQ(argv[argc], nullptr);
    return argc;
}

int printer(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) printf("%s|", argv[i]);
    printf("\n");
    return 7;
}

std::vector<std::string> split(const char* line) {
    std::vector<std::string> w;
    std::string err;
    EXPECT_TRUE(shell_splitLine(line, &w, &err)) << line;
    return w;
}

}  // namespace

TEST(ShellSplit, WordsQuotesAndEscapes) {
    using V = std::vector<std::string>;
    EXPECT_EQ(split("  display   1 \t 2\r\n"), (V{"display", "1", "2"}));
    EXPECT_EQ(split("setvar \"a b\" 'c \"d\"' x\"y z\"w"), (V{"setvar", "a b", "c \"d\"", "xy zw"}));
    EXPECT_EQ(split("cmd \"q\\\"uote\" \"back\\\\slash\" \"\""), (V{"cmd", "q\"uote", "back\\slash", ""}));
    EXPECT_EQ(split(""), V{});
    EXPECT_EQ(split(nullptr), V{});
    std::vector<std::string> w{"stale"};
    std::string err;
    EXPECT_FALSE(shell_splitLine("cmd \"open", &w, &err));
    EXPECT_TRUE(w.empty());
    EXPECT_EQ(err, "unclosed quote");
}

using Shell = PlatformTest;

TEST_F(Shell, DispatchCallsTheCommandWithArgv) {
    ASSERT_NE(msd_shellAddCommand("t_args", recordArgs), 0);
    EXPECT_EQ(shell_runLine("t_args one \"two three\""), 3);
    EXPECT_EQ(gArgs, (std::vector<std::string>{"t_args", "one", "two three"}));
    EXPECT_EQ(shell_runLine("   "), 0);

    std::string out;
    EXPECT_EQ(shell_runLineCapture("no_such_cmd 1", &out), -1);
    EXPECT_EQ(out, "shell: unknown command 'no_such_cmd'\n");
    EXPECT_EQ(shell_runLineCapture("t_args \"open", &out), -1);
    EXPECT_NE(out.find("unclosed quote"), std::string::npos);

    EXPECT_EQ(msd_shellAddCommand(nullptr, recordArgs), 0);
    EXPECT_EQ(msd_shellAddCommand("", recordArgs), 0);
    EXPECT_EQ(msd_shellAddCommand("bad name", recordArgs), 0);
    EXPECT_EQ(msd_shellAddCommand("t_null", nullptr), 0);
    // Registering again replaces the function.
    ASSERT_NE(msd_shellAddCommand("t_args", printer), 0);
    EXPECT_EQ(shell_runLineCapture("t_args a b", &out), 7);
    EXPECT_EQ(out, "a|b|\n");
}

TEST_F(Shell, SocketClientGetsTheOutputOfEachLine) {
    ASSERT_NE(msd_shellAddCommand("t_print", printer), 0);
    ASSERT_EQ(shell_start(false), 1);
    EXPECT_TRUE(shell_running());

    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::string path = shell_socketPath();
    snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    // Two lines in one write, the second split over two writes.
    std::string req = "t_print x \"y z\"\nt_pr";
    ASSERT_EQ(write(fd, req.data(), req.size()), static_cast<ssize_t>(req.size()));
    ASSERT_EQ(write(fd, "int q\nnope\n", 11), 11);
    shutdown(fd, SHUT_WR);
    std::string answer;
    char buf[256];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) answer.append(buf, static_cast<size_t>(n));
    close(fd);
    EXPECT_EQ(answer,
              "x|y z|\nvalue = 7 = 0x7\n"
              "q|\nvalue = 7 = 0x7\n"
              "shell: unknown command 'nope'\nvalue = -1 = 0xffffffff\n");

    shell_stop();
    EXPECT_FALSE(shell_running());
    EXPECT_NE(access(path.c_str(), F_OK), 0);   // socket removed
    // Stopping twice and starting again work.
    shell_stop();
    ASSERT_EQ(shell_start(false), 1);
    EXPECT_EQ(access(path.c_str(), F_OK), 0);
    shell_stop();
}
