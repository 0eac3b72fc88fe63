// Runs helper-program tasks in a child process, and the child's side of it.
//
// The child is a fresh executable started with posix_spawn rather than a fork
// of the caller: the program holds pictures of gigabytes and runs Qt and job
// threads. A forked child would inherit that whole address space (so no
// address-space limit could be both safe and useful) and any lock another
// thread held at the moment of the fork, which the decoder libraries may need.
#include "contained.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <new>

#include "freeimage_guard.h"
#include "platform.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QUORVANE_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define QUORVANE_SANITIZED 1
#endif
#endif

static_assert(kContainedOutputFd == kChildResultFd, "the child finds its result memory where the parent put it");
static_assert(kContainedControlFd == kChildControlFd, "the child finds its control channel where the parent put it");

namespace {

constexpr uint64_t kMiB = uint64_t(1) << 20;
constexpr char kReadyByte = 'R';

uint64_t DefaultAddressSpaceCeiling() {
    const uint64_t physical = PhysicalMemoryBytes();
    return std::clamp(physical ? physical : 4096 * kMiB, 1024 * kMiB, 16384 * kMiB);
}

// Sanitizer runtimes reserve terabytes of address space, so there the limit is
// passed as their resident-memory limit instead of an address-space limit.
std::vector<std::string> SanitizerLimits(uint64_t addressSpace) {
    std::vector<std::string> env;
#ifdef QUORVANE_SANITIZED
    const std::string limit = "hard_rss_limit_mb=" + std::to_string(addressSpace / kMiB);
    for (const char* name : {"ASAN_OPTIONS", "TSAN_OPTIONS", "UBSAN_OPTIONS"}) {
        const char* now = std::getenv(name);
        env.push_back(std::string(name) + "=" + (now && *now ? std::string(now) + ":" : "") + limit);
    }
#else
    (void)addressSpace;
#endif
    return env;
}

ContainedResult Outcome(ContainedOutcome outcome, std::string message) {
    ContainedResult r;
    r.outcome = outcome;
    r.message = std::move(message);
    return r;
}

ContainedResult Interpret(const ChildStatus& status, SharedResult result) {
    switch (status.end) {
    case ChildEnd::Ready:  // not an end: WaitForChild without a channel never says it
    case ChildEnd::TimedOut: return Outcome(ContainedOutcome::TimedOut, "");
    case ChildEnd::Cancelled: return Outcome(ContainedOutcome::Cancelled, "");
    case ChildEnd::Signalled:
        if (IsProcessorTimeSignal(status.code)) return Outcome(ContainedOutcome::TimedOut, "");
        return Outcome(ContainedOutcome::Crashed, SignalName(status.code));
    case ChildEnd::Exited: break;
    }
    switch (status.code) {
    case kContainedExitFinished: {
        ContainedResult r = Outcome(ContainedOutcome::Finished, "");
        r.output = std::move(result);
        return r;
    }
    case kContainedExitRefused: {
        std::string why(size_t(std::min<uint64_t>(result.size(), 1000)), '\0');
        if (!result.Read(0, why.data(), why.size())) why.clear();
        return Outcome(ContainedOutcome::Refused, why);
    }
    case kContainedExitOutOfMemory: return Outcome(ContainedOutcome::OutOfMemory, "");
    default: return Outcome(ContainedOutcome::Crashed, "exit code " + std::to_string(status.code));
    }
}

}  // namespace

SharedResult::~SharedResult() { CloseDescriptor(fd_); }

