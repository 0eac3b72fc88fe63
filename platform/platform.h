// The operating-system services the rest of the program relies on: where the
// program and the user's configuration live, writing files so that a failure
// never costs the old contents, and interrupt signals. Nothing else outside
// this module calls the system directly for these; nor for starting and
// confining child processes.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Folder of the running executable, or "" when it cannot be determined.
std::string ExecutableFolder();
// The user's configuration folder: $XDG_CONFIG_HOME, else $HOME/.config
// (else ./.config when neither is set).
std::string UserConfigFolder();

// True when `path` names an existing file that may not be written: the
// program keeps such files as they are even where a rename would get past it.
bool IsReadOnlyFile(const std::string& path);

// Writes files so that `path` holds, at every moment, either its old contents
// or the complete new ones: the bytes go to a temporary file beside it with
// checked writes, are flushed to the disk and their size verified, then the
// temporary file is renamed over `path` and the folder flushed. Any failure
// (full disk, quota, permissions, I/O error) removes the temporary file,
// leaves `path` untouched and is reported. A read-only existing file is
// refused. A symbolic link is followed: the file it names is replaced.
// Temporary files that an earlier, killed writer left in the folder more than
// a day ago are removed when it is opened.
class SafeFileWriter {
public:
    explicit SafeFileWriter(const std::string& path);
    ~SafeFileWriter();  // removes the temporary file unless committed
    SafeFileWriter(const SafeFileWriter&) = delete;
    SafeFileWriter& operator=(const SafeFileWriter&) = delete;

    // False once anything has failed; Error() then says why.
    bool Ok() const { return error_.empty(); }
    const std::string& Error() const { return error_; }

    // Appends; false (and nothing more is written) once anything failed.
    bool Write(const void* data, size_t size);

    // Flushes, verifies and puts the file in place. False with Error() set
    // when the target still holds its old contents (or does not exist).
    bool Commit();

private:
    void Fail(const std::string& what, int err);
    std::string target_, temp_, folder_;
    std::string error_;
    int fd_ = -1;
    long long written_ = 0;
    unsigned mode_ = 0;
    bool keepMode_ = false;
};

// One call for contents already in memory.
bool WriteFileSafely(const std::string& path, const void* data, size_t size, std::string& why);

// Names the writer gives its temporary files.
bool IsSafeWriterTemporaryName(const std::string& fileName);
// Removes this user's temporary files of ours in `folder` whose last change
// is more than `ageSeconds` old; returns how many.
int RemoveStaleTemporaryFiles(const std::string& folder, long ageSeconds);
constexpr long kStaleTemporarySeconds = 24L * 60 * 60;

// SIGINT and SIGTERM set `flag` (which long work polls to stop cleanly); a
// second one of the same kind ends the process at once.
void CatchInterrupts(std::atomic<bool>& flag);

// ---- Child processes with limits ------------------------------------------
// The descriptor under which a child finds its shared result memory.
constexpr int kChildResultFd = 3;
// The descriptor of the child's end of its control channel (see
// CreateControlChannel).
constexpr int kChildControlFd = 4;

// An anonymous in-memory file (close-on-exec, never numbered kChildResultFd
// or kChildControlFd, sealable), or -1.
int CreateSharedMemoryFile();
uint64_t SharedMemoryFileSize(int fd);
bool ResizeSharedMemoryFile(int fd, uint64_t size);
// Forbids every further change of the file's contents and size, by anyone
// who holds it. False when that cannot be promised, for instance because
// another process still has it mapped for writing.
bool SealSharedMemoryFile(int fd);
// Maps `size` bytes at `offset` (a multiple of the page size) of such a
// file. For filling: writes go to the file, and the pages are allocated at
// once rather than one fault at a time. For keeping: the pages are shared
// with the file until written, then copied; the mapping outlives the
// descriptor. Null on failure.
enum class MapUse { Fill, Keep };
unsigned char* MapSharedMemoryFile(int fd, uint64_t offset, size_t size, MapUse use);
void UnmapMemory(void* data, size_t size);
// Reads or writes exactly `size` bytes at `offset`; false on any failure.
bool ReadSharedMemoryFile(int fd, uint64_t offset, void* data, size_t size);
bool WriteSharedMemoryFile(int fd, uint64_t offset, const void* data, size_t size);
void CloseDescriptor(int fd);

// A connected pair of sockets (close-on-exec, never numbered kChildResultFd
// or kChildControlFd) over which a child that keeps its result in its own
// memory says it is ready, and waits for the caller's answer.
bool CreateControlChannel(int& callerEnd, int& childEnd);
// One byte each way; ReceiveControlByte gives -1 once the other end is closed.
bool SendControlByte(int fd, char byte);
int ReceiveControlByte(int fd);

// Copies parts of a child's memory into this process. The child must hold
// still (it waits on its control channel); every span is read completely or
// the whole read fails.
struct ChildMemorySpan {
    uint64_t from;      // address in the child
    unsigned char* to;  // address here
    size_t bytes;
};
enum class ChildMemoryRead {
    Done,
    NotPermitted,  // the system does not let this process read the child's memory
    Failed,        // the child is gone, or some span is not in its memory
};
ChildMemoryRead ReadChildMemory(int pid, const std::vector<ChildMemorySpan>& spans);

uint64_t PhysicalMemoryBytes();
int ThisProcessId();

