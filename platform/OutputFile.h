#pragma once
// A file the system writes recovered data into. It is always created anew: opening fails
// when anything (a file, a folder, a symbolic link) already has the name, so no earlier
// output is ever replaced and no link leads the write elsewhere.

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/LocalTime.h"

namespace quenlow::platform {

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates `path` exclusively (O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode
    // 0644 before the umask). On failure returns false and error() names the path and why.
    bool createExclusive(const std::string& path);
    // The same for `name` inside the open folder `folderFd`; errors name `shownPath`.
    bool createIn(int folderFd, const std::string& name, const std::string& shownPath);
    bool isOpen() const { return fd_ >= 0; }

    // Writes all `count` bytes, retrying partial and interrupted writes.
    bool write(const void* data, size_t count);
    // Appends `count` zero bytes as a hole (the file is extended when it is closed or its
    // times are set), so long runs of zeros cost no space and no time.
    bool writeZeros(uint64_t count);
    // Bytes written so far, holes included.
    uint64_t size() const { return size_; }

    // Sets the access and modification times (nanosecond precision). Creation times cannot
    // be set on Linux.
    bool setTimes(const UnixTime& access, const UnixTime& modification);
    // Extends the file over a trailing hole and closes it; false when that failed.
    bool close();

    const std::string& error() const { return error_; }
    const std::string& path() const { return path_; }

private:
    bool finishHoles();
    bool fail(const std::string& what, int err);

    int fd_ = -1;
    uint64_t size_ = 0;
    bool pendingHole_ = false;
    std::string path_;
    std::string error_;
};

}  // namespace quenlow::platform
