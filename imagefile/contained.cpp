// Runs helper-program tasks in a child process, and the child's side of it.
//
// The child is a fresh executable started with posix_spawn rather than a fork
// of the caller: the program holds pictures of gigabytes and runs Qt and job
// threads. A forked child would inherit that whole address space (so no
// address-space limit could be both safe and useful) and any lock another
// thread held at the moment of the fork, which the decoder libraries may need.
#include "contained.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>

extern char** environ;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QUORVANE_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define QUORVANE_SANITIZED 1
#endif
#endif

namespace {

constexpr uint64_t kMiB = uint64_t(1) << 20;
constexpr int kPollMilliseconds = 50;

// ---- operating-system calls of the parent side ----------------------------

std::string ExecutableFolder() {
    char buffer[4096];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return "";
    std::string path(buffer, size_t(n));
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

uint64_t DefaultAddressSpaceCeiling() {
    const long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGESIZE);
    const uint64_t physical = pages > 0 && pageSize > 0 ? uint64_t(pages) * uint64_t(pageSize) : 4096 * kMiB;
    return std::clamp(physical, 1024 * kMiB, 16384 * kMiB);
}

// An anonymous in-memory file for the result, kept away from descriptor
// number kContainedOutputFd so that the child's dup2 always clears close-on-exec.
int CreateSharedFile() {
    const int fd = int(syscall(SYS_memfd_create, "quorvane-result", 1u /* MFD_CLOEXEC */));
    if (fd < 0 || fd > kContainedOutputFd) return fd;
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, kContainedOutputFd + 1);
    close(fd);
    return moved;
}

SharedBytes MapSharedFile(int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0 || st.st_size <= 0) return SharedBytes();
    const size_t size = size_t(st.st_size);
    void* p = mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
    if (p == MAP_FAILED) return SharedBytes();
    return SharedBytes(static_cast<const uint8_t*>(p), size, size);
}

// Sanitizer runtimes reserve terabytes of address space, so there the limit is
// passed as their resident-memory limit instead of an address-space limit.
std::vector<std::string> ChildEnvironment(uint64_t addressSpace) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
#ifdef QUORVANE_SANITIZED
    const std::string limit = "hard_rss_limit_mb=" + std::to_string(addressSpace / kMiB);
    for (const char* name : {"ASAN_OPTIONS", "TSAN_OPTIONS", "UBSAN_OPTIONS"}) {
        const std::string prefix = std::string(name) + "=";
        auto it = std::find_if(env.begin(), env.end(), [&](const std::string& s) { return s.rfind(prefix, 0) == 0; });
        if (it == env.end())
            env.push_back(prefix + limit);
        else
            *it += ":" + limit;
    }
#else
    (void)addressSpace;
#endif
    return env;
}

std::vector<char*> CStrings(std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (std::string& s : strings) out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

// Starts the helper with the result file as descriptor kContainedOutputFd,
// no terminal input or output, default signal handling, in its own process
// group so that a Ctrl+C meant for the caller reaches the caller alone.
pid_t SpawnHelper(const std::string& helper, std::vector<std::string> argv, uint64_t addressSpace, int resultFd) {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
#ifndef QUORVANE_SANITIZED
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
#endif
    posix_spawn_file_actions_adddup2(&actions, resultFd, kContainedOutputFd);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);

    std::vector<std::string> env = ChildEnvironment(addressSpace);
    std::vector<char*> cargv = CStrings(argv), cenv = CStrings(env);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, helper.c_str(), &actions, &attr, cargv.data(), cenv.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    return rc == 0 ? pid : -1;
}

int ReapChild(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

enum class WaitEnd { Exited, TimedOut, Cancelled };

// Waits for the child to end, the deadline to pass or the caller to cancel;
// in the last two cases the child is killed. Either way it is reaped.
WaitEnd WaitForChild(pid_t pid, int wallMilliseconds, const std::function<bool()>& cancelled, int* status) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wallMilliseconds);
    const int pidfd = int(syscall(SYS_pidfd_open, pid, 0));
    WaitEnd end = WaitEnd::Exited;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            end = WaitEnd::TimedOut;
            break;
        }
        if (cancelled && cancelled()) {
            end = WaitEnd::Cancelled;
            break;
        }
        const int slice = int(std::min<long long>(left.count(), kPollMilliseconds));
        if (pidfd >= 0) {
            pollfd p{pidfd, POLLIN, 0};
            if (poll(&p, 1, slice) > 0) break;
        } else {
            // Kernels before 5.3: look every few milliseconds.
            if (waitpid(pid, status, WNOHANG) == pid) {
                return WaitEnd::Exited;
            }
            usleep(useconds_t(std::min(slice, 5)) * 1000);
        }
    }
    if (pidfd >= 0) close(pidfd);
    if (end != WaitEnd::Exited) kill(pid, SIGKILL);
    *status = ReapChild(pid);
    return end;
}

ContainedResult Outcome(ContainedOutcome outcome, std::string message) {
    ContainedResult r;
    r.outcome = outcome;
    r.message = std::move(message);
    return r;
}

ContainedResult Interpret(int status, int resultFd) {
    if (WIFEXITED(status)) {
        switch (WEXITSTATUS(status)) {
        case kContainedExitFinished: {
            ContainedResult r = Outcome(ContainedOutcome::Finished, "");
            r.output = MapSharedFile(resultFd);
            return r;
        }
        case kContainedExitRefused: {
            SharedBytes why = MapSharedFile(resultFd);
            return Outcome(ContainedOutcome::Refused,
                           std::string(reinterpret_cast<const char*>(why.data()), std::min<size_t>(why.size(), 1000)));
        }
        case kContainedExitOutOfMemory:
            return Outcome(ContainedOutcome::OutOfMemory, "");
        default:
            return Outcome(ContainedOutcome::Crashed, "exit code " + std::to_string(WEXITSTATUS(status)));
        }
    }
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGXCPU) return Outcome(ContainedOutcome::TimedOut, "");
    const int sig = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    const char* name = sig ? strsignal(sig) : nullptr;
    return Outcome(ContainedOutcome::Crashed, name ? name : "unknown end");
}

}  // namespace

