#pragma once
// One running instance per user: an exclusive lock on a file in the user's runtime folder
// ($XDG_RUNTIME_DIR, else the temp folder with the user id in the name). The lock goes
// with the process, so a crashed instance never blocks the next one.

#include <string>

namespace quenlow::platform {

class InstanceLock {
public:
    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Takes the lock named `name`; false when another holder has it (or the file cannot be
    // made, with error() saying why).
    bool acquire(const std::string& name);
    const std::string& path() const { return path_; }
    const std::string& error() const { return error_; }

    // Where the lock file named `name` lives for this user.
    static std::string pathFor(const std::string& name);

private:
    int fd_ = -1;
    std::string path_;
    std::string error_;
};

}  // namespace quenlow::platform
