// POSIX implementation of the platform services.
#include "platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <limits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <ctime>
#include <new>
#include <random>
#include <system_error>
#include <thread>

extern char** environ;

namespace {

constexpr char kTempPrefix[] = ".quorvane-";
constexpr size_t kTempPrefixLength = sizeof kTempPrefix - 1;
constexpr size_t kTempRandomLength = 6;
constexpr char kTempAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string ErrorText(int err) { return std::strerror(err); }

// A symbolic link is replaced by way of the file it names, so the link stays.
std::string ResolveTarget(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

std::string RandomTempName() {
    thread_local std::mt19937 random{std::random_device{}()};
    std::uniform_int_distribution<size_t> pick(0, sizeof kTempAlphabet - 2);
    std::string name = kTempPrefix;
    for (size_t i = 0; i < kTempRandomLength; ++i) name += kTempAlphabet[pick(random)];
    return name;
}

bool FlushFolder(const std::string& folder, int& err) {
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        err = errno;
        return false;
    }
    const bool ok = fsync(fd) == 0 || errno == EINVAL || errno == ENOTSUP;
    err = errno;
    close(fd);
    return ok;
}

std::atomic<bool>* g_interruptFlag = nullptr;
void OnInterrupt(int) {
    if (g_interruptFlag) g_interruptFlag->store(true);
}

}  // namespace

std::string ExecutableFolder() {
    char buffer[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return std::string();
    return FolderOf(std::string(buffer, size_t(n)));
}

std::string UserConfigFolder() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && *xdg) return xdg;
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.config";
}

bool IsReadOnlyFile(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return false;
    // Root may write anything; the missing write bits still say "keep it".
    return access(path.c_str(), W_OK) != 0 || (st.st_mode & 0222) == 0;
}

SafeFileWriter::SafeFileWriter(const std::string& path) : target_(ResolveTarget(path)), folder_(FolderOf(target_)) {
    if (IsReadOnlyFile(target_)) {
        error_ = "the file is read-only";
        return;
    }
    struct stat st;
    if (stat(target_.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) {
            error_ = S_ISDIR(st.st_mode) ? "a folder of that name is in the way" : "it is not a regular file";
            return;
        }
        mode_ = st.st_mode & 07777;
        keepMode_ = true;
    }
    RemoveStaleTemporaryFiles(folder_, kStaleTemporarySeconds);
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
        temp_ = folder_ + "/" + RandomTempName();
        // 0666 lets the umask decide a new file's permissions, as for any new file.
        fd_ = open(temp_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ < 0 && errno != EEXIST) break;
    }
    if (fd_ < 0) {
        const int err = errno;
        temp_.clear();
        Fail("cannot create a file in " + folder_, err);
    }
}

SafeFileWriter::~SafeFileWriter() {
    if (fd_ >= 0) close(fd_);
    if (!temp_.empty()) unlink(temp_.c_str());
}

void SafeFileWriter::Fail(const std::string& what, int err) {
    if (error_.empty()) error_ = err ? what + ": " + ErrorText(err) : what;
}

bool SafeFileWriter::Write(const void* data, size_t size) {
    if (!Ok()) return false;
    const char* p = static_cast<const char*>(data);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = write(fd_, p + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            // A write that stores nothing without an error means no room.
            Fail("writing failed", n < 0 ? errno : ENOSPC);
            return false;
        }
        done += size_t(n);
    }
    written_ += (long long)size;
    return true;
}

bool SafeFileWriter::Commit() {
    if (!Ok()) return false;
    if (fsync(fd_) != 0) {
        Fail("flushing to the disk failed", errno);
        return false;
    }
    struct stat st;
    if (fstat(fd_, &st) != 0) {
        Fail("cannot check the written file", errno);
        return false;
    }
    if ((long long)st.st_size != written_) {
        Fail("the written file has " + std::to_string(st.st_size) + " bytes instead of " + std::to_string(written_), 0);
        return false;
    }
    if (keepMode_) fchmod(fd_, mode_t(mode_));
    const int fd = fd_;
    fd_ = -1;
    if (close(fd) != 0) {
        Fail("closing the file failed", errno);
        return false;
    }
    if (rename(temp_.c_str(), target_.c_str()) != 0) {
        Fail("cannot replace the file", errno);
        return false;
    }
    temp_.clear();
    int err = 0;
    if (!FlushFolder(folder_, err)) {
        Fail("the file was written but its folder could not be flushed to the disk", err);
        return false;
    }
    return true;
}

