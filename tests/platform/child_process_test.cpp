// Starting, confining and waiting for child processes.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstring>
#include <vector>

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

// A child that keeps its result in its own memory says so over the control
// channel and waits; the caller reads its memory, answers, and the child ends.
TEST(ChildProcess, AReadyChildWaitsForTheCallersAnswer) {
    int caller = -1, child = -1;
    ASSERT_TRUE(CreateControlChannel(caller, child));
    EXPECT_GT(caller, kChildControlFd);
    EXPECT_GT(child, kChildControlFd);
    ChildStart start;
    start.program = "/bin/sh";
    start.argv = {"sh", "-c", "printf R >&4; answer=$(head -c 1 <&4); [ \"$answer\" = W ] && exit 9; exit 0"};
    start.controlFd = child;
    const int pid = SpawnChild(start);
    CloseDescriptor(child);
    ASSERT_GT(pid, 0);
    ChildStatus s = WaitForChild(pid, 5000, {}, caller);
    ASSERT_EQ(s.end, ChildEnd::Ready);
    EXPECT_EQ(ReceiveControlByte(caller), 'R');
    EXPECT_TRUE(SendControlByte(caller, 'W'));
    s = WaitForChild(pid, 5000, {});
    EXPECT_EQ(s.end, ChildEnd::Exited);
    EXPECT_EQ(s.code, 9) << "the answer did not reach the child";
    EXPECT_EQ(ReceiveControlByte(caller), -1) << "the channel ends with the child";
    EXPECT_FALSE(SendControlByte(caller, 'F'));
    CloseDescriptor(caller);

    // A child that ends without a word is reaped as usual.
    ASSERT_TRUE(CreateControlChannel(caller, child));
    start.argv = {"sh", "-c", "exit 4"};
    start.controlFd = child;
    const int quiet = SpawnChild(start);
    CloseDescriptor(child);
    s = WaitForChild(quiet, 5000, {}, caller);
    if (s.end == ChildEnd::Ready) {  // its closed end may be seen first
        EXPECT_EQ(ReceiveControlByte(caller), -1);
        s = WaitForChild(quiet, 5000, {});
    }
    EXPECT_EQ(s.end, ChildEnd::Exited);
    EXPECT_EQ(s.code, 4);
    CloseDescriptor(caller);
}

TEST(ChildProcess, MemoryIsReadSpanBySpanOrNotAtAll) {
    // This process stands in for the child: the reading is the same.
    std::vector<unsigned char> source(3000 * 7);
    for (size_t i = 0; i < source.size(); ++i) source[i] = static_cast<unsigned char>(i * 7 + i / 251);
    std::vector<unsigned char> copy(source.size(), 0);
    std::vector<ChildMemorySpan> spans;
    // More spans than one system call takes, in reverse order.
    for (size_t row = 0; row < 3000; ++row)
        spans.push_back({uint64_t(uintptr_t(source.data() + 7 * (2999 - row))), copy.data() + 7 * row, 7});
    ASSERT_EQ(ReadChildMemory(ThisProcessId(), spans), ChildMemoryRead::Done);
    for (size_t row = 0; row < 3000; ++row)
        ASSERT_EQ(std::memcmp(copy.data() + 7 * row, source.data() + 7 * (2999 - row), 7), 0) << "row " << row;
    // One span outside the memory fails the whole read.
    spans[2500].from = 4096;
    EXPECT_EQ(ReadChildMemory(ThisProcessId(), spans), ChildMemoryRead::Failed);
    EXPECT_EQ(ReadChildMemory(ThisProcessId(), {}), ChildMemoryRead::Done);

    // A large read, shared between threads: a span cut where they meet, and
    // a failure in either half, are the same as in a small one.
    const size_t rowBytes = 12345, rows = 3000;
    std::vector<unsigned char> big(rowBytes * rows), bigCopy(big.size(), 0);
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<unsigned char>(i % 251);
    std::vector<ChildMemorySpan> bigSpans;
    for (size_t row = 0; row < rows; ++row)
        bigSpans.push_back({uint64_t(uintptr_t(big.data() + rowBytes * (rows - 1 - row))), bigCopy.data() + rowBytes * row,
                            rowBytes});
    bigSpans.push_back({uint64_t(uintptr_t(big.data())), nullptr, 0});
    ASSERT_EQ(ReadChildMemory(ThisProcessId(), bigSpans), ChildMemoryRead::Done);
    for (size_t row = 0; row < rows; ++row)
        ASSERT_EQ(std::memcmp(bigCopy.data() + rowBytes * row, big.data() + rowBytes * (rows - 1 - row), rowBytes), 0)
            << "row " << row;
    // Spans are read in the order of their place in the child: the lowest
    // page falls in the first half, the top of the address space in the last.
    for (const uint64_t nowhere : {uint64_t(4096), (uint64_t(1) << 47) - 4096}) {
        std::vector<ChildMemorySpan> broken = bigSpans;
        broken[rows / 2].from = nowhere;
        EXPECT_EQ(ReadChildMemory(ThisProcessId(), broken), ChildMemoryRead::Failed) << nowhere;
    }
}

TEST(ChildServer, AServerThatIsGoneStartsNothing) {
    ChildStart start;
    start.program = "/bin/sh";
    start.argv = {"sh", "-c", "exit 0"};
    ChildServer server;
    ASSERT_TRUE(StartChildServer(start, server));
    EXPECT_GT(server.pid, 0);
    const int fd = CreateSharedMemoryFile();
    EXPECT_EQ(StartServedChild(server, {"child"}, {}, fd, -1), -1);
    StopChildServer(server);
    EXPECT_EQ(server.pid, -1);
    EXPECT_EQ(server.socket, -1);
    CloseDescriptor(fd);
}