SharedResult& SharedResult::operator=(SharedResult&& other) noexcept {
    if (this != &other) {
        CloseDescriptor(fd_);
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

uint64_t SharedResult::size() const { return fd_ < 0 ? 0 : SharedMemoryFileSize(fd_); }

bool SharedResult::Read(uint64_t offset, void* data, size_t size) const {
    return fd_ >= 0 && ReadSharedMemoryFile(fd_, offset, data, size);
}

bool SharedResult::Seal() const { return fd_ >= 0 && SealSharedMemoryFile(fd_); }

unsigned char* SharedResult::MapForKeeping(uint64_t offset, size_t size) const {
    return fd_ < 0 ? nullptr : MapSharedMemoryFile(fd_, offset, size, MapUse::Keep);
}

// Beside the program in a build tree; in the installation's helper folder
// (<prefix>/libexec/quorvane for <prefix>/bin) otherwise. Never searched for
// elsewhere: an unknown program folder means no helper.
std::string ContainedHelperPath() {
    const std::string folder = ExecutableFolder();
    if (folder.empty()) return "";
    const std::filesystem::path beside = std::filesystem::path(folder) / "quorvane-decode";
    const std::filesystem::path installed =
        (std::filesystem::path(folder) / QUORVANE_HELPERS_FROM_BIN / "quorvane-decode").lexically_normal();
    std::error_code ec;
    for (const std::filesystem::path& path : {beside, installed})
        if (std::filesystem::is_regular_file(path, ec)) return path.string();
    return "";
}

namespace {

#ifndef QUORVANE_SANITIZED
// Decoder servers (see ChildServer) kept between runs; one per run at a
// time, so that runs on several threads do not wait for each other.
class ServerPool {
public:
    // An idle server, or a new one; its pid is -1 when none could be started.
    ChildServer Take(const std::string& helper) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            LeaveParentsServers();
            if (!idle_.empty()) {
                const ChildServer server = idle_.back();
                idle_.pop_back();
                return server;
            }
        }
        ChildStart start;
        start.program = helper;
        start.argv = {helper, "--serve"};
        start.largePages = true;
        ChildServer server;
        StartChildServer(start, server);
        return server;
    }
    void Give(ChildServer server) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            LeaveParentsServers();
            if (!closed_ && idle_.size() < kIdleServers) {
                idle_.push_back(server);
                return;
            }
        }
        StopChildServer(server);
    }
    // At exit: the idle servers end and are waited for, later ones at once.
    void Close() {
        std::vector<ChildServer> idle;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            closed_ = true;
            idle.swap(idle_);
        }
        for (ChildServer& server : idle) StopChildServer(server);
    }

private:
    // A copy of this process made by fork() leaves the idle servers to the
    // parent that started them: requests from both would cross on one
    // socket, and the servers may not see the files the copy sees (another
    // mount namespace, say). The copy starts servers of its own.
    void LeaveParentsServers() {
        const int self = ThisProcessId();
        if (owner_ == self) return;
        for (const ChildServer& server : idle_) CloseDescriptor(server.socket);
        idle_.clear();
        owner_ = self;
    }

    static constexpr size_t kIdleServers = 2;
    std::mutex mutex_;
    std::vector<ChildServer> idle_;
    int owner_ = ThisProcessId();  // the process whose servers idle_ holds
    bool closed_ = false;
};

// The pool itself is never destroyed, since a run may still end on another
// thread while the program exits; its servers are stopped at exit.
ServerPool& Servers() {
    static ServerPool* pool = new ServerPool;
    static struct CloseAtExit {
        ~CloseAtExit() { pool->Close(); }
    } closeAtExit;
    return *pool;
}

// What the helper's tasks read from the environment that the caller may
// change while a server, started earlier, lives on.
std::vector<std::string> ForwardedEnvironment() {
    std::vector<std::string> env;
    for (const char* name : {"QUORVANE_DECODE_TEST_FAULT"}) {
        const char* value = std::getenv(name);
        env.push_back(value ? std::string(name) + "=" + value : std::string(name));
    }
    return env;
}

#endif

using ChildWait = std::function<ChildStatus(int wallMilliseconds, int readyFd)>;

