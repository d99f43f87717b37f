#pragma once
// The carving engine: finds files on a volume by their signatures. Start signatures are
// tested at sector starts; a type with an end signature queues its starts and searches its
// end at every byte after them, pairing each end with the newest queued start (so nested
// files close inside out); a type whose header gives the size is read that far; any other
// type gets its approximate size. Every find is an item of the tree under its category and
// an entry of found().

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "disk/Feedback.h"
#include "disk/VolumeView.h"
#include "disk/WorkControl.h"
#include "filesystems/FolderTree.h"
#include "raw/SignatureEntry.h"

namespace quenlow::raw {

inline constexpr const char* kRawRootText = "RAW RECOVERY ";
inline constexpr const char* kCarveDoneText = "done..";
inline constexpr const char* kNotInitializedText = "not properly initialized";

struct Find {
    int64_t start = 0;
    int64_t size = 0;
    int type = 0;          // index into the engine's entries
    std::string name;      // the item text: "<position> .<extension>"
};

class myJpg {
public:
    static constexpr int64_t kSectorSize = 512;
    static constexpr size_t kDefaultChunkBytes = 8u << 20;
    // Pending starts kept per type; an older one beyond this becomes a file at once.
    static constexpr size_t kMaxPending = 4096;

    // Appends one type; its type number is its index.
    void addType(SignatureEntry entry, const TypeRecord& record);
    const std::vector<SignatureEntry>& entries() const { return entries_; }
    const std::vector<TypeRecord>& typeRecords() const { return typeRecords_; }
    size_t typeCount() const { return entries_.size(); }

    struct Setup {
        disk::VolumeView view;
        int64_t volumeBytes = 0;             // bytes scanned from the view's start
        fs::FolderTree* tree = nullptr;      // may be null
        Feedback* feedback = nullptr;        // may be null
        WorkControl* control = nullptr;      // may be null
        size_t chunkBytes = kDefaultChunkBytes;  // a multiple of the sector size
    };
    // Scans the volume; true when it ran to its end or to a stop ("done.." is sent either
    // way). False with kNotInitializedText when there is nothing valid to scan with, and
    // false without a message when an exception ended it (finds so far stay).
    bool run(const Setup& setup);

    const std::vector<Find>& found() const { return found_; }
    const std::map<std::string, int64_t>& categoryCounts() const { return categoryCounts_; }
    bool stopped() const { return stopped_; }
    // Volume bytes that could not be read during the scan (their content read as zeros).
    uint64_t unreadBytes() const { return unreadBytes_; }
    // The reads the scan made: (offset, bytes), for the tests of chunking.
    const std::vector<std::pair<int64_t, size_t>>& readLog() const { return readLog_; }

private:
    struct MatchEntry {
        uint8_t length = 0;
        int type = 0;
        std::array<uint8_t, kMaxSignatureBytes> bytes{};
    };
    struct Pending {
        int64_t start = 0;
        int64_t searchFrom = 0;  // where its end may first lie
    };

    bool buildMatchTable();
    void makeCategoryNodes();
    void scan();
    // The type whose start signature matches at `p` of the buffer, or -1.
    int matchStart(const uint8_t* p, size_t available) const;
    static bool matches(const MatchEntry& e, const uint8_t* p, size_t available);
    // The earliest position in [from, to) where a pending type's end signature lies, with
    // its type; -1 when none.
    int64_t findEnd(int64_t from, int64_t to, int& type) const;
    int64_t headerSize(int type, int64_t at) const;
    void closePair(int type, int64_t endAt, int64_t& resume);
    void flushPending(int type);
    void record(int type, int64_t start, int64_t size, int64_t namedAt);
    int64_t skipStep(int type) const;
    const uint8_t* at(int64_t position) const { return buffer_.data() + (position - bufferStart_); }

    std::vector<SignatureEntry> entries_;
    std::vector<TypeRecord> typeRecords_;
    std::vector<MatchEntry> startTable_, endTable_;
    std::vector<std::deque<Pending>> queues_;
    std::vector<Find> found_;
    std::map<std::string, int64_t> categoryCounts_;
    std::vector<std::pair<int64_t, size_t>> readLog_;

    Setup setup_;
    fs::TreeItem root_ = fs::kNoItem;
    std::vector<uint8_t> buffer_;
    int64_t bufferStart_ = 0;
    int64_t bufferEnd_ = 0;     // bytes of the volume held: [bufferStart_, bufferEnd_)
    size_t longest_ = 0;        // the longest signature
    size_t pendingTypes_ = 0;   // types whose queue is not empty
    bool stopped_ = false;
    uint64_t unreadBytes_ = 0;
};

}  // namespace quenlow::raw