bool WriteFileSafely(const std::string& path, const void* data, size_t size, std::string& why) {
    SafeFileWriter writer(path);
    writer.Write(data, size);
    const bool ok = writer.Commit();
    why = writer.Error();
    return ok;
}

bool IsSafeWriterTemporaryName(const std::string& fileName) {
    if (fileName.size() != kTempPrefixLength + kTempRandomLength || fileName.compare(0, kTempPrefixLength, kTempPrefix))
        return false;
    for (size_t i = kTempPrefixLength; i < fileName.size(); ++i)
        if (!std::strchr(kTempAlphabet, fileName[i])) return false;
    return true;
}

int RemoveStaleTemporaryFiles(const std::string& folder, long ageSeconds) {
    DIR* dir = opendir(folder.c_str());
    if (!dir) return 0;
    const time_t now = time(nullptr);
    int removed = 0;
    while (const dirent* entry = readdir(dir)) {
        if (!IsSafeWriterTemporaryName(entry->d_name)) continue;
        struct stat st;
        if (fstatat(dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (!S_ISREG(st.st_mode) || st.st_uid != geteuid() || now - st.st_mtime <= ageSeconds) continue;
        removed += unlinkat(dirfd(dir), entry->d_name, 0) == 0;
    }
    closedir(dir);
    return removed;
}

void CatchInterrupts(std::atomic<bool>& flag) {
    g_interruptFlag = &flag;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    // The first signal is caught once; the next of its kind has the default effect.
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}


// ---- Child processes with limits ------------------------------------------

namespace {

// The child's dup2 onto kChildResultFd and kChildControlFd must clear
// close-on-exec, which it only does when the numbers differ, and must not
// overwrite a descriptor that a later dup2 still reads from.
int AboveChildDescriptors(int fd) {
    if (fd < 0 || fd > kChildControlFd) return fd;
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, kChildControlFd + 1);
    close(fd);
    return moved;
}

}  // namespace

int CreateSharedMemoryFile() {
    return AboveChildDescriptors(int(syscall(SYS_memfd_create, "quorvane-result", MFD_CLOEXEC | MFD_ALLOW_SEALING)));
}

bool CreateControlChannel(int& callerEnd, int& childEnd) {
    int ends[2];
    callerEnd = childEnd = -1;
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return false;
    callerEnd = AboveChildDescriptors(ends[0]);
    childEnd = AboveChildDescriptors(ends[1]);
    if (callerEnd >= 0 && childEnd >= 0) return true;
    CloseDescriptor(callerEnd);
    CloseDescriptor(childEnd);
    callerEnd = childEnd = -1;
    return false;
}

bool SendControlByte(int fd, char byte) {
    ssize_t n;
    // MSG_NOSIGNAL: a peer that is gone is an answer, not a SIGPIPE.
    while ((n = send(fd, &byte, 1, MSG_NOSIGNAL)) < 0 && errno == EINTR) {
    }
    return n == 1;
}

int ReceiveControlByte(int fd) {
    unsigned char byte = 0;
    ssize_t n;
    while ((n = read(fd, &byte, 1)) < 0 && errno == EINTR) {
    }
    return n == 1 ? int(byte) : -1;
}

namespace {

// Reads spans ordered by their place in the child. Bounded batches: the
// system takes at most IOV_MAX pieces and about 2 GB per call. Spans that lie
// one after the other in the child are read as one piece there (the system
// pins the child's pages piece by piece), whatever their order here: rows
// stored bottom-up are one block.
ChildMemoryRead ReadOrderedSpans(int pid, const std::vector<ChildMemorySpan>& ordered) {
    constexpr size_t kMaxPieces = 1024, kMaxPiece = size_t(1) << 28, kMaxBatch = size_t(1) << 30;
    std::vector<iovec> here, there;
    size_t batch = 0;
    const auto flush = [&]() {
        const ssize_t n = process_vm_readv(pid_t(pid), here.data(), here.size(), there.data(), there.size(), 0);
        const bool whole = n >= 0 && size_t(n) == batch;
        const int err = errno;
        here.clear(), there.clear(), batch = 0;
        if (whole) return ChildMemoryRead::Done;
        return n < 0 && (err == EPERM || err == EACCES || err == ENOSYS) ? ChildMemoryRead::NotPermitted
                                                                         : ChildMemoryRead::Failed;
    };
    for (const ChildMemorySpan& span : ordered)
        for (size_t done = 0; done < span.bytes;) {
            const size_t piece = std::min(span.bytes - done, kMaxPiece);
            if (here.size() == kMaxPieces || batch + piece > kMaxBatch) {
                const ChildMemoryRead r = flush();
                if (r != ChildMemoryRead::Done) return r;
            }
            here.push_back({span.to + done, piece});
            const uint64_t from = span.from + done;
            iovec* last = there.empty() ? nullptr : &there.back();
            if (last && uint64_t(uintptr_t(last->iov_base)) + last->iov_len == from && last->iov_len + piece <= kMaxPiece)
                last->iov_len += piece;
            else
                there.push_back({reinterpret_cast<void*>(uintptr_t(from)), piece});
            batch += piece, done += piece;
        }
    return here.empty() ? ChildMemoryRead::Done : flush();
}

// Cuts ordered spans into the first `bytes` and the rest.
void SplitSpans(const std::vector<ChildMemorySpan>& spans, uint64_t bytes, std::vector<ChildMemorySpan>& first,
                std::vector<ChildMemorySpan>& rest) {
    for (const ChildMemorySpan& span : spans) {
        const size_t head = size_t(std::min<uint64_t>(bytes, span.bytes));
        if (head > 0) first.push_back({span.from, span.to, head});
        if (head < span.bytes) rest.push_back({span.from + head, span.to + head, span.bytes - head});
        bytes -= head;
    }
}

}  // namespace

ChildMemoryRead ReadChildMemory(int pid, const std::vector<ChildMemorySpan>& spans) {
    // A large read is shared with a second thread: the copying, not the
    // system call, is what takes the time.
    constexpr uint64_t kSharedFrom = uint64_t(16) << 20;
    std::vector<ChildMemorySpan> ordered = spans;
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const ChildMemorySpan& a, const ChildMemorySpan& b) { return a.from < b.from; });
    uint64_t total = 0;
    for (const ChildMemorySpan& span : ordered) total += span.bytes;
    if (total < kSharedFrom || std::thread::hardware_concurrency() < 2) return ReadOrderedSpans(pid, ordered);
    std::vector<ChildMemorySpan> first, rest;
    SplitSpans(ordered, total / 2, first, rest);
    ChildMemoryRead other = ChildMemoryRead::Failed;
    try {
        std::thread helper([&] {
            try {
                other = ReadOrderedSpans(pid, rest);
            } catch (const std::bad_alloc&) {
            }
        });
        ChildMemoryRead mine = ChildMemoryRead::Failed;
        try {
            mine = ReadOrderedSpans(pid, first);
        } catch (const std::bad_alloc&) {
        }
        helper.join();
        if (mine == ChildMemoryRead::NotPermitted || other == ChildMemoryRead::NotPermitted)
            return ChildMemoryRead::NotPermitted;
        return mine == ChildMemoryRead::Done ? other : mine;
    } catch (const std::system_error&) {
        return ReadOrderedSpans(pid, ordered);  // no thread to be had
    }
}