// Waits for a started child, lets `collect` read its result when it says it
// is ready, and tells what became of it. Takes ownership of `callerEnd`.
ContainedResult FollowChild(int pid, const ChildWait& wait, int wallMilliseconds, const ContainedCollect& collect,
                            int callerEnd, SharedResult output) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wallMilliseconds);
    ChildStatus status = wait(wallMilliseconds, callerEnd);
    if (status.end == ChildEnd::Ready) {
        // Anything but the ready byte (a child that closed its end, or sent
        // something else) gets no collection; the exit status then decides.
        ContainedAnswer answer = ContainedAnswer::Finish;
        if (ReceiveControlByte(callerEnd) == kReadyByte) answer = collect(ContainedChild{pid, output});
        SendControlByte(callerEnd, char(answer));
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        status = wait(int(std::max<long long>(left.count(), 0)), -1);
    }
    CloseDescriptor(callerEnd);
    return Interpret(status, std::move(output));
}

}  // namespace

ContainedResult RunContained(const std::string& task, const std::vector<std::string>& args,
                             const ContainedLimits& limits, const std::function<bool()>& cancelled,
                             const ContainedCollect& collect) {
    const std::string helper = ContainedHelperPath();
    if (helper.empty()) return Outcome(ContainedOutcome::NotStarted, "the decoder program quorvane-decode is missing");
    const uint64_t addressSpace = limits.addressSpaceBytes ? limits.addressSpaceBytes : DefaultAddressSpaceCeiling();
    const int cpuSeconds = limits.wallMilliseconds / 1000 + 2;
    const auto argvFor = [&](int parent) {
        std::vector<std::string> argv = {helper,  "--address-space", std::to_string(addressSpace), "--cpu-seconds",
                                         std::to_string(cpuSeconds), "--parent", std::to_string(parent), task};
        argv.insert(argv.end(), args.begin(), args.end());
        return argv;
    };

    const int resultFd = CreateSharedMemoryFile();
    if (resultFd < 0) return Outcome(ContainedOutcome::NotStarted, "no shared memory for the decoder");
    SharedResult output(resultFd);
    int callerEnd = -1, childEnd = -1;
    if (collect && !CreateControlChannel(callerEnd, childEnd))
        return Outcome(ContainedOutcome::NotStarted, "no channel to the decoder");

#ifndef QUORVANE_SANITIZED
    // A child forked by a waiting server rather than a program started anew.
    // (Sanitizer runtimes keep their memory limit in a thread, which a fork
    // does not take along: there every child is started anew.)
    ChildServer server = Servers().Take(helper);
    const int served = server.pid > 0 ? StartServedChild(server, argvFor(server.pid), ForwardedEnvironment(),
                                                         resultFd, childEnd)
                                      : -1;
    if (served > 0) {
        CloseDescriptor(childEnd);
        bool serverFailed = false;
        const ChildWait wait = [&](int wallMilliseconds, int readyFd) {
            const ChildStatus status = WaitForServedChild(server, served, wallMilliseconds, cancelled, readyFd);
            serverFailed = serverFailed || (status.end == ChildEnd::Exited && status.code < 0);
            return status;
        };
        ContainedResult result = FollowChild(served, wait, limits.wallMilliseconds, collect, callerEnd, std::move(output));
        if (serverFailed) StopChildServer(server);
        else Servers().Give(server);
        return result;
    }
    if (server.pid > 0) StopChildServer(server);
#endif

    ChildStart start;
    start.program = helper;
    start.argv = argvFor(ThisProcessId());
    start.extraEnvironment = SanitizerLimits(addressSpace);
    start.resultFd = resultFd;
    start.controlFd = childEnd;
    start.largePages = true;
#ifdef QUORVANE_SANITIZED
    start.quiet = false;  // keep the sanitizer's report
#endif
    const int pid = SpawnChild(start);
    // Only the child holds its end now: its exit closes the channel.
    CloseDescriptor(childEnd);
    if (pid < 0) {
        CloseDescriptor(callerEnd);
        return Outcome(ContainedOutcome::NotStarted, "the decoder program could not be started");
    }
    const ChildWait wait = [&](int wallMilliseconds, int readyFd) {
        return WaitForChild(pid, wallMilliseconds, cancelled, readyFd);
    };
    return FollowChild(pid, wait, limits.wallMilliseconds, collect, callerEnd, std::move(output));
}

