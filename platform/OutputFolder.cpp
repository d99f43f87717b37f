#include "platform/OutputFolder.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdio.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace quenlow::platform {

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

bool makeParents(const std::string& path, std::string& error) {
    // mkdir -p: every prefix that ends before a '/', then the whole path.
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i != path.size() && path[i] != '/') continue;
        std::string prefix = path.substr(0, i);
        if (::mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) {
            error = prefix + ": cannot create the folder: " + std::strerror(errno);
            return false;
        }
    }
    return true;
}

}  // namespace

OutputFolder::~OutputFolder() { close(); }

OutputFolder::OutputFolder(OutputFolder&& other) noexcept { *this = std::move(other); }

OutputFolder& OutputFolder::operator=(OutputFolder&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
        path_ = std::move(other.path_);
        error_ = std::move(other.error_);
    }
    return *this;
}

void OutputFolder::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool OutputFolder::openRoot(const std::string& path) {
    close();
    error_.clear();
    path_ = path;
    while (path_.size() > 1 && path_.back() == '/') path_.pop_back();
    fd_ = ::open(path_.c_str(), kFolderFlags);
    if (fd_ < 0 && errno == ENOENT) {
        if (!makeParents(path_, error_)) return false;
        fd_ = ::open(path_.c_str(), kFolderFlags);
    }
    if (fd_ < 0) {
        error_ = path_ + ": cannot open the output folder: " + std::strerror(errno);
        return false;
    }
    return true;
}

bool OutputFolder::openChild(const std::string& name, OutputFolder& child, bool& created,
                             std::string& error) const {
    created = false;
    child.close();
    if (fd_ < 0 || name.empty() || name == "." || name == ".." ||
        name.find('/') != std::string::npos) {
        error = path_ + "/" + name + ": not a folder name";
        return false;
    }
    std::string childPath = this->childPath(name);
    if (::mkdirat(fd_, name.c_str(), 0755) == 0)
        created = true;
    else if (errno != EEXIST) {
        error = childPath + ": cannot create the folder: " + std::strerror(errno);
        return false;
    }
    int fd = ::openat(fd_, name.c_str(), kFolderFlags | O_NOFOLLOW);
    if (fd < 0) {
        int e = errno;
        error = childPath + (e == ELOOP || e == ENOTDIR ? ": exists and is not a folder"
                                                         : ": cannot open the folder: " +
                                                               std::string(std::strerror(e)));
        return false;
    }
    child.fd_ = fd;
    child.path_ = childPath;
    child.error_.clear();
    return true;
}

OutputFolder::Kind OutputFolder::kind(const std::string& name) const {
    struct stat st {};
    if (::fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? Kind::None : Kind::Other;
    return S_ISDIR(st.st_mode) ? Kind::Folder : Kind::Other;
}

std::string OutputFolder::childPath(const std::string& name) const {
    return path_ == "/" ? "/" + name : path_ + "/" + name;
}

std::string OutputFolder::pathForOpen(const std::string& name) const {
    if (fd_ >= 0) {
        // The descriptor link is used only when it leads to this very folder.
        std::string link = "/proc/self/fd/" + std::to_string(fd_);
        struct stat viaLink {}, own {};
        if (::stat(link.c_str(), &viaLink) == 0 && ::fstat(fd_, &own) == 0 &&
            viaLink.st_dev == own.st_dev && viaLink.st_ino == own.st_ino)
            return link + "/" + name;
    }
    return childPath(name);
}

bool OutputFolder::renameChild(const std::string& from, const std::string& to, std::string& error) const {
#ifdef RENAME_NOREPLACE
    if (::renameat2(fd_, from.c_str(), fd_, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) {
        error = childPath(to) + ": cannot rename: " + std::strerror(errno);
        return false;
    }
#endif
    // Where the folder's file system cannot rename without replacing: a new link that fails
    // when the name is taken, then the old one goes.
    if (::linkat(fd_, from.c_str(), fd_, to.c_str(), 0) != 0) {
        error = childPath(to) + ": cannot rename: " + std::strerror(errno);
        return false;
    }
    ::unlinkat(fd_, from.c_str(), 0);
    return true;
}

bool OutputFolder::removeChild(const std::string& name) const { return ::unlinkat(fd_, name.c_str(), 0) == 0; }

bool OutputFolder::setChildTimes(const std::string& name, const UnixTime& access, const UnixTime& modification,
                                 std::string& error) const {
    struct timespec times[2];
    times[0].tv_sec = static_cast<time_t>(access.seconds);
    times[0].tv_nsec = static_cast<long>(access.nanoseconds);
    times[1].tv_sec = static_cast<time_t>(modification.seconds);
    times[1].tv_nsec = static_cast<long>(modification.nanoseconds);
    if (::utimensat(fd_, name.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
        error = "cannot set the times of " + childPath(name) + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace quenlow::platform
