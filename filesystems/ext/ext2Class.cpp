#include "filesystems/ext/ext2Class.h"

#include <algorithm>
#include <cstdio>

#include "filesystems/EntryFormat.h"
#include "filesystems/ParserRegistry.h"
#include "filesystems/ext/ExtDataStream.h"

namespace quenlow::fs {

namespace {

std::string counted(const char* format, uint64_t a, uint64_t b) {
    char text[96];
    std::snprintf(text, sizeof text, format, static_cast<unsigned long long>(a), static_cast<unsigned long long>(b));
    return text;
}

}  // namespace

ParserInfo extParserInfo() {
    ParserInfo info;
    info.name = "ext2/3/4";
    info.typeNames = {"extX"};
    info.modes = {Mode::Standard};
    info.create = [](const ParserSetup& setup) { return std::make_unique<ext2Class>(setup); };
    return info;
}

ext2Class::ext2Class(const ParserSetup& setup) : setup_(setup), volume_(setup.view) {}

ext2Class::~ext2Class() = default;

ParseOutcome ext2Class::parse(WorkControl& control, Feedback& feedback, Mode) {
    entries_.clear();
    firstLevel_.clear();
    if (setup_.tree != nullptr) rootItem_ = setup_.tree->insertItem(kNoItem, setup_.rootLabel, true, 0);
    const int64_t volumeBytes = volumes::recordSizeBytes(setup_.volume);
    if (volumeBytes == 0) return {Status::failure("the volume's size is 0: nothing to read"), true};
    if (!volume_.findSuperblock(volumeBytes, control))
        return {Status::failure("no ext2/ext3/ext4 superblock was found on the volume"), true};
    switch (volume_.superblock().featureRoCompat) {
        case 0: feedback.message(kExt2Text); break;
        case 3: feedback.message(kExt3Text); break;
        case 0x7B: feedback.message(kExt4Text); break;
        default: break;
    }
    if (!volume_.readDescriptors())
        return {Status::failure("the ext group descriptors lie outside the volume"), true};
    ExtNamingWalk walk(volume_, control, feedback);
    buildTable(walk.run(), feedback);
    link(feedback);
    fillTree(feedback);
    return {};
}

// One entry per named inode, in key order, each inode read once: the inodes of one group
// are read together in pieces of up to 1 MiB of its table. An inode that cannot be read
// leaves its name unused. The "ROOT" record takes key 2.
void ext2Class::buildTable(std::vector<ExtNamed> named, Feedback& feedback) {
    feedback.status("clearing vector....");
    const ExtSuperblock& s = volume_.superblock();
    const uint64_t inodeSize = s.inodeSize;
    const uint64_t window = std::max<uint64_t>(1, (uint64_t{1} << 20) / inodeSize);
    entries_.reserve(named.size() + 1);
    std::vector<uint8_t> buffer;
    for (size_t i = 0; i < named.size();) {
        const uint32_t first = static_cast<uint32_t>(named[i].key);
        const uint32_t group = first / s.inodesPerGroup;
        size_t j = i;
        while (j < named.size() && static_cast<uint32_t>(named[j].key) / s.inodesPerGroup == group &&
               static_cast<uint32_t>(named[j].key) - first < window)
            ++j;
        const uint32_t last = static_cast<uint32_t>(named[j - 1].key);
        const int64_t at = volume_.inodeOffset(first + 1);
        if (at >= 0) {
            buffer.assign(static_cast<size_t>((last - first + 1) * inodeSize), 0);
            disk::VolumeView::ReadReport report = volume_.readAt(at, buffer.data(), buffer.size());
            for (size_t k = i; k < j; ++k) {
                if (named[k].key == kExtRootKey) continue;
                const uint64_t offset = static_cast<uint64_t>(static_cast<uint32_t>(named[k].key) - first) * inodeSize;
                bool failed = false;
                for (const auto& list : {report.failed, report.pastSource})
                    for (const disk::ByteRange& r : list)
                        if (r.offset < offset + inodeSize && r.end() > offset) failed = true;
                if (failed) continue;
                ExtInode inode = ExtInode::parse(std::span<const uint8_t>(buffer.data() + offset, inodeSize));
                ExtInodeEntry e;
                e.name = std::move(named[k].name);
                e.key = named[k].key;
                e.parentRef = named[k].parentRef;
                e.mode = named[k].typeMode != 0 ? static_cast<uint16_t>((inode.mode & 0x0FFF) | named[k].typeMode)
                                                : inode.mode;
                e.size = inode.size;
                e.tableBlock = volume_.groups()[group].inodeTable;
                e.tableIndex = static_cast<uint32_t>(named[k].key) % s.inodesPerGroup;
                e.accessed = inode.accessed, e.changed = inode.changed, e.modified = inode.modified;
                e.nanoseconds = inode.nanoseconds;
                entries_.push_back(std::move(e));
            }
        }
        i = j;
    }
    ExtInodeEntry root;
    root.name = "ROOT";
    root.key = kExtRootKey;
    root.mode = 0x4000;
    root.synthetic = true;
    auto it = std::lower_bound(entries_.begin(), entries_.end(), kExtRootKey,
                               [](const ExtInodeEntry& e, int32_t key) { return e.key < key; });
    entries_.insert(it, std::move(root));
}

EntryRef ext2Class::refOfKey(int32_t key) const {
    auto it = std::lower_bound(entries_.begin(), entries_.end(), key,
                               [](const ExtInodeEntry& e, int32_t k) { return e.key < k; });
    if (it == entries_.end() || it->key != key) return kNoEntry;
    return static_cast<EntryRef>(it - entries_.begin()) + 1;
}

// Every entry in key order is pushed at the head of its parent's list, so each list runs in
// falling key order. An entry is never its own child, and as every entry has one parent and
// "ROOT" has none, no list walked from "ROOT" comes back to an entry.
void ext2Class::link(Feedback& feedback) {
    feedback.status("Maintaining Parent Child....");
    feedback.progressRange(0, static_cast<int64_t>(entries_.size()));
    for (size_t i = 0; i < entries_.size(); ++i) {
        if (i % 4096 == 0 || i + 1 == entries_.size()) {
            feedback.status(counted("Maintaining Parent Child for record %llu of %llu....", i, entries_.size()));
            feedback.progressPosition(static_cast<int64_t>(i + 1));
        }
        ExtInodeEntry& e = entries_[i];
        if (e.parentRef <= 0 || e.parentRef == e.key) continue;
        EntryRef p = refOfKey(e.parentRef);
        if (p == kNoEntry) continue;
        ExtInodeEntry& parent = entries_[p - 1];
        e.nextSibling = parent.firstChild;
        e.nextSiblingRef = parent.firstChildRef;
        parent.firstChild = e.key;
        parent.firstChildRef = static_cast<uint32_t>(i + 1);
    }
}

void ext2Class::fillTree(Feedback& feedback) {
    feedback.status("filling root entries in  tree....");
    EntryRef root = refOfKey(kExtRootKey);
    for (EntryRef c = firstChild(root); c != kNoEntry; c = nextSibling(c)) {
        const ExtInodeEntry& e = entries_[c - 1];
        // Devices, pipes and sockets are not shown at the first level.
        if (!e.isFolder() && !e.isFile()) continue;
        firstLevel_.push_back(c);
        if (setup_.tree != nullptr) setup_.tree->insertItem(rootItem_, e.name, e.isFolder(), c);
    }
    if (setup_.tree != nullptr) setup_.tree->expand(rootItem_);
}

// ---------------------------------------------------------------------------------------
// Entries as the browse and save steps see them

const ExtInodeEntry* ext2Class::entry(EntryRef ref) const {
    if (ref == kNoEntry || ref > entries_.size()) return nullptr;
    return &entries_[ref - 1];
}

EntryRef ext2Class::firstChild(EntryRef folder) const {
    const ExtInodeEntry* e = entry(folder);
    return e == nullptr ? kNoEntry : e->firstChildRef;
}

EntryRef ext2Class::nextSibling(EntryRef ref) const {
    const ExtInodeEntry* e = entry(ref);
    return e == nullptr ? kNoEntry : e->nextSiblingRef;
}

bool ext2Class::qualifiesAsSaveFolder(EntryRef ref) const { return isFolder(ref); }

bool ext2Class::isFolder(EntryRef ref) const {
    const ExtInodeEntry* e = entry(ref);
    return e != nullptr && e->isFolder();
}

bool ext2Class::isFile(EntryRef ref) const {
    const ExtInodeEntry* e = entry(ref);
    return e != nullptr && !e->synthetic && e->isFile();
}

std::string ext2Class::name(EntryRef ref) const {
    const ExtInodeEntry* e = entry(ref);
    return e == nullptr ? std::string() : e->name;
}

int64_t ext2Class::sizeField(EntryRef ref) const {
    const ExtInodeEntry* e = entry(ref);
    if (e == nullptr) return 0;
    return e->size > INT64_MAX ? INT64_MAX : static_cast<int64_t>(e->size);
}

int64_t ext2Class::dataSize(EntryRef ref) { return entry(ref) == nullptr ? -1 : sizeField(ref); }

std::string ext2Class::sizeText(EntryRef ref) {
    int64_t size = dataSize(ref);
    return size < 0 ? std::string() : fs::sizeText(size);
}

std::string ext2Class::permissionText(uint16_t mode) {
    static const char* const kMarkers[] = {"-OE", "-OW", "-OR", "-GE", "-GW", "-GR", "-UE", "-UW", "-UR"};
    std::string text;
    for (int bit = 0; bit < 9; ++bit)
        if (mode & (1u << bit)) text += kMarkers[bit];
    return text;
}

EntryTexts ext2Class::entryTexts(EntryRef ref) {
    EntryTexts texts;
    const ExtInodeEntry* e = entry(ref);
    if (e == nullptr || e->synthetic) return texts;
    texts.created = dateTextFromUnix(e->changed.seconds);
    texts.accessed = dateTextFromUnix(e->accessed.seconds);
    texts.modified = dateTextFromUnix(e->modified.seconds);
    texts.attributes = permissionText(e->mode);
    return texts;
}

// The Creation column shows the inode's change time; the times given here say the same.
EntryTimes ext2Class::times(EntryRef ref) {
    EntryTimes t;
    const ExtInodeEntry* e = entry(ref);
    if (e == nullptr || e->synthetic) return t;
    t.created = e->changed;
    t.changed = e->changed;
    t.accessed = e->accessed;
    t.modified = e->modified;
    t.fractionDigits = e->nanoseconds ? 9 : 0;
    return t;
}

Result<EntryData> ext2Class::openData(EntryRef ref, Feedback&) {
    const ExtInodeEntry* e = entry(ref);
    if (e == nullptr) return Status::failure("not an entry of this volume");
    EntryData data;
    data.times = times(ref);
    if (e->synthetic || !e->isFile()) {
        data.stream = std::make_unique<MemoryStream>(std::vector<uint8_t>{});
    } else {
        std::optional<ExtInode> inode = volume_.readInode(static_cast<uint32_t>(e->key) + 1);
        if (!inode) return Status::failure("the inode of this file cannot be read");
        // The entry's own type decides (a directory entry may have said "file").
        inode->mode = e->mode;
        data.stream = ExtDataStream::open(volume_, *inode);
    }
    data.size = data.stream->size();
    return data;
}

}  // namespace quenlow::fs