struct ChildStart {
    std::string program;
    std::vector<std::string> argv;          // argv[0] included
    std::vector<std::string> extraEnvironment;  // NAME=VALUE, replacing the caller's
    int resultFd = -1;   // appears in the child as kChildResultFd
    int controlFd = -1;  // appears in the child as kChildControlFd
    bool quiet = true;  // standard output and error to /dev/null
    // The child's large allocations on large pages: a short-lived process
    // that fills big buffers once spends less time in page faults.
    bool largePages = false;
};
// Whether this process's large heap blocks lie on large pages, as a child
// started with `largePages` has them; RestartWithLargePages makes it so by
// starting this program again in this process with `argv`, and returns only
// when that failed.
bool HasLargePages();
void RestartWithLargePages(char** argv);

// Starts a program (posix_spawn, not fork: the caller may be large and
// multi-threaded) with default signal handling, no terminal input, in its own
// process group. Returns its process id, or -1.
int SpawnChild(const ChildStart& start);

enum class ChildEnd { Exited, Signalled, TimedOut, Cancelled, Ready };
struct ChildStatus {
    ChildEnd end = ChildEnd::Exited;
    int code = 0;  // exit code, or the signal that ended it
};
// Waits for the child to end, `wallMilliseconds` to pass or `cancelled` to
// turn true (polled about 20 times a second); in the last two cases the child
// is killed. The child is reaped, except when `readyFd` (the caller's end of
// a control channel, or -1) has something to read or was closed by the child
// first: then the child is left running and Ready is returned.
ChildStatus WaitForChild(int pid, int wallMilliseconds, const std::function<bool()>& cancelled, int readyFd = -1);
// ---- Children started by a server process ----------------------------------
// Starting a program costs its loading and linking every time. A server is
// that program started once, which then starts each child by forking
// itself: the child begins with everything loaded, and is confined and
// waited for as a spawned one would be. The server never runs anything of a
// child's itself. It ends when its caller closes its socket (or is gone).
struct ChildServer {
    int pid = -1;
    int socket = -1;
};
// Starts `start.program` as a server (its socket appears as kChildResultFd;
// the program calls ServeChildren). False when it cannot be started.
bool StartChildServer(const ChildStart& start, ChildServer& server);
// Closes the server's socket and waits for it to end.
void StopChildServer(ChildServer& server);
// Has the server fork a child that runs with `argv` (argv[0] included),
// `environment` (NAME=VALUE to set, NAME alone to unset) and this process's
// working folder applied, with
// `resultFd` and `controlFd` (may be -1) as kChildResultFd and
// kChildControlFd. Returns the child's process id, or -1 (the server is then
// unusable).
int StartServedChild(const ChildServer& server, const std::vector<std::string>& argv,
                     const std::vector<std::string>& environment, int resultFd, int controlFd);
// WaitForChild for a served child. Its processor time then counts in
// ChildrenProcessorSeconds. A server that fails or disappears is reported as
// the child's crash with code -1 (the server is then unusable).
ChildStatus WaitForServedChild(const ChildServer& server, int pid, int wallMilliseconds,
                               const std::function<bool()>& cancelled, int readyFd = -1);
// The server's side, in the program started by StartChildServer: serves
// until the caller closes the socket; each child runs `run` on its argv and
// ends with the code it returns.
int ServeChildren(const std::function<int(std::vector<std::string>& argv)>& run);

// "Segmentation fault" and the like.
std::string SignalName(int signal);
bool IsProcessorTimeSignal(int signal);

// In a child, before it touches anything untrusted: dies with its parent,
// never dumps core, caps processor time and (unless `addressSpace` is 0)
// address space. False when the parent is already gone or a limit failed.
bool LimitThisProcess(uint64_t addressSpace, int cpuSeconds, int parentPid);
// Lowers the soft address-space limit (never above the hard one).
void LowerAddressSpaceLimit(uint64_t bytes);

// ---- The terminal and measurements of this process --------------------------
// Whether standard error is a terminal (progress then redraws one line).
bool StandardErrorIsTerminal();
// Peak resident memory of this process in kilobytes, since it started or
// since ResetPeakResident where the system allows that; -1 when unknown.
long PeakResidentKilobytes();
void ResetPeakResident();
// Processor time, user and system, that this process has used so far.
double ProcessorSeconds();
// The same for its children that have ended and been waited for, those
// started by a server and the servers' own work included.
double ChildrenProcessorSeconds();
// A child process that does nothing but keep one core busy, standing in for
// the other programs of a loaded desktop; killed and reaped on destruction.
class BusyProcess {
public:
    BusyProcess();
    ~BusyProcess();
    BusyProcess(const BusyProcess&) = delete;
    BusyProcess& operator=(const BusyProcess&) = delete;
    bool Running() const { return pid_ > 0; }
    int Id() const { return pid_; }

private:
    int pid_ = -1;
};

// Every running instance holds a shared lock on the file `path` for its
// lifetime; the system drops it however the process ends. An instance that
// could not take it exclusively at start was not alone.
class InstanceLock {
public:
    explicit InstanceLock(const std::string& path);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;
    bool OthersAtStart() const { return othersAtStart_; }
    // Whether another instance holds the lock now.
    bool OthersNow() const;

private:
    int fd_ = -1;
    bool othersAtStart_ = false;
};
