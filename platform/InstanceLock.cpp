#include "platform/InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace quenlow::platform {

InstanceLock::~InstanceLock() {
    if (fd_ >= 0) ::close(fd_);
}

std::string InstanceLock::pathFor(const std::string& name) {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && runtime[0] == '/')
        return std::string(runtime) + "/" + name;
    std::error_code ec;
    std::filesystem::path temp = std::filesystem::temp_directory_path(ec);
    if (ec) temp = "/tmp";
    return (temp / (name + "-" + std::to_string(::getuid()))).string();
}

bool InstanceLock::acquire(const std::string& name) {
    if (fd_ >= 0) return true;
    path_ = pathFor(name);
    // Never through a link someone else planted in a shared temp folder.
    int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        error_ = path_ + ": " + std::strerror(errno);
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error_ = errno == EWOULDBLOCK ? std::string() : path_ + ": " + std::strerror(errno);
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

}  // namespace quenlow::platform