SharedBytes::~SharedBytes() {
    if (data_) munmap(const_cast<uint8_t*>(data_), mapped_);
}

SharedBytes::SharedBytes(SharedBytes&& other) noexcept
    : data_(other.data_), size_(other.size_), mapped_(other.mapped_) {
    other.data_ = nullptr;
    other.size_ = other.mapped_ = 0;
}

SharedBytes& SharedBytes::operator=(SharedBytes&& other) noexcept {
    if (this != &other) {
        if (data_) munmap(const_cast<uint8_t*>(data_), mapped_);
        data_ = other.data_;
        size_ = other.size_;
        mapped_ = other.mapped_;
        other.data_ = nullptr;
        other.size_ = other.mapped_ = 0;
    }
    return *this;
}

std::string ContainedHelperPath() {
    const std::string path = ExecutableFolder() + "/quorvane-decode";
    return access(path.c_str(), X_OK) == 0 ? path : "";
}

ContainedResult RunContained(const std::string& task, const std::vector<std::string>& args,
                             const ContainedLimits& limits, const std::function<bool()>& cancelled) {
    const std::string helper = ContainedHelperPath();
    if (helper.empty()) return Outcome(ContainedOutcome::NotStarted, "the decoder program quorvane-decode is missing");
    const uint64_t addressSpace = limits.addressSpaceBytes ? limits.addressSpaceBytes : DefaultAddressSpaceCeiling();
    const int cpuSeconds = limits.wallMilliseconds / 1000 + 2;

    const int resultFd = CreateSharedFile();
    if (resultFd < 0) return Outcome(ContainedOutcome::NotStarted, std::string("no shared memory: ") + strerror(errno));
    std::vector<std::string> argv = {helper,  "--address-space", std::to_string(addressSpace), "--cpu-seconds",
                                     std::to_string(cpuSeconds), "--parent", std::to_string(getpid()), task};
    argv.insert(argv.end(), args.begin(), args.end());
    const pid_t pid = SpawnHelper(helper, argv, addressSpace, resultFd);
    if (pid < 0) {
        close(resultFd);
        return Outcome(ContainedOutcome::NotStarted, "the decoder program could not be started");
    }
    int status = 0;
    const WaitEnd end = WaitForChild(pid, limits.wallMilliseconds, cancelled, &status);
    ContainedResult result = end == WaitEnd::TimedOut    ? Outcome(ContainedOutcome::TimedOut, "")
                             : end == WaitEnd::Cancelled ? Outcome(ContainedOutcome::Cancelled, "")
                                                         : Interpret(status, resultFd);
    close(resultFd);
    return result;
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

ContainedOutput::~ContainedOutput() {
    if (map_) munmap(map_, size_);
}

uint8_t* ContainedOutput::Reserve(size_t bytes) {
    if (map_) munmap(map_, size_);
    map_ = nullptr;
    size_ = 0;
    if (ftruncate(kContainedOutputFd, off_t(bytes)) != 0) throw std::bad_alloc();
    if (bytes == 0) return nullptr;
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, kContainedOutputFd, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    map_ = static_cast<uint8_t*>(p);
    size_ = bytes;
    return map_;
}

void ContainedOutput::Refuse(const std::string& why) {
    uint8_t* p = Reserve(why.size());
    if (p) std::memcpy(p, why.data(), why.size());
}

void TightenContainedMemory(uint64_t bytes) {
#ifndef QUORVANE_SANITIZED
    rlimit now;
    if (getrlimit(RLIMIT_AS, &now) != 0) return;
    if (now.rlim_max != RLIM_INFINITY && bytes > now.rlim_max) bytes = now.rlim_max;
    now.rlim_cur = rlim_t(bytes);
    setrlimit(RLIMIT_AS, &now);
#else
    (void)bytes;
#endif
}

namespace {

// Called first thing in the helper, before any untrusted byte is read: dies
// with the parent, never dumps core, and caps its memory and processor time.
bool ApplyContainedLimits(uint64_t addressSpace, int cpuSeconds, pid_t parent) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) return false;
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    const rlimit cpu{rlim_t(cpuSeconds), rlim_t(cpuSeconds + 1)};
    setrlimit(RLIMIT_CPU, &cpu);
#ifndef QUORVANE_SANITIZED
    const rlimit as{rlim_t(addressSpace), rlim_t(addressSpace)};
    if (setrlimit(RLIMIT_AS, &as) != 0) return false;
#else
    (void)addressSpace;
#endif
    return true;
}

}  // namespace

int ContainedHelperMain(int argc, char** argv, const std::vector<ContainedTaskEntry>& tasks) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() < 7 || args[0] != "--address-space" || args[2] != "--cpu-seconds" || args[4] != "--parent")
        return kContainedExitUsage;
    char* end = nullptr;
    const uint64_t addressSpace = std::strtoull(args[1].c_str(), &end, 10);
    const int cpuSeconds = std::atoi(args[3].c_str());
    const pid_t parent = pid_t(std::atol(args[5].c_str()));
    if (addressSpace == 0 || cpuSeconds <= 0 || !ApplyContainedLimits(addressSpace, cpuSeconds, parent))
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
