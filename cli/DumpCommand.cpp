// quenlow dump: sectors of the assembled virtual disk to standard output or a file.

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "cli/CliContext.h"
#include "cli/Command.h"
#include "disk/FileReadSeekRaid.h"

namespace quenlow::cli {
namespace {

struct DumpOptions {
    int64_t start = 0;
    int64_t count = -1;  // -1: to the end of the virtual disk
    std::string out;     // empty or "-": standard output
};

bool writeAll(int fd, const unsigned char* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// The output must not be one of the members: a dump never writes to a source.
bool isMember(const CliContext& context, const struct stat& out) {
    for (const auto& m : context.array.members) {
        struct stat st {};
        if (::stat(m.c_str(), &st) == 0 && st.st_dev == out.st_dev && st.st_ino == out.st_ino)
            return true;
    }
    return false;
}

void run(CliContext& context, const DumpOptions& options) {
    if (options.start < 0) {
        context.error("--start: must not be negative");
        context.exitStatus = kExitUsage;
        return;
    }
    if (options.count < -1) {
        context.error("--count: must not be negative");
        context.exitStatus = kExitUsage;
        return;
    }
    if (!context.openArray()) return;
    auto& raid = *context.recovery.raidDisk;
    const int64_t total = static_cast<int64_t>(raid.totalSectors());
    if (options.start >= total) {
        context.error("--start: sector " + std::to_string(options.start) +
                      " lies at or beyond the virtual disk's end (" + std::to_string(total) + " sectors, 0 to " +
                      std::to_string(total - 1) + ")");
        context.exitStatus = kExitUsage;
        return;
    }
    if (options.count > total - options.start) {
        context.error("--count: " + std::to_string(options.count) + " sectors from sector " +
                      std::to_string(options.start) + " run past the virtual disk's end (" + std::to_string(total) +
                      " sectors); at most " + std::to_string(total - options.start) + " are left");
        context.exitStatus = kExitUsage;
        return;
    }
    int64_t count = options.count < 0 ? total - options.start : options.count;

    int fd = STDOUT_FILENO;
    bool toFile = !options.out.empty() && options.out != "-";
    if (toFile) {
        struct stat st {};
        if (::stat(options.out.c_str(), &st) == 0 && (isMember(context, st) || S_ISBLK(st.st_mode))) {
            context.error("--out: " + options.out + " is a member or a block device; a dump never writes to a disk");
            context.exitStatus = kExitUsage;
            return;
        }
        fd = ::open(options.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) {
            context.error("--out: " + options.out + ": " + std::strerror(errno));
            context.exitStatus = kExitFailed;
            return;
        }
    } else if (::isatty(STDOUT_FILENO) == 1) {
        context.error("dump: standard output is a terminal; give --out FILE or redirect it");
        context.exitStatus = kExitUsage;
        return;
    }

    constexpr int64_t kChunkSectors = 8192;  // 4 MiB per read
    std::vector<unsigned char> buffer(static_cast<size_t>(kChunkSectors) * 512);
    installInterruptHandler();
    context.feedback.status("dumping sectors");
    context.feedback.progressRange(0, count);
    int64_t done = 0, failedSectors = 0, firstFailed = -1, lastFailed = -1;
    bool ok = true;
    raid.seek(options.start * 512, 0);
    while (done < count) {
        if (interruptRequested()) {
            context.error("dump: stopped after " + std::to_string(done) + " sectors");
            ok = false;
            break;
        }
        int64_t n = std::min(kChunkSectors, count - done);
        // Each chunk is positioned explicitly, so a failed read cannot shift the rest.
        const int64_t at = options.start + done;
        raid.seek(at * 512, 0);
        if (!raid.read(buffer.data(), static_cast<uint32_t>(n * 512))) {
            // Read the chunk again in runs to learn exactly which sectors failed; those are
            // written as zeros.
            int64_t i = 0;
            while (i < n) {
                i += raid.readRun((at + i) * 512, buffer.data() + i * 512, static_cast<uint32_t>(n - i));
                if (i >= n) break;
                std::memset(buffer.data() + i * 512, 0, 512);
                if (failedSectors++ == 0) firstFailed = at + i;
                lastFailed = at + i;
                ++i;
            }
        }
        if (!writeAll(fd, buffer.data(), static_cast<size_t>(n) * 512)) {
            context.error("dump: cannot write: " + std::string(std::strerror(errno)));
            ok = false;
            break;
        }
        done += n;
        context.feedback.progressPosition(done);
    }
    context.feedback.finishProgress();
    if (toFile && ::close(fd) != 0) {
        context.error("--out: " + options.out + ": " + std::strerror(errno));
        ok = false;
    }
    if (failedSectors > 0) {
        context.error("dump: " + std::to_string(failedSectors) + " sector(s) could not be read, from sector " +
                      std::to_string(firstFailed) + " to " + std::to_string(lastFailed) +
                      "; they were written as zeros");
        ok = false;
    }
    context.exitStatus = ok ? kExitOk : kExitFailed;
}

Registration registration(40, [](CLI::App& app, CliContext& context) {
    auto options = std::make_shared<DumpOptions>();
    auto* cmd = app.add_subcommand("dump", "write sectors of the virtual disk to standard output or a file");
    cmd->add_option("--start", options->start, "first sector (default 0)")->check(wholeNumber());
    cmd->add_option("--count", options->count, "number of sectors (default: to the end)")->check(wholeNumber());
    cmd->add_option("--out", options->out, "output file (default: standard output)");
    cmd->callback([&context, options] { run(context, *options); });
});

}  // namespace
}  // namespace quenlow::cli
