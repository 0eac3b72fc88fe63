// Starting, confining and waiting for child processes.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstring>

#include "platform.h"

namespace {

ChildStatus RunShell(const std::string& script, int wallMilliseconds = 5000,
                     const std::function<bool()>& cancelled = {}) {
    ChildStart start;
    start.program = "/bin/sh";
    start.argv = {"sh", "-c", script};
    const int pid = SpawnChild(start);
    EXPECT_GT(pid, 0);
    return WaitForChild(pid, wallMilliseconds, cancelled);
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

TEST(ChildProcess, ExitCodesAndSignalsAreTold) {
    ChildStatus s = RunShell("exit 7");
    EXPECT_EQ(s.end, ChildEnd::Exited);
    EXPECT_EQ(s.code, 7);
    s = RunShell("kill -SEGV $$");
    EXPECT_EQ(s.end, ChildEnd::Signalled);
    EXPECT_EQ(s.code, SIGSEGV);
    EXPECT_FALSE(SignalName(SIGSEGV).empty());
}

TEST(ChildProcess, DeadlineAndCancelKillTheChildPromptly) {
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(RunShell("sleep 20", 300).end, ChildEnd::TimedOut);
    EXPECT_LT(Seconds(start), 1.5);
    EXPECT_GE(Seconds(start), 0.29);
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(RunShell("sleep 20", 10000, [&] { return Seconds(start) > 0.2; }).end, ChildEnd::Cancelled);
    EXPECT_LT(Seconds(start), 1.5);
}

TEST(ChildProcess, ResultMemoryIsSharedWithTheChild) {
    const int fd = CreateSharedMemoryFile();
    ASSERT_GE(fd, 0);
    EXPECT_NE(fd, kChildResultFd);
    ChildStart start;
    start.program = "/bin/sh";
    start.argv = {"sh", "-c", "printf 'from the child' >&3; [ \"$QUORVANE_PROBE\" = seen ]"};
    start.extraEnvironment = {"QUORVANE_PROBE=seen"};
    start.resultFd = fd;
    const ChildStatus s = WaitForChild(SpawnChild(start), 5000, {});
    EXPECT_EQ(s.end, ChildEnd::Exited);
    EXPECT_EQ(s.code, 0) << "the extra environment did not reach the child";
    std::string text(SharedMemoryFileSize(fd), '\0');
    ASSERT_TRUE(ReadSharedMemoryFile(fd, 0, text.data(), text.size()));
    EXPECT_EQ(text, "from the child");
    EXPECT_FALSE(ReadSharedMemoryFile(fd, 5, text.data(), text.size())) << "read past the end";
    EXPECT_TRUE(WriteSharedMemoryFile(fd, 20, "x", 1));
    EXPECT_EQ(SharedMemoryFileSize(fd), 21u);
    EXPECT_TRUE(ResizeSharedMemoryFile(fd, 0));
    EXPECT_EQ(SharedMemoryFileSize(fd), 0u);
    CloseDescriptor(fd);
}

TEST(ChildProcess, AMissingProgramIsNotStarted) {
    ChildStart start;
    start.program = "/nonexistent/quorvane-nothing";
    start.argv = {"x"};
    EXPECT_EQ(SpawnChild(start), -1);
}
