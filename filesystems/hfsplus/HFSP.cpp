#include "filesystems/hfsplus/HFSP.h"

#include <algorithm>
#include <cstdio>

#include "filesystems/EntryFormat.h"
#include "filesystems/ParserRegistry.h"
#include "filesystems/hfsplus/HfsBTreeFile.h"
#include "filesystems/hfsplus/HfsDataStream.h"
#include "filesystems/hfsplus/HfsNodeScan.h"

namespace quenlow::fs {

namespace {

constexpr uint32_t kCatalogFileId = 4;
constexpr const char* kPlaceholderText = "..DUMY..";  // the browse step's expand-button child

// The volume's size as its record gives it, in bytes.
uint64_t sizeFromRecord(const volumes::VolumeRecord& volume) {
    return static_cast<uint64_t>(std::max<int64_t>(0, volumes::recordSizeBytes(volume)));
}

platform::UnixTime unixOf(uint32_t date) { return {static_cast<int64_t>(date) - kHfsEpochToUnix, 0}; }

// The extents up to the first empty one.
std::vector<HfsExtent> used(const HfsExtents& extents) {
    std::vector<HfsExtent> out;
    for (const HfsExtent& e : extents) {
        if (e.blockCount == 0) break;
        out.push_back(e);
    }
    return out;
}

}  // namespace

ParserInfo hfsPlusParserInfo() {
    ParserInfo info;
    info.name = "HFS+";
    info.typeNames = {"HFS+"};
    info.modes = {Mode::Standard, Mode::Deep};
    info.selectedStatus = kHfsSelectedText;
    info.expandingClearsList = true;
    info.caseInsensitiveNames = true;
    info.create = [](const ParserSetup& setup) { return std::make_unique<HFSP>(setup); };
    return info;
}

HFSP::HFSP(const ParserSetup& setup) : setup_(setup) {}

HFSP::~HFSP() = default;

uint64_t HFSP::volumeBlocks() const {
    if (header_.totalBlocks != 0) return header_.totalBlocks;
    return header_.blockSize == 0 ? 0 : std::min<uint64_t>(sizeFromRecord(setup_.volume) / header_.blockSize, UINT32_MAX);
}

ParseOutcome HFSP::abort(Feedback& feedback, const std::string& reason) {
    feedback.status(kHfsAbortedText);
    return {Status::failure(reason), false};
}

ParseOutcome HFSP::parse(WorkControl& control, Feedback& feedback, Mode mode) {
    catalog_ = HfsCatalog();
    firstLevel_.clear();
    scanMode_ = mode != Mode::Standard;
    if (setup_.tree != nullptr) rootItem_ = setup_.tree->insertItem(kNoItem, setup_.rootLabel, true, 0);
    std::vector<uint8_t> bytes(HfsVolumeHeader::kSize);
    setup_.view.readQuiet(HfsVolumeHeader::kVolumeOffset, bytes.data(), bytes.size());
    header_ = HfsVolumeHeader::parse(bytes);
    const uint32_t blockSize = header_.blockSize;
    if (!header_.blockSizeValid()) {
        if (scanMode_) feedback.status(kHfsBlockSizeText);
        return abort(feedback, "the volume header's block size (" + std::to_string(blockSize) +
                                   ") is not one of an HFS+ volume");
    }
    if (!readExtentsOverflow(control, feedback)) return abort(feedback, "the extents-overflow file cannot be read");

    // The catalog along all its extents: the eight of the header, then the overflow file's.
    HfsBTreeFile catalogFile(setup_.view, blockSize, volumeBlocks(),
                             overflow_.complete(kCatalogFileId, header_.catalogFile.extents, header_.catalogFile.totalBlocks),
                             header_.catalogFile.logicalSize);
    if (!catalogFile.open()) {
        if (scanMode_) feedback.status(kHfsBlockSizeText);
        return abort(feedback, "the catalog file's header node cannot be read");
    }
    auto addLeaf = [&](auto, std::span<const uint8_t> node) { catalog_.addLeaf(node); };
    if (!scanMode_) {
        catalogFile.forEachNode(control, feedback, addLeaf);
    } else {
        // Every block of the volume as its record gives it, up to the end of the source.
        uint64_t bytesToScan = sizeFromRecord(setup_.volume);
        if (int64_t source = setup_.view.sourceLength(); source >= 0)
            bytesToScan = std::min(bytesToScan, static_cast<uint64_t>(source));
        const uint64_t blocks = std::min<uint64_t>(bytesToScan / blockSize, UINT32_MAX);  // HFS+ counts blocks in 32 bits
        if (blocks == 0 || catalogFile.nodeSize() < blockSize) {
            feedback.status(kHfsBlockSizeText);
            return abort(feedback, "the volume is too small for a catalog node or its node size is below its block size");
        }
        HfsNodeScan(setup_.view, blockSize, catalogFile.nodeSize(), blocks).scan(control, feedback, addLeaf);
    }
    catalog_.finish();
    if (scanMode_) {
        catalog_.linkUnderOrphanFolder();
    } else {
        feedback.status(kHfsLinkingText);
        feedback.progressRange(0, static_cast<int64_t>(catalog_.size()));
        catalog_.linkByParent();
        char text[96];
        std::snprintf(text, sizeof text, "Maintaining Parent Child for record %zu of %zu....", catalog_.size(),
                      catalog_.size());
        feedback.status(text);
        feedback.progressPosition(static_cast<int64_t>(catalog_.size()));
    }
    fillTree(feedback);
    feedback.status(kHfsDoneText);
    // The HFS+ worker has its own ending: no completion sequence follows.
    return {Status::success(), false};
}

bool HFSP::readExtentsOverflow(WorkControl& control, Feedback& feedback) {
    const HfsForkData& fork = header_.extentsFile;
    if (fork.logicalSize == 0) return true;  // no overflow records
    // The extents file's own extents are all in the header.
    HfsBTreeFile file(setup_.view, header_.blockSize, volumeBlocks(), used(fork.extents), fork.logicalSize);
    if (!file.open()) return false;
    file.forEachNode(control, feedback, [&](uint32_t, std::span<const uint8_t> node) { overflow_.addLeaf(node); });
    return true;
}

void HFSP::fillTree(Feedback& feedback) {
    const std::vector<uint64_t> ids = catalog_.firstLevel();
    for (size_t i = 0; i < ids.size(); ++i) {
        const HfsCatalogEntry& e = *catalog_.find(ids[i]);
        firstLevel_.push_back(e.id);
        if (i % 4096 == 0 || i + 1 == ids.size()) {
            char text[64];
            std::snprintf(text, sizeof text, e.isFolder() ? "found folder at Node %zu" : "found file at Node %zu", i + 1);
            feedback.status(text);
        }
        if (setup_.tree == nullptr) continue;
        TreeItem item = setup_.tree->insertItem(rootItem_, e.name, e.isFolder(), e.id);
        if (e.isFolder() && e.firstChild != HfsCatalogEntry::kNone)
            setup_.tree->insertItem(item, kPlaceholderText, false, 0);
    }
    if (setup_.tree != nullptr) setup_.tree->expand(rootItem_);
}

// ---------------------------------------------------------------------------------------
// Entries as the browse and save steps see them

EntryRef HFSP::firstChild(EntryRef folder) const {
    const HfsCatalogEntry* e = catalog_.find(folder);
    return e == nullptr ? kNoEntry : e->firstChild;
}

EntryRef HFSP::nextSibling(EntryRef entry) const {
    const HfsCatalogEntry* e = catalog_.find(entry);
    return e == nullptr ? kNoEntry : e->nextSibling;
}

bool HFSP::isFolder(EntryRef entry) const {
    const HfsCatalogEntry* e = catalog_.find(entry);
    return e != nullptr && e->isFolder();
}

bool HFSP::isFile(EntryRef entry) const {
    const HfsCatalogEntry* e = catalog_.find(entry);
    return e != nullptr && e->isFile();
}

std::string HFSP::name(EntryRef entry) const {
    const HfsCatalogEntry* e = catalog_.find(entry);
    return e == nullptr ? std::string() : e->name;
}

int64_t HFSP::sizeField(EntryRef entry) const {
    const HfsCatalogEntry* e = catalog_.find(entry);
    if (e == nullptr || !e->isFile()) return 0;
    return static_cast<int64_t>(std::min<uint64_t>(e->logicalSize, INT64_MAX));
}

int64_t HFSP::dataSize(EntryRef entry) { return catalog_.find(entry) == nullptr ? -1 : sizeField(entry); }

std::string HFSP::sizeText(EntryRef entry) {
    int64_t size = dataSize(entry);
    return size < 0 ? std::string() : fs::sizeText(size);
}

EntryTexts HFSP::entryTexts(EntryRef entry) {
    EntryTexts texts;
    const HfsCatalogEntry* e = catalog_.find(entry);
    if (e == nullptr || e->synthetic) return texts;
    texts.created = dateTextFromUnix(unixOf(e->createDate).seconds);
    texts.accessed = dateTextFromUnix(unixOf(e->accessDate).seconds);
    texts.modified = dateTextFromUnix(unixOf(e->contentModDate).seconds);
    static const struct {
        uint16_t bit;
        const char* marker;
    } kMarkers[] = {{0x40, "-Owner:X"}, {0x80, "-Owner:W"}, {0x100, "-Owner:R"}, {0x1, "-OX"}, {0x2, "-OW"},
                    {0x4, "-OR"},       {0x8, "-GX"},       {0x10, "-GW"},       {0x20, "-GR"}};
    for (const auto& m : kMarkers)
        if (e->fileMode & m.bit) texts.attributes += m.marker;
    return texts;
}

EntryTimes HFSP::times(EntryRef entry) {
    EntryTimes t;
    const HfsCatalogEntry* e = catalog_.find(entry);
    if (e == nullptr || e->synthetic) return t;
    t.created = unixOf(e->createDate);
    t.accessed = unixOf(e->accessDate);
    t.modified = unixOf(e->contentModDate);  // the date the list shows as the modification time
    t.changed = unixOf(e->attributeModDate);
    return t;
}

std::vector<HfsExtent> HFSP::dataExtents(const HfsCatalogEntry& e) const {
    const uint64_t blockSize = header_.blockSize;
    if (blockSize == 0) return {};
    const uint64_t size = std::min<uint64_t>(e.logicalSize, volumeBlocks() * blockSize);
    return overflow_.complete(static_cast<uint32_t>(e.id), e.extents, size / blockSize + (size % blockSize != 0));
}

Result<EntryData> HFSP::openData(EntryRef entry, Feedback&) {
    const HfsCatalogEntry* e = catalog_.find(entry);
    if (e == nullptr) return Status::failure("not an entry of this volume");
    EntryData data;
    data.times = times(entry);
    if (e->isFile())
        data.stream = HfsDataStream::open(setup_.view, header_.blockSize, volumeBlocks(), dataExtents(*e), e->logicalSize);
    else
        data.stream = std::make_unique<MemoryStream>(std::vector<uint8_t>{});
    data.size = data.stream->size();
    return data;
}

}  // namespace quenlow::fs
