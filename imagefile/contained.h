// Contained work on untrusted bytes: a task of the helper program
// `quorvane-decode` runs in a short-lived child process with a wall-clock
// limit and an address-space limit, and hands its result back through shared
// memory. Whatever the bytes make the child do — crash, loop, allocate without
// end — the caller gets an outcome it can report, never a crash of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The bytes a child wrote, in an anonymous in-memory file: read through the
// kernel, or mapped where a large result should not be copied at all.
class SharedResult {
public:
    SharedResult() = default;
    explicit SharedResult(int fd) : fd_(fd) {}
    ~SharedResult();
    SharedResult(SharedResult&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    SharedResult& operator=(SharedResult&& other) noexcept;
    SharedResult(const SharedResult&) = delete;
    SharedResult& operator=(const SharedResult&) = delete;

    uint64_t size() const;
    // Exactly `size` bytes from `offset`; false when they are not all there.
    bool Read(uint64_t offset, void* data, size_t size) const;
    // Forbids any further change of the bytes by anyone; false when that
    // cannot be promised (someone may still write or shorten them).
    bool Seal() const;
    // `size` bytes from `offset` (a multiple of the page size) mapped into
    // this process for good: copied only where written to, and valid after
    // this object is gone. Only once sealed: a shortened file would make
    // reading the mapping fatal. Free with UnmapMemory; null on failure.
    unsigned char* MapForKeeping(uint64_t offset, size_t size) const;

private:
    int fd_ = -1;
};

struct ContainedLimits {
    int wallMilliseconds = 30000;
    // Hard ceiling of the child's address space; 0 picks one from the
    // machine's memory. A task may tighten it once it knows what it needs.
    uint64_t addressSpaceBytes = 0;
};

enum class ContainedOutcome {
    Finished,     // the task succeeded; `output` holds its result
    Refused,      // the task rejected its input; `message` says why
    Crashed,      // the child died of a signal or an unexpected exit
    TimedOut,     // killed after the wall-clock limit
    OutOfMemory,  // the child hit its address-space limit
    Cancelled,    // the caller's cancel test became true; the child was killed
    NotStarted,   // the helper program is missing or could not be started
};

struct ContainedResult {
    ContainedOutcome outcome = ContainedOutcome::NotStarted;
    std::string message;  // the task's reason, or a description of the failure
    SharedResult output;  // valid when Finished
};

// A large result need not travel through the shared memory at all: the task
// keeps it in its own memory, writes where it lies to the shared memory and
// waits (ContainedOutput::AwaitCollection) while the caller's `collect` copies
// it out of the child's memory, which is one copy of the bytes on pages the
// system allocates cheaply. Where this system does not let the caller read
// the child's memory, `collect` answers WriteShared and the task copies its
// result into the shared memory after all.
enum class ContainedAnswer : char { Finish = 'F', WriteShared = 'W' };
struct ContainedChild {
    int pid;
    const SharedResult& shared;
};
using ContainedCollect = std::function<ContainedAnswer(const ContainedChild& child)>;

// Runs `task` of the helper program with `args`. `cancelled` is polled a few
// times a second while the child runs. Safe to call from several threads.
ContainedResult RunContained(const std::string& task, const std::vector<std::string>& args,
                             const ContainedLimits& limits = {}, const std::function<bool()>& cancelled = {},
                             const ContainedCollect& collect = {});

// Whether runs go to children of a decoder process that waits between runs
// (everywhere but in sanitizer builds, where each child is started anew).
bool ContainedDecodersWait();

// One-line, user-facing account of a failed run (e.g. "the decoder crashed").
std::string DescribeContainedFailure(const ContainedResult& result);

// The helper program next to the running executable, or "" when absent.
std::string ContainedHelperPath();

// ---- inside the helper program ------------------------------------------

// Exit codes of the helper program that the runner understands.
enum ContainedExit : int {
    kContainedExitFinished = 0,
    kContainedExitRefused = 3,
    kContainedExitOutOfMemory = 4,
    kContainedExitUsage = 5,
};

// The file descriptors of the shared result memory and of the control
// channel in the child.
constexpr int kContainedOutputFd = 3;   // the platform's kChildResultFd
constexpr int kContainedControlFd = 4;  // the platform's kChildControlFd

// Where a task writes its result.
class ContainedOutput {
public:
    // Appends; throws std::bad_alloc when the memory does not allow it.
    void Write(const void* data, size_t size);
    // Replaces whatever was written by a refusal reason (reported as the message).
    void Refuse(const std::string& why);

    // For results laid out in advance: sets the size and writes at a place.
    // False when memory does not allow it.
    bool Resize(uint64_t size);
    bool WriteAt(uint64_t offset, const void* data, size_t size);

    // Tells the caller that the result is ready in this process's memory and
    // waits for its answer. WriteShared too when nobody collects.
    ContainedAnswer AwaitCollection();

private:
    uint64_t written_ = 0;
};

// Lowers the child's soft address-space limit to `bytes` (never above the
// ceiling the runner set). No effect in sanitizer builds.
void TightenContainedMemory(uint64_t bytes);

// The helper program's main: applies the limits the runner passed, then runs
// the named task. A task returns one of the ContainedExit codes; bad_alloc
// becomes kContainedExitOutOfMemory and any other exception a refusal.
using ContainedTask = int (*)(const std::vector<std::string>& args, ContainedOutput& out);
struct ContainedTaskEntry {
    const char* name;
    ContainedTask run;
};
int ContainedHelperMain(int argc, char** argv, const std::vector<ContainedTaskEntry>& tasks);