uint64_t SharedMemoryFileSize(int fd) {
    struct stat st;
    return fstat(fd, &st) == 0 && st.st_size > 0 ? uint64_t(st.st_size) : 0;
}

bool ReadSharedMemoryFile(int fd, uint64_t offset, void* data, size_t size) {
    auto* p = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t n = pread(fd, p, size, off_t(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n, offset += uint64_t(n), size -= size_t(n);
    }
    return true;
}

bool WriteSharedMemoryFile(int fd, uint64_t offset, const void* data, size_t size) {
    auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = pwrite(fd, p, size, off_t(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n, offset += uint64_t(n), size -= size_t(n);
    }
    return true;
}

bool ResizeSharedMemoryFile(int fd, uint64_t size) {
    if (size > uint64_t(std::numeric_limits<off_t>::max())) return false;
    int rc;
    while ((rc = ftruncate(fd, off_t(size))) != 0 && errno == EINTR) {
    }
    return rc == 0;
}

bool SealSharedMemoryFile(int fd) {
    return fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL) == 0;
}

unsigned char* MapSharedMemoryFile(int fd, uint64_t offset, size_t size, MapUse use) {
    if (size == 0 || offset > uint64_t(std::numeric_limits<off_t>::max())) return nullptr;
    const int flags = use == MapUse::Fill ? MAP_SHARED | MAP_POPULATE : MAP_PRIVATE;
    void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, flags, fd, off_t(offset));
    if (p == MAP_FAILED) return nullptr;
    // Kept pages are mapped for reading in one go (copying them all, as
    // populating a private mapping would, is what mapping avoids). Kernels
    // before 5.14 fault them in as they are read instead.
#ifdef MADV_POPULATE_READ
    if (use == MapUse::Keep) madvise(p, size, MADV_POPULATE_READ);
#endif
    return static_cast<unsigned char*>(p);
}

