// Preloaded into quorvane-cli by the interrupt tests (LD_PRELOAD): the
// process interrupts itself, as Ctrl+C would, at one chosen moment of writing
// a file into a folder, so that the moment no longer depends on how fast the
// test notices the write. INTERRUPT_SHIM_FOLDER names the folder (as the
// program spells it), INTERRUPT_SHIM_AT the moment: "write" at the first
// write into a file there, "rename" just before a written file takes its name.
#include <dlfcn.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

std::atomic<bool> g_interrupted{false};

bool Armed(const char* moment) {
    if (g_interrupted.load()) return false;
    const char* at = std::getenv("INTERRUPT_SHIM_AT");
    return at && std::strcmp(at, moment) == 0;
}

bool InFolder(const char* path) {
    const char* folder = std::getenv("INTERRUPT_SHIM_FOLDER");
    if (!folder || !*folder) return false;
    const size_t n = std::strlen(folder);
    return std::strncmp(path, folder, n) == 0 && path[n] == '/';
}

// raise() sends to this thread, so the handler has run when it returns.
void Interrupt() {
    if (!g_interrupted.exchange(true)) raise(SIGINT);
}

template <typename Fn>
Fn Next(const char* name) {
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" ssize_t write(int fd, const void* data, size_t size) {
    using Fn = ssize_t (*)(int, const void*, size_t);
    static const Fn next = Next<Fn>("write");
    if (Armed("write")) {
        char link[64], path[4096];
        std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
        const ssize_t n = readlink(link, path, sizeof path - 1);
        if (n > 0) {
            path[n] = '\0';
            if (InFolder(path)) Interrupt();
        }
    }
    return next(fd, data, size);
}

extern "C" int rename(const char* from, const char* to) {
    using Fn = int (*)(const char*, const char*);
    static const Fn next = Next<Fn>("rename");
    if (Armed("rename") && InFolder(to)) Interrupt();
    return next(from, to);
}
