// Runs a piece of a test on a freshly mounted file system of a few hundred
// kilobytes, to see what the program does when the disk fills up.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

struct SmallFileSystemRun {
    bool ran = false;      // false: the machine does not allow the mount
    std::string skipped;   // why it did not run
    std::string failures;  // what `body` reported; empty when all held
};

// `body` runs in a child process with a tmpfs of `bytes` mounted at the
// folder it is given, and returns a description of what went wrong ("" when
// everything held). Needs root or unprivileged user namespaces.
SmallFileSystemRun RunOnSmallFileSystem(size_t bytes, const std::function<std::string(const std::string&)>& body);

// Fills the file system holding `folder` up to the last byte with a file
// named `name`; returns its size.
size_t FillFileSystem(const std::string& folder, const std::string& name = "filler");