void UnmapMemory(void* data, size_t size) {
    if (data) munmap(data, size);
}

void CloseDescriptor(int fd) {
    if (fd >= 0) close(fd);
}

uint64_t PhysicalMemoryBytes() {
    const long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGESIZE);
    return pages > 0 && pageSize > 0 ? uint64_t(pages) * uint64_t(pageSize) : 0;
}

int ThisProcessId() { return int(getpid()); }

bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO) != 0; }

long PeakResidentKilobytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

// Freed heap that the allocator keeps would otherwise count towards the next
// measurement's peak, so it is handed back first.
void ResetPeakResident() {
    malloc_trim(0);
    std::ofstream("/proc/self/clear_refs") << "5";
}

namespace {
double ProcessorSecondsOf(int who) {
    rusage u{};
    getrusage(who, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}
}  // namespace

// Processor time of served children and of their servers, as the servers
// report it.
static std::atomic<long long> g_servedMicroseconds{0};

double ProcessorSeconds() { return ProcessorSecondsOf(RUSAGE_SELF); }
double ChildrenProcessorSeconds() {
    return ProcessorSecondsOf(RUSAGE_CHILDREN) + double(g_servedMicroseconds.load()) / 1e6;
}

// A shell spinning in a loop, spawned rather than forked: a forked copy
// would share this process's memory copy-on-write, and every page this
// process then writes would fault and be copied, which is not what another
// program on the desktop costs it.
BusyProcess::BusyProcess() {
    ChildStart start;
    start.program = "/bin/sh";
    start.argv = {"sh", "-c", "while :; do :; done"};
    pid_ = SpawnChild(start);
}

BusyProcess::~BusyProcess() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
}

namespace {

std::vector<std::string> EnvironmentWith(const std::vector<std::string>& extra) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('=') + 1);
        const bool replaced = std::any_of(extra.begin(), extra.end(),
                                          [&](const std::string& x) { return x.rfind(name, 0) == 0; });
        if (!replaced) env.push_back(entry);
    }
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

