#include "platform/ReadOnlyFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace quenlow::platform {

ReadOnlyFile::~ReadOnlyFile() { close(); }

ReadOnlyFile::ReadOnlyFile(ReadOnlyFile&& other) noexcept { *this = std::move(other); }

ReadOnlyFile& ReadOnlyFile::operator=(ReadOnlyFile&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
        size_ = other.size_;
        blockDevice_ = other.blockDevice_;
        path_ = std::move(other.path_);
        error_ = std::move(other.error_);
        permissionDenied_ = other.permissionDenied_;
    }
    return *this;
}

bool ReadOnlyFile::open(const std::string& path) {
    close();
    path_ = path;
    error_.clear();
    permissionDenied_ = false;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        permissionDenied_ = errno == EACCES || errno == EPERM;
        error_ = path + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        error_ = path + ": " + std::strerror(errno);
        ::close(fd);
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        error_ = path + ": is a folder, not a disk or image file";
        ::close(fd);
        return false;
    }
    if (S_ISBLK(st.st_mode)) {
        uint64_t bytes = 0;
        if (::ioctl(fd, BLKGETSIZE64, &bytes) != 0) {
            error_ = path + ": cannot read the device size: " + std::strerror(errno);
            ::close(fd);
            return false;
        }
        size_ = bytes;
        blockDevice_ = true;
    } else if (S_ISREG(st.st_mode)) {
        size_ = static_cast<uint64_t>(st.st_size);
        blockDevice_ = false;
    } else {
        error_ = path + ": not a regular file or block device";
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

void ReadOnlyFile::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    size_ = 0;
    blockDevice_ = false;
}

int64_t ReadOnlyFile::readAt(void* buffer, size_t count, uint64_t offset) const {
    if (fd_ < 0) return -1;
    auto* out = static_cast<unsigned char*>(buffer);
    size_t done = 0;
    while (done < count) {
        ssize_t n = ::pread(fd_, out + done, count - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return done == 0 ? -1 : static_cast<int64_t>(done);
        }
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return static_cast<int64_t>(done);
}

int64_t ReadOnlyFile::readScattered(const Target* targets, size_t count, uint64_t offset) const {
    if (fd_ < 0) return -1;
    constexpr size_t kMaxVectors = 1024;
    std::vector<iovec> vec;
    vec.reserve(std::min(count, kMaxVectors));
    size_t next = 0;        // first target not yet handed to the system
    size_t skip = 0;        // bytes of targets[next] already read
    uint64_t done = 0;
    while (next < count) {
        vec.clear();
        for (size_t i = next; i < count && vec.size() < kMaxVectors; ++i) {
            size_t already = i == next ? skip : 0;
            vec.push_back({static_cast<unsigned char*>(targets[i].data) + already, targets[i].bytes - already});
        }
        ssize_t n = ::preadv(fd_, vec.data(), static_cast<int>(vec.size()), static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return done == 0 ? -1 : static_cast<int64_t>(done);
        }
        if (n == 0) break;
        done += static_cast<uint64_t>(n);
        size_t left = static_cast<size_t>(n);
        while (next < count && left >= targets[next].bytes - skip) {
            left -= targets[next].bytes - skip;
            skip = 0;
            ++next;
        }
        skip += left;
    }
    return static_cast<int64_t>(done);
}

}  // namespace quenlow::platform
