// The scans of the raw volume on crafted volumes: deep mode's arrangement, the $MFT search.

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "filesystems/MemoryTree.h"
#include "filesystems/ntfs/ntfs.h"
#include "ntfs/support/NtfsImage.h"
#include "support/MemoryDisk.h"
#include "support/ParserHarness.h"

using namespace quenlow;
using namespace quenlow::test;

namespace {
constexpr int64_t kChunk = 10485760;

struct Scanned {
    std::vector<uint8_t> bytes;
    std::unique_ptr<MemoryDisk> disk;
    fs::MemoryTree tree;
    std::unique_ptr<fs::ntfs> parser;
    WorkControl control;
    explicit Scanned(int64_t size) : bytes(static_cast<size_t>(size)) {}
    Scanned& put(int64_t at, const std::u16string& name, bool folder = false, uint16_t usaOffset = 48) {
        std::vector<uint8_t> r = (folder ? RecordBuilder(3).folderName(5, name) : RecordBuilder(1).fileName(5, name)).finish();
        r[4] = static_cast<uint8_t>(usaOffset), r[5] = static_cast<uint8_t>(usaOffset >> 8);
        std::memcpy(bytes.data() + at, r.data(), r.size());
        return *this;
    }
    fs::ntfs& open() {
        disk = std::make_unique<MemoryDisk>(bytes);
        volumes::VolumeRecord volume;
        volume.volumeSizeText = std::to_string(bytes.size() / 1048576) + "   MB";
        parser = std::make_unique<fs::ntfs>(setupOn(*disk, volume, tree));
        return *parser;
    }
    std::vector<std::string> children(fs::EntryRef folder, fs::EntryRef* named = nullptr, const char* name = "") const {
        std::vector<std::string> names;
        for (fs::EntryRef c = parser->firstChild(folder); c != fs::kNoEntry && names.size() < 100000; c = parser->nextSibling(c))
            if (names.push_back(parser->name(c)); named != nullptr && names.back() == name) *named = c;
        return names;
    }
};
}  // namespace

TEST(NtfsDeepScan, FoldersNewestFirstEachFileBelowTheLastFolderBeforeIt) {
    Scanned s(kChunk + 1048576);
    s.put(0, u"a").put(4096, u"D1", true).put(8192, u"b").put(9216, u".", true).put(16384, u"odd", false, 560);
    s.put(20480, u"D2", true).put(24576, u"c").put(kChunk - 512, u"edge");  // across the first chunk's end
    ASSERT_TRUE(parseIn(s.open(), silentFeedback(), fs::Mode::Deep).status.ok());
    ASSERT_EQ(s.parser->firstLevel().size(), 1u);
    fs::EntryRef orphans = s.parser->firstLevel()[0], d1 = fs::kNoEntry, d2 = fs::kNoEntry;
    EXPECT_TRUE(s.parser->qualifiesAsSaveFolder(orphans));
    EXPECT_EQ(s.children(orphans, &d1, "D1"), s.children(orphans, &d2, "D2"));
    EXPECT_EQ(s.children(orphans), (std::vector<std::string>{"D2", "D1", "a"}));
    EXPECT_EQ(s.children(d2), (std::vector<std::string>{"edge", "c"}));
    EXPECT_EQ(s.children(d1), (std::vector<std::string>{"b"}));
}

TEST(NtfsMftSearch, TablesKnownByTheirBootRecordAndTheChoiceAmongThem) {
    const char16_t* names[] = {u"$MFT", u"$MFTMirr", u"$LogFile", u"$Volume", u"$AttrDef", u".", u"$Bitmap", u"$Boot"};
    struct Case {
        std::vector<int64_t> tables;  // where each table starts
        size_t expected;
        const char16_t* first = u"$MFT";
    } cases[] = {
        {{4096, 65536, 1048576, 2097152}, 4},  // a fourth in the chunk of the third is taken
        {{4096, 65536, 1048576, kChunk + 4096}, 3},  // the search ends at the next chunk
        {{4096, kChunk + 4096}, 2},
        {{kChunk - 4608}, 1},  // its record 4 across the chunk boundary
        {{4096}, 0, u"$MFTMirr"},
    };
    for (const Case& c : cases) {
        Scanned s(2 * kChunk + 1048576);
        for (int64_t at : c.tables)
            for (int k = 0; k < 8; ++k) s.put(at + k * 1024, k == 0 ? c.first : names[k], k == 5);
        fs::Result<fs::CandidateSearch> found = s.open().findCandidates(s.control, silentFeedback(), 3);
        EXPECT_EQ(found.value().entries, std::vector<int64_t>(c.tables.begin(), c.tables.begin() + static_cast<long>(c.expected)));
        std::string error;  // sectors per cluster: 0 (the parser's own) or a power of two to 4096
        for (int64_t spc : {1, 0, 4096, 3, 8192, -2})
            EXPECT_EQ(s.parser->chooseCandidate({0, spc, {}}, error), c.expected > 0 && spc >= 0 && spc <= 4096 && (spc & (spc - 1)) == 0);
        EXPECT_FALSE(s.parser->chooseCandidate({c.expected, 8, {}}, error));
    }
}

// Random bytes, blocks all "FILE", records all named: scans and walks end, the deep table is bounded.
TEST(NtfsDeepScan, SurvivesRandomBytesAndVolumesFullOfRecords) {
    std::mt19937 rng(11);
    for (int shape = 0; shape < 3; ++shape) {
        Scanned s(3 * 1048576);
        for (auto& b : s.bytes) b = static_cast<uint8_t>(rng());
        for (size_t at = 0; shape > 0 && at < s.bytes.size(); at += shape == 1 ? 512 : 1024)
            shape == 1 ? (void)std::memcpy(s.bytes.data() + at, "FILE", 4)
                       : (void)s.put(static_cast<int64_t>(at), std::u16string(1 + at % 7, u'f'), at % 3 == 0);
        for (fs::Mode mode : {fs::Mode::Deep, fs::Mode::Advanced}) {
            s.open().mftReader().maxDeepRecords = 500;
            std::string error;
            if (s.parser->findCandidates(s.control, silentFeedback(), 3) && mode == fs::Mode::Advanced &&
                !s.parser->chooseCandidate({0, 8, {}}, error))
                continue;
            parseIn(*s.parser, silentFeedback(), mode);
            EXPECT_EQ(s.parser->mftReader().deepLimitReached(), shape == 2 && mode == fs::Mode::Deep);
            size_t visited = 0, bound = 3 * s.parser->entries().size() + 3;
            for (std::vector<fs::EntryRef> stack = s.parser->firstLevel(); !stack.empty() && visited <= bound; stack.pop_back())
                for (fs::EntryRef c = s.parser->firstChild(stack.back()); c != fs::kNoEntry; c = s.parser->nextSibling(c), ++visited)
                    if (s.parser->isFolder(c) && visited <= bound) stack.insert(stack.begin(), c);
            EXPECT_TRUE(visited <= bound && s.parser->entries().size() <= 502u) << shape;
        }
    }
}