std::vector<char*> CStrings(std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (std::string& s : strings) out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

// glibc's allocator asks for transparent huge pages under its large blocks
// when told so; the caller's own tunables are kept.
std::string WithLargePageTunable() {
    const char* now = std::getenv("GLIBC_TUNABLES");
    return std::string("GLIBC_TUNABLES=") + (now && *now ? std::string(now) + ":" : "") + "glibc.malloc.hugetlb=1";
}

int Reap(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

ChildStatus StatusOf(int status) {
    if (WIFSIGNALED(status)) return {ChildEnd::Signalled, WTERMSIG(status)};
    return {ChildEnd::Exited, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

}  // namespace

bool HasLargePages() {
    const char* now = std::getenv("GLIBC_TUNABLES");
    return now && std::strstr(now, "glibc.malloc.hugetlb=1");
}

void RestartWithLargePages(char** argv) {
    const std::string tunable = WithLargePageTunable();
    const size_t equals = tunable.find('=');
    setenv(tunable.substr(0, equals).c_str(), tunable.substr(equals + 1).c_str(), 1);
    // By its own name, not /proc/self/exe, so that it keeps that name in
    // process lists and profiles.
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return;
    self[n] = '\0';
    execv(self, argv);
}

int SpawnChild(const ChildStart& start) {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (start.quiet) {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    }
    if (start.resultFd >= 0) posix_spawn_file_actions_adddup2(&actions, start.resultFd, kChildResultFd);
    if (start.controlFd >= 0) posix_spawn_file_actions_adddup2(&actions, start.controlFd, kChildControlFd);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    // Its own process group: a Ctrl+C meant for the caller reaches the caller
    // alone, which then ends the child in its own time.
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);

    std::vector<std::string> argv = start.argv;
    std::vector<std::string> extra = start.extraEnvironment;
    if (start.largePages) extra.push_back(WithLargePageTunable());
    std::vector<std::string> env = EnvironmentWith(extra);
    std::vector<char*> cargv = CStrings(argv), cenv = CStrings(env);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, start.program.c_str(), &actions, &attr, cargv.data(), cenv.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    return rc == 0 ? int(pid) : -1;
}

ChildStatus WaitForChild(int pid, int wallMilliseconds, const std::function<bool()>& cancelled, int readyFd) {
    constexpr int kSliceMilliseconds = 50;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wallMilliseconds);
    const int pidfd = int(syscall(SYS_pidfd_open, pid, 0));
    ChildEnd stop = ChildEnd::Exited;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) {
            stop = ChildEnd::TimedOut;
            break;
        }
        if (cancelled && cancelled()) {
            stop = ChildEnd::Cancelled;
            break;
        }
        const int slice = int(std::min<long long>(left, kSliceMilliseconds));
        // Kernels before 5.3 have no process descriptors: look often.
        pollfd p[2] = {{pidfd, POLLIN, 0}, {readyFd, POLLIN, 0}};
        const bool ready = poll(p, 2, pidfd >= 0 ? slice : std::min(slice, 5)) > 0 && p[1].revents != 0;
        if (pidfd >= 0 && p[0].revents != 0) break;
        if (pidfd < 0) {
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid) return StatusOf(status);
        }
        if (ready) {
            CloseDescriptor(pidfd);
            return {ChildEnd::Ready, 0};
        }
    }
    CloseDescriptor(pidfd);
    if (stop != ChildEnd::Exited) kill(pid, SIGKILL);
    const int status = Reap(pid);
    if (stop != ChildEnd::Exited) return {stop, 0};
    return StatusOf(status);
}

// ---- Children started by a server process ----------------------------------