bool ContainedDecodersWait() {
#ifdef QUORVANE_SANITIZED
    return false;
#else
    return true;
#endif
}

std::string DescribeContainedFailure(const ContainedResult& result) {
    switch (result.outcome) {
    case ContainedOutcome::Finished: return "";
    case ContainedOutcome::Refused: return result.message;
    case ContainedOutcome::Crashed: return "the decoder crashed (" + result.message + ")";
    case ContainedOutcome::TimedOut: return "the decoder did not finish in time";
    case ContainedOutcome::OutOfMemory: return "the decoder needed more memory than the file can justify";
    case ContainedOutcome::Cancelled: return "cancelled";
    case ContainedOutcome::NotStarted: return result.message;
    }
    return "";
}

// ---- the child's side -------------------------------------------------------

void ContainedOutput::Write(const void* data, size_t size) {
    if (!WriteSharedMemoryFile(kContainedOutputFd, written_, data, size)) throw std::bad_alloc();
    written_ += size;
}

void ContainedOutput::Refuse(const std::string& why) {
    ResizeSharedMemoryFile(kContainedOutputFd, 0);
    written_ = 0;
    Write(why.data(), why.size());
}

bool ContainedOutput::Resize(uint64_t size) { return ResizeSharedMemoryFile(kContainedOutputFd, size); }

bool ContainedOutput::WriteAt(uint64_t offset, const void* data, size_t size) {
    return WriteSharedMemoryFile(kContainedOutputFd, offset, data, size);
}

ContainedAnswer ContainedOutput::AwaitCollection() {
    if (!SendControlByte(kContainedControlFd, kReadyByte)) return ContainedAnswer::WriteShared;
    const int answer = ReceiveControlByte(kContainedControlFd);
    return answer == char(ContainedAnswer::Finish) ? ContainedAnswer::Finish : ContainedAnswer::WriteShared;
}

void TightenContainedMemory(uint64_t bytes) {
#ifndef QUORVANE_SANITIZED
    LowerAddressSpaceLimit(bytes);
#else
    (void)bytes;
#endif
}

int ContainedHelperMain(int argc, char** argv, const std::vector<ContainedTaskEntry>& tasks) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && args[0] == "--serve") {
        // Every child forked from here finds the decoding library ready.
        EnsureFreeImage();
        return ServeChildren([&](std::vector<std::string>& childArgv) {
            std::vector<char*> pointers;
            for (std::string& arg : childArgv) pointers.push_back(arg.data());
            pointers.push_back(nullptr);
            return ContainedHelperMain(int(childArgv.size()), pointers.data(), tasks);
        });
    }
    if (args.size() < 7 || args[0] != "--address-space" || args[2] != "--cpu-seconds" || args[4] != "--parent")
        return kContainedExitUsage;
    char* end = nullptr;
    const uint64_t addressSpace = std::strtoull(args[1].c_str(), &end, 10);
    const int cpuSeconds = std::atoi(args[3].c_str());
    const int parent = std::atoi(args[5].c_str());
#ifdef QUORVANE_SANITIZED
    const uint64_t hardLimit = 0;
#else
    const uint64_t hardLimit = addressSpace;
#endif
    if (addressSpace == 0 || cpuSeconds <= 0 || !LimitThisProcess(hardLimit, cpuSeconds, parent))
        return kContainedExitUsage;
    const auto task = std::find_if(tasks.begin(), tasks.end(), [&](const ContainedTaskEntry& t) { return args[6] == t.name; });
    if (task == tasks.end()) return kContainedExitUsage;
    ContainedOutput out;
    try {
        return task->run(std::vector<std::string>(args.begin() + 7, args.end()), out);
    } catch (const std::bad_alloc&) {
        return kContainedExitOutOfMemory;
    } catch (const std::exception& e) {
        try {
            out.Refuse(e.what());
        } catch (const std::bad_alloc&) {
            return kContainedExitOutOfMemory;
        }
        return kContainedExitRefused;
    }
}
