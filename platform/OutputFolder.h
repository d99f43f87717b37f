#pragma once
// An open folder of the output tree. Sub-folders are made and opened relative to it
// (mkdirat/openat with O_NOFOLLOW), so a name can only ever reach a real folder directly
// inside it: never a symbolic link, never a place outside the tree.

#include <string>

#include "platform/LocalTime.h"

namespace quenlow::platform {

class OutputFolder {
public:
    OutputFolder() = default;
    ~OutputFolder();
    OutputFolder(const OutputFolder&) = delete;
    OutputFolder& operator=(const OutputFolder&) = delete;
    OutputFolder(OutputFolder&& other) noexcept;
    OutputFolder& operator=(OutputFolder&& other) noexcept;

    // Opens the folder the user chose, creating it (and missing parents) when it does not
    // exist. This is the one path that is followed as given, links included.
    bool openRoot(const std::string& path);
    // Makes (or reuses) the folder `name` directly inside this one and opens it into `child`.
    // `name` must be one path component. A name held by anything but a real folder (a file,
    // a symbolic link) fails with EEXIST-like errors; `created` says whether it was new.
    bool openChild(const std::string& name, OutputFolder& child, bool& created, std::string& error) const;
    // What has `name` here, links not followed.
    enum class Kind { None, Folder, Other };
    Kind kind(const std::string& name) const;
    bool has(const std::string& name) const { return kind(name) != Kind::None; }

    // A path that names `name` inside this very folder for open(): through the process's
    // descriptor link (/proc/self/fd/N/name), which stays bound to the folder opened here
    // even if a folder on the way is renamed or replaced meanwhile; the built path when
    // /proc is not available.
    std::string pathForOpen(const std::string& name) const;
    // The readable path of `name` inside this folder.
    std::string childPath(const std::string& name) const;

    // Renames `from` to `to` inside this folder, never replacing anything that has `to`.
    bool renameChild(const std::string& from, const std::string& to, std::string& error) const;
    // Removes the file `name` inside this folder.
    bool removeChild(const std::string& name) const;
    // Sets the access and modification times of `name` inside this folder (a link is not
    // followed).
    bool setChildTimes(const std::string& name, const UnixTime& access, const UnixTime& modification,
                       std::string& error) const;

    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    // The folder's path as built from the chosen folder and the names walked, with '/'.
    const std::string& path() const { return path_; }
    const std::string& error() const { return error_; }
    void close();

private:
    int fd_ = -1;
    std::string path_;
    std::string error_;
};

}  // namespace quenlow::platform
