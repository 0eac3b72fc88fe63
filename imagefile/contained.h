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

// A read-only view of the bytes a child wrote; unmapped when destroyed.
class SharedBytes {
public:
    SharedBytes() = default;
    SharedBytes(const uint8_t* data, size_t size, size_t mapped) : data_(data), size_(size), mapped_(mapped) {}
    ~SharedBytes();
    SharedBytes(SharedBytes&& other) noexcept;
    SharedBytes& operator=(SharedBytes&& other) noexcept;
    SharedBytes(const SharedBytes&) = delete;
    SharedBytes& operator=(const SharedBytes&) = delete;

    const uint8_t* data() const { return data_; }
    size_t size() const { return size_; }

private:
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
    size_t mapped_ = 0;
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
    SharedBytes output;   // valid when Finished
};

// Runs `task` of the helper program with `args`. `cancelled` is polled a few
// times a second while the child runs. Safe to call from several threads.
ContainedResult RunContained(const std::string& task, const std::vector<std::string>& args,
                             const ContainedLimits& limits = {}, const std::function<bool()>& cancelled = {});

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

// The file descriptor of the shared result memory in the child.
constexpr int kContainedOutputFd = 3;  // the platform's kChildResultFd

// Where a task writes its result. Each Reserve discards what came before.
class ContainedOutput {
public:
    ContainedOutput() = default;
    ~ContainedOutput();
    ContainedOutput(const ContainedOutput&) = delete;
    ContainedOutput& operator=(const ContainedOutput&) = delete;
    // Grows the shared memory to `bytes` and returns it for writing;
    // throws std::bad_alloc when the memory limit does not allow it.
    uint8_t* Reserve(size_t bytes);
    // Stores a refusal reason (the runner reports it as the message).
    void Refuse(const std::string& why);

private:
    uint8_t* map_ = nullptr;
    size_t size_ = 0;
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
