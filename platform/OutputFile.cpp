#include "platform/OutputFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quenlow::platform {

OutputFile::~OutputFile() {
    if (fd_ >= 0) ::close(fd_);
}

bool OutputFile::fail(const std::string& what, int err) {
    error_ = what + " " + path_ + ": " + std::strerror(err);
    return false;
}

bool OutputFile::createExclusive(const std::string& path) { return createIn(AT_FDCWD, path, path); }

bool OutputFile::createIn(int folderFd, const std::string& name, const std::string& shownPath) {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    path_ = shownPath;
    size_ = 0;
    pendingHole_ = false;
    error_.clear();
    if (name.empty() || name.find('\0') != std::string::npos) {
        error_ = "cannot create an output file without a valid name";
        return false;
    }
    int fd;
    do {
        fd = ::openat(folderFd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return fail("cannot create", errno);
    fd_ = fd;
    return true;
}

bool OutputFile::write(const void* data, size_t count) {
    if (fd_ < 0) {
        error_ = "output file is not open";
        return false;
    }
    if (count == 0) return true;
    if (pendingHole_) {
        if (::lseek(fd_, static_cast<off_t>(size_), SEEK_SET) < 0) return fail("cannot seek in", errno);
        pendingHole_ = false;
    }
    const auto* p = static_cast<const unsigned char*>(data);
    size_t left = count;
    while (left > 0) {
        ssize_t n = ::write(fd_, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail("cannot write", errno);
        }
        if (n == 0) return fail("cannot write", EIO);
        p += n;
        left -= static_cast<size_t>(n);
        size_ += static_cast<uint64_t>(n);
    }
    return true;
}

bool OutputFile::writeZeros(uint64_t count) {
    if (fd_ < 0) {
        error_ = "output file is not open";
        return false;
    }
    if (count == 0) return true;
    if (count > static_cast<uint64_t>(INT64_MAX) - size_) return fail("cannot extend", EFBIG);
    size_ += count;
    pendingHole_ = true;
    return true;
}

bool OutputFile::finishHoles() {
    if (!pendingHole_) return true;
    if (::ftruncate(fd_, static_cast<off_t>(size_)) != 0) return fail("cannot extend", errno);
    pendingHole_ = false;
    if (::lseek(fd_, static_cast<off_t>(size_), SEEK_SET) < 0) return fail("cannot seek in", errno);
    return true;
}

bool OutputFile::setTimes(const UnixTime& access, const UnixTime& modification) {
    if (fd_ < 0) {
        error_ = "output file is not open";
        return false;
    }
    if (!finishHoles()) return false;
    struct timespec times[2];
    times[0].tv_sec = static_cast<time_t>(access.seconds);
    times[0].tv_nsec = static_cast<long>(access.nanoseconds);
    times[1].tv_sec = static_cast<time_t>(modification.seconds);
    times[1].tv_nsec = static_cast<long>(modification.nanoseconds);
    // utimensat on the open descriptor itself: the times land on the file created here,
    // whatever happens to its name meanwhile.
    if (::futimens(fd_, times) != 0) return fail("cannot set the times of", errno);
    return true;
}

bool OutputFile::close() {
    if (fd_ < 0) return true;
    bool ok = finishHoles();
    if (::close(fd_) != 0 && ok) ok = fail("cannot close", errno);
    fd_ = -1;
    return ok;
}

}  // namespace quenlow::platform
