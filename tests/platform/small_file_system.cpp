#include "small_file_system.h"

#include <fcntl.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <vector>

namespace {

constexpr int kCannotMount = 77;

void WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n <= 0) return;
        done += size_t(n);
    }
}

// A private mount namespace where this process may mount a tmpfs.
std::string EnterOwnMountNamespace() {
    const uid_t uid = getuid();
    const gid_t gid = getgid();
    const int flags = uid == 0 ? CLONE_NEWNS : CLONE_NEWUSER | CLONE_NEWNS;
    if (unshare(flags) != 0) return std::string("unshare: ") + std::strerror(errno);
    if (uid != 0) {
        std::ofstream("/proc/self/setgroups") << "deny";
        std::ofstream("/proc/self/uid_map") << "0 " << uid << " 1";
        std::ofstream("/proc/self/gid_map") << "0 " << gid << " 1";
    }
    if (mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return std::string("making mounts private: ") + std::strerror(errno);
    return "";
}

}  // namespace

SmallFileSystemRun RunOnSmallFileSystem(size_t bytes, const std::function<std::string(const std::string&)>& body) {
    SmallFileSystemRun run;
    int out[2];
    if (pipe(out) != 0) {
        run.skipped = "no pipe";
        return run;
    }
    const pid_t child = fork();
    if (child == 0) {
        close(out[0]);
        std::string why = EnterOwnMountNamespace();
        char folder[] = "/tmp/quorvane-fulldisk-XXXXXX";
        if (why.empty() && !mkdtemp(folder)) why = std::string("mkdtemp: ") + std::strerror(errno);
        const std::string options = "size=" + std::to_string(bytes);
        if (why.empty() && mount("tmpfs", folder, "tmpfs", 0, options.c_str()) != 0)
            why = std::string("mounting a tmpfs: ") + std::strerror(errno);
        if (!why.empty()) {
            WriteAll(out[1], why);
            rmdir(folder);
            _exit(kCannotMount);
        }
        const std::string failures = body(folder);
        WriteAll(out[1], failures);
        umount(folder);
        rmdir(folder);
        _exit(0);
    }
    close(out[1]);
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = read(out[0], buffer, sizeof buffer)) > 0) text.append(buffer, size_t(n));
    close(out[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == kCannotMount) {
        run.skipped = "cannot mount a small file system here (" + text + ")";
        return run;
    }
    run.ran = true;
    run.failures = text;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        run.failures += "\nthe test process ended abnormally (status " + std::to_string(status) + ")";
    return run;
}

size_t FillFileSystem(const std::string& folder, const std::string& name) {
    const int fd = open((folder + "/" + name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return 0;
    std::vector<char> block(4096, 'x');
    size_t total = 0;
    for (size_t size = block.size(); size > 0; size /= 2) {
        ssize_t n;
        while ((n = write(fd, block.data(), size)) > 0) total += size_t(n);
    }
    close(fd);
    return total;
}