namespace {

// What server and caller say to each other, one packet each, after the
// request (counts, then argv, environment and the caller's working folder as
// NUL-ended strings, with the child's descriptors attached).
enum ServeKind : int32_t { kServeStarted = 1, kServeKill, kServeEnded, kServeDone, kServeReaped };
struct ServeMessage {
    int32_t kind = 0;
    int32_t pid = -1;
    int32_t signalled = 0;
    int32_t code = 0;
    int64_t microseconds = 0;
};
struct ServeRequestHead {
    uint32_t argc, envc, fds;
};
constexpr size_t kMaxServeRequest = 64 * 1024;
constexpr int kServeSocket = kChildResultFd;

bool SendMessage(int socket, const ServeMessage& m) {
    ssize_t n;
    while ((n = send(socket, &m, sizeof m, MSG_NOSIGNAL)) < 0 && errno == EINTR) {
    }
    return n == ssize_t(sizeof m);
}

// Blocks for the next message; false once the other side is gone.
bool ReceiveMessage(int socket, ServeMessage& m) {
    ssize_t n;
    while ((n = recv(socket, &m, sizeof m, 0)) < 0 && errno == EINTR) {
    }
    return n == ssize_t(sizeof m);
}

long long MicrosecondsOf(const rusage& u) {
    return (long long)(u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000000 + u.ru_utime.tv_usec + u.ru_stime.tv_usec;
}

// In the forked child: its descriptors where a spawned child finds them, its
// environment as the caller asked; never returns.
[[noreturn]] void RunServedChild(std::vector<std::string>& argv, const std::vector<std::string>& environment,
                                 const std::string& folder, const int* fds, uint32_t fdCount,
                                 const std::function<int(std::vector<std::string>&)>& run) {
    int moved[2] = {-1, -1};
    for (uint32_t i = 0; i < fdCount; ++i) moved[i] = fcntl(fds[i], F_DUPFD_CLOEXEC, kChildControlFd + 1);
    close(kServeSocket);
    for (uint32_t i = 0; i < fdCount; ++i) {
        close(fds[i]);
        if (moved[i] < 0 || dup2(moved[i], i == 0 ? kChildResultFd : kChildControlFd) < 0) _exit(127);
        close(moved[i]);
    }
    // Relative paths mean what they mean to the caller now.
    if (!folder.empty() && chdir(folder.c_str()) != 0) _exit(127);
    for (const std::string& entry : environment) {
        const size_t equals = entry.find('=');
        if (equals == std::string::npos) unsetenv(entry.c_str());
        else setenv(entry.substr(0, equals).c_str(), entry.c_str() + equals + 1, 1);
    }
    _exit(run(argv));
}

// Waits until the served child `pid` has ended, killing it when the caller
// says so; leaves it unreaped. False when the caller is gone.
bool AwaitServedEnd(int pid, siginfo_t& info) {
    const int pidfd = int(syscall(SYS_pidfd_open, pid, 0));
    bool callerThere = true;
    for (;;) {
        pollfd p[2] = {{kServeSocket, POLLIN, 0}, {pidfd, POLLIN, 0}};
        poll(p, 2, pidfd >= 0 ? -1 : 5);
        if (p[0].revents) {
            ServeMessage m;
            callerThere = ReceiveMessage(kServeSocket, m);
            if (!callerThere || m.kind == kServeKill) kill(pid_t(pid), SIGKILL);
        }
        info = siginfo_t{};
        if (waitid(P_PID, id_t(pid), &info, WEXITED | WNOWAIT | WNOHANG) == 0 && info.si_pid == pid) break;
    }
    CloseDescriptor(pidfd);
    return callerThere;
}

}  // namespace

int ServeChildren(const std::function<int(std::vector<std::string>& argv)>& run) {
    std::vector<char> buffer(kMaxServeRequest);
    long long selfReported = 0;
    for (;;) {
        iovec io{buffer.data(), buffer.size()};
        alignas(cmsghdr) char control[CMSG_SPACE(2 * sizeof(int))];
        msghdr msg{};
        msg.msg_iov = &io;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        ssize_t n;
        while ((n = recvmsg(kServeSocket, &msg, MSG_CMSG_CLOEXEC)) < 0 && errno == EINTR) {
        }
        if (n <= 0) return 0;
        int fds[2] = {-1, -1};
        uint32_t fdCount = 0;
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c))
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_RIGHTS)
                for (size_t i = 0; i < (c->cmsg_len - CMSG_LEN(0)) / sizeof(int); ++i) {
                    int fd;
                    std::memcpy(&fd, CMSG_DATA(c) + i * sizeof(int), sizeof fd);
                    if (fdCount < 2) fds[fdCount++] = fd;
                    else close(fd);
                }
        ServeRequestHead head{};
        std::vector<std::string> strings;
        if (size_t(n) >= sizeof head && !(msg.msg_flags & (MSG_TRUNC | MSG_CTRUNC))) {
            std::memcpy(&head, buffer.data(), sizeof head);
            for (size_t at = sizeof head; at < size_t(n);) {
                const char* begin = buffer.data() + at;
                const char* end = static_cast<const char*>(std::memchr(begin, '\0', size_t(n) - at));
                if (!end) break;
                strings.emplace_back(begin, end);
                at += size_t(end - begin) + 1;
            }
        }
        const bool sound = head.argc > 0 && uint64_t(head.argc) + head.envc + 1 == strings.size() && head.fds == fdCount;
        const pid_t pid = sound ? fork() : -1;
        if (pid == 0) {
            std::vector<std::string> argv(strings.begin(), strings.begin() + head.argc);
            const std::vector<std::string> environment(strings.begin() + head.argc, strings.end() - 1);
            RunServedChild(argv, environment, strings.back(), fds, fdCount, run);
        }
        for (uint32_t i = 0; i < fdCount; ++i) close(fds[i]);
        ServeMessage started;
        started.kind = kServeStarted;
        started.pid = int32_t(pid);
        if (!SendMessage(kServeSocket, started) && pid > 0) kill(pid, SIGKILL);
        if (pid < 0) continue;

        siginfo_t info;
        const bool callerThere = AwaitServedEnd(int(pid), info);
        ServeMessage ended;
        ended.kind = kServeEnded;
        ended.signalled = info.si_code == CLD_EXITED ? 0 : 1;
        ended.code = info.si_status;
        ServeMessage done;
        // The child stays unreaped, so its number stays its own, until the
        // caller has finished with it.
        const bool acknowledged = callerThere && SendMessage(kServeSocket, ended) && ReceiveMessage(kServeSocket, done);
        rusage childUsage{}, selfUsage{};
        int status = 0;
        while (wait4(pid, &status, 0, &childUsage) < 0 && errno == EINTR) {
        }
        if (!acknowledged) return 0;
        getrusage(RUSAGE_SELF, &selfUsage);
        ServeMessage reaped;
        reaped.kind = kServeReaped;
        reaped.microseconds = MicrosecondsOf(childUsage) + MicrosecondsOf(selfUsage) - selfReported;
        selfReported = MicrosecondsOf(selfUsage);
        if (!SendMessage(kServeSocket, reaped)) return 0;
    }
}

