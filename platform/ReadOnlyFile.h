#pragma once
// A file or block device opened read-only. This is the only way the system opens a source:
// the descriptor is always O_RDONLY | O_CLOEXEC, and nothing here can write.

#include <cstddef>
#include <cstdint>
#include <string>

namespace quenlow::platform {

class ReadOnlyFile {
public:
    ReadOnlyFile() = default;
    ~ReadOnlyFile();
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;
    ReadOnlyFile(ReadOnlyFile&& other) noexcept;
    ReadOnlyFile& operator=(ReadOnlyFile&& other) noexcept;

    // Opens `path` read-only. On failure returns false and error() says why, naming the path.
    bool open(const std::string& path);
    void close();
    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    const std::string& path() const { return path_; }
    const std::string& error() const { return error_; }
    // The last open() failed because the user may not read the path (EACCES, EPERM).
    bool permissionDenied() const { return permissionDenied_; }

    // Size in bytes: BLKGETSIZE64 for block devices, the file size otherwise.
    uint64_t size() const { return size_; }
    bool isBlockDevice() const { return blockDevice_; }

    // Reads up to `count` bytes at `offset`, retrying interrupted and partial reads until
    // `count` bytes came or the end or an error was reached. Returns the bytes read, or -1
    // when the first read failed.
    int64_t readAt(void* buffer, size_t count, uint64_t offset) const;

    // One piece of a scattered read.
    struct Target {
        void* data;
        size_t bytes;
    };
    // Reads the file's bytes from `offset` on into the targets one after another, in as few
    // calls as the system allows, retrying interrupted and partial reads. Returns the bytes
    // read, or -1 when the first read failed.
    int64_t readScattered(const Target* targets, size_t count, uint64_t offset) const;

private:
    int fd_ = -1;
    uint64_t size_ = 0;
    bool blockDevice_ = false;
    std::string path_;
    std::string error_;
    bool permissionDenied_ = false;
};

}  // namespace quenlow::platform