bool StartChildServer(const ChildStart& start, ChildServer& server) {
    server = ChildServer();
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) return false;
    const int caller = AboveChildDescriptors(ends[0]), child = AboveChildDescriptors(ends[1]);
    ChildStart serving = start;
    serving.resultFd = child;
    serving.controlFd = -1;
    const int pid = caller >= 0 && child >= 0 ? SpawnChild(serving) : -1;
    CloseDescriptor(child);
    if (pid < 0) {
        CloseDescriptor(caller);
        return false;
    }
    server.pid = pid;
    server.socket = caller;
    return true;
}

void StopChildServer(ChildServer& server) {
    CloseDescriptor(server.socket);
    if (server.pid > 0) Reap(pid_t(server.pid));
    server = ChildServer();
}

int StartServedChild(const ChildServer& server, const std::vector<std::string>& argv,
                     const std::vector<std::string>& environment, int resultFd, int controlFd) {
    ServeRequestHead head{uint32_t(argv.size()), uint32_t(environment.size()), controlFd >= 0 ? 2u : 1u};
    std::string payload(reinterpret_cast<const char*>(&head), sizeof head);
    for (const std::vector<std::string>* list : {&argv, &environment})
        for (const std::string& s : *list) payload.append(s.c_str(), s.size() + 1);
    char folder[PATH_MAX];
    const char* here = getcwd(folder, sizeof folder);
    payload.append(here ? here : "", (here ? std::strlen(here) : 0) + 1);
    if (payload.size() > kMaxServeRequest || argv.empty() || resultFd < 0) return -1;
    const int fds[2] = {resultFd, controlFd};
    iovec io{payload.data(), payload.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(2 * sizeof(int))] = {};
    msghdr msg{};
    msg.msg_iov = &io;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = CMSG_SPACE(head.fds * sizeof(int));
    cmsghdr* c = CMSG_FIRSTHDR(&msg);
    c->cmsg_level = SOL_SOCKET;
    c->cmsg_type = SCM_RIGHTS;
    c->cmsg_len = CMSG_LEN(head.fds * sizeof(int));
    std::memcpy(CMSG_DATA(c), fds, head.fds * sizeof(int));
    ssize_t n;
    while ((n = sendmsg(server.socket, &msg, MSG_NOSIGNAL)) < 0 && errno == EINTR) {
    }
    ServeMessage started;
    if (n != ssize_t(payload.size()) || !ReceiveMessage(server.socket, started) || started.kind != kServeStarted)
        return -1;
    return started.pid;
}

ChildStatus WaitForServedChild(const ChildServer& server, int pid, int wallMilliseconds,
                               const std::function<bool()>& cancelled, int readyFd) {
    constexpr int kSliceMilliseconds = 50;
    constexpr auto kKillGrace = std::chrono::seconds(5);
    const ChildStatus serverFailed{ChildEnd::Exited, -1};
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wallMilliseconds);
    ChildEnd stop = ChildEnd::Exited;
    ServeMessage ended;
    for (;;) {
        const auto now = std::chrono::steady_clock::now();
        if (stop == ChildEnd::Exited) {
            if (now >= deadline) stop = ChildEnd::TimedOut;
            else if (cancelled && cancelled()) stop = ChildEnd::Cancelled;
            if (stop != ChildEnd::Exited) {
                ServeMessage killIt;
                killIt.kind = kServeKill;
                killIt.pid = pid;
                if (!SendMessage(server.socket, killIt)) return serverFailed;
                deadline = now + kKillGrace;
            }
        } else if (now >= deadline) {
            return serverFailed;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
        pollfd p[2] = {{server.socket, POLLIN, 0}, {stop == ChildEnd::Exited ? readyFd : -1, POLLIN, 0}};
        poll(p, 2, int(std::min<long long>(std::max<long long>(left, 1), kSliceMilliseconds)));
        if (p[0].revents) {
            if (!ReceiveMessage(server.socket, ended) || ended.kind != kServeEnded) return serverFailed;
            break;
        }
        if (p[1].revents) return {ChildEnd::Ready, 0};
    }
    ServeMessage done, reaped;
    done.kind = kServeDone;
    if (!SendMessage(server.socket, done) || !ReceiveMessage(server.socket, reaped) || reaped.kind != kServeReaped)
        return serverFailed;
    g_servedMicroseconds += reaped.microseconds;
    if (stop != ChildEnd::Exited) return {stop, 0};
    return {ended.signalled ? ChildEnd::Signalled : ChildEnd::Exited, ended.code};
}

std::string SignalName(int signal) {
    const char* name = strsignal(signal);
    return name ? name : "signal " + std::to_string(signal);
}

bool IsProcessorTimeSignal(int signal) { return signal == SIGXCPU; }

bool LimitThisProcess(uint64_t addressSpace, int cpuSeconds, int parentPid) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != pid_t(parentPid)) return false;
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    const rlimit cpu{rlim_t(cpuSeconds), rlim_t(cpuSeconds) + 1};
    if (setrlimit(RLIMIT_CPU, &cpu) != 0) return false;
    if (addressSpace == 0) return true;
    const rlimit as{rlim_t(addressSpace), rlim_t(addressSpace)};
    return setrlimit(RLIMIT_AS, &as) == 0;
}

void LowerAddressSpaceLimit(uint64_t bytes) {
    rlimit now;
    if (getrlimit(RLIMIT_AS, &now) != 0) return;
    if (now.rlim_max != RLIM_INFINITY && bytes > now.rlim_max) bytes = now.rlim_max;
    now.rlim_cur = rlim_t(bytes);
    setrlimit(RLIMIT_AS, &now);
}

// flock(2) locks belong to the open file and end with the process.
InstanceLock::InstanceLock(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) return;
    othersAtStart_ = ::flock(fd_, LOCK_EX | LOCK_NB) != 0;
    ::flock(fd_, LOCK_SH);
}

InstanceLock::~InstanceLock() {
    if (fd_ >= 0) ::close(fd_);
}

// Converting the shared lock may drop it for a moment; it is taken again.
bool InstanceLock::OthersNow() const {
    if (fd_ < 0) return false;
    const bool others = ::flock(fd_, LOCK_EX | LOCK_NB) != 0;
    ::flock(fd_, LOCK_SH);
    return others;
}
