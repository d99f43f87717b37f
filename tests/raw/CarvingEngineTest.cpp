// The carving engine on crafted volumes: pairs, nesting, header sizes, wildcards, chunking,
// pending starts, finishes and stops.

#include <gtest/gtest.h>

#include "filesystems/MemoryTree.h"
#include "raw/SettingsFile.h"
#include "raw/myJpg.h"
#include "support/MemoryDisk.h"
#include "support/RecordingFeedback.h"

using namespace quenlow;
using namespace quenlow::raw;

namespace {

constexpr int64_t S = 512;

struct Type {
    std::string ext, start, end, sizeOffset, sizeBytes, headerSize, approx, skip;
    bool includes = false;
    Finish finish = Finish::None;
};

struct Carve {
    std::vector<uint8_t> bytes;
    myJpg engine;
    fs::MemoryTree tree;
    test::RecordingFeedback feedback;

    explicit Carve(size_t size) : bytes(size, 0x11) {}
    void put(int64_t at, std::vector<uint8_t> b) { std::copy(b.begin(), b.end(), bytes.begin() + at); }
    void add(const Type& t) {
        SignatureFields f;
        f.extension = t.ext;
        f.startSignature = t.start;
        f.endSignature = t.end;
        f.sizeOffset = t.sizeOffset;
        f.sizeBytes = t.sizeBytes;
        f.headerSize = t.headerSize;
        f.sizeIncludesHeader = t.includes;
        f.approximateSize = t.approx;
        f.skipSize = t.skip;
        f.category = "Pictures";
        SignatureRecord r = *encodeFields(f, 0).record;
        SignatureEntry e = entryFromRecord(r);
        e.finish = t.finish;
        engine.addType(e, typeFromRecord(r, 0));
    }
    std::vector<std::pair<int64_t, int64_t>> run(size_t chunk = 1 << 20, WorkControl* control = nullptr) {
        test::MemoryDisk disk(std::vector<unsigned char>(bytes.begin(), bytes.end()));
        myJpg::Setup setup{disk::VolumeView(disk, 0), static_cast<int64_t>(bytes.size()), &tree, &feedback, control, chunk};
        EXPECT_TRUE(engine.run(setup));
        std::vector<std::pair<int64_t, int64_t>> out;
        for (const Find& f : engine.found()) out.emplace_back(f.start, f.size);
        return out;
    }
};

const Type kJpg{"jpg", "FF,D8,FF", "FF,D9", "", "", "", "1000000", ""};
const std::vector<uint8_t> kSoi{0xFF, 0xD8, 0xFF}, kEoi{0xFF, 0xD9};
using Finds = std::vector<std::pair<int64_t, int64_t>>;

}  // namespace

TEST(CarvingEngine, PairsCloseWithTheirExactSizeInsideOut) {
    Carve c(64 * S);
    c.add(kJpg);
    c.put(10 * S, kSoi);
    c.put(20 * S, kEoi);
    EXPECT_EQ(c.run(), (Finds{{10 * S, 10 * S + 2}}));
    EXPECT_EQ(c.engine.found()[0].name, "10240 .jpg");  // named after its end
    fs::TreeItem category = c.tree.firstChild(c.tree.root());
    EXPECT_EQ(c.tree.text(c.tree.root()), kRawRootText);
    EXPECT_EQ(c.tree.text(category), "Pictures (1)");
    EXPECT_EQ(c.tree.text(c.tree.firstChild(category)), "10240 .jpg");
    EXPECT_TRUE(c.feedback.sawMessage(kCarveDoneText));

    // Nested: starts at 10 and 12, ends at 14 and 20 (the second not at a sector start).
    Carve n(64 * S);
    n.add(kJpg);
    n.put(10 * S, kSoi);
    n.put(12 * S, kSoi);
    n.put(14 * S + 77, kEoi);
    n.put(20 * S + 301, kEoi);
    EXPECT_EQ(n.run(), (Finds{{12 * S, 2 * S + 79}, {10 * S, 10 * S + 303}}));
}

TEST(CarvingEngine, HeaderSizedFiles) {
    // RIFF-like: the size at 4 counts the file less its 8-byte header; approximate 4096.
    const Type riff{"wav", "52,49,46,46", "", "4", "4", "8", "4096", ""};
    struct Case {
        uint32_t field;
        Finds expect;
    };
    for (const Case& k : {Case{0, {}}, Case{5000, {}}, Case{1000, {{2 * S, 1008}, {4 * S, 1008}}},
                          Case{4090, {{2 * S, 4096}}}}) {
        Carve c(32 * S);
        c.add(riff);
        for (int64_t at : {2 * S, 4 * S}) {  // the second one right after the first file
            c.put(at, {'R', 'I', 'F', 'F', uint8_t(k.field), uint8_t(k.field >> 8), 0, 0});
        }
        SCOPED_TRACE(k.field);
        EXPECT_EQ(c.run(), k.expect);
    }
}

TEST(CarvingEngine, WildcardsAndSingleByteSignatures) {
    Carve c(16 * S);
    c.add({"zip", "50,4B,2A,2A", "", "", "", "", "700", ""});
    c.add({"one", "50", "", "", "", "", "700", ""});
    c.put(1 * S, {0x50, 0x4B, 0x03, 0x04});
    c.put(3 * S, {0x50, 0x4B, 0xAB, 0xCD});
    c.put(5 * S, {0x50, 0x4C});
    EXPECT_EQ(c.run(), (Finds{{1 * S, 700}, {3 * S, 700}}));
}

TEST(CarvingEngine, ChunksAndSignaturesAcrossThem) {
    const int64_t mib = 1 << 20;
    Carve c(static_cast<size_t>(2 * mib + mib / 2));
    c.add(kJpg);
    c.put(mib - S, kSoi);
    c.put(mib - 1, kEoi);  // the end straddles the first boundary
    c.put(2 * mib + S, kSoi);
    EXPECT_EQ(c.run(static_cast<size_t>(mib)),
              (Finds{{mib - S, S + 1}, {2 * mib + S, mib / 2 - S}}));  // the last runs to the volume's end
    const auto& log = c.engine.readLog();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0], (std::pair<int64_t, size_t>{0, mib + 2}));  // overlapping by the longest signature less one
    EXPECT_EQ(log[2], (std::pair<int64_t, size_t>{2 * mib, mib / 2}));
    EXPECT_EQ(c.feedback.rangeHigh, 3);
}

TEST(CarvingEngine, PendingStartsRunToTheNextNewerStart) {
    Carve c(40 * S);
    c.add({"jpg", "FF,D8,FF", "FF,D9", "", "", "", "3000", ""});
    c.put(2 * S, kSoi);
    c.put(4 * S, kSoi);
    c.put(30 * S, kSoi);  // the window of the first two has passed before here
    EXPECT_EQ(c.run(), (Finds{{4 * S, 3000}, {2 * S, 2 * S}, {30 * S, 3000}}));
}

TEST(CarvingEngine, FinishesGiveTheBytesAfterTheEndSignature) {
    Carve c(32 * S);
    c.add({"zip", "50,4B,03,04", "50,4B,05,06", "", "", "", "100000", "", false, Finish::ZipEndRecord});
    c.add({"pdf", "25,50,44,46", "25,25,45,4F,46", "", "", "", "100000", "", false, Finish::PdfLineEnd});
    c.put(2 * S, {0x50, 0x4B, 0x03, 0x04});
    c.put(3 * S + 10, {0x50, 0x4B, 0x05, 0x06});
    c.put(3 * S + 10 + 20, {5, 0});  // a comment of 5 bytes
    c.put(8 * S, {'%', 'P', 'D', 'F'});
    c.put(9 * S + 3, {'%', '%', 'E', 'O', 'F', '\r', '\n'});
    // A JPEG whose APP1 segment holds a thumbnail with its own end marker.
    c.add({"jpg", "FF,D8,FF", "FF,D9", "", "", "", "100000", "", false, Finish::JpegSegments});
    c.put(12 * S, {0xFF, 0xD8, 0xFF, 0xE1, 0, 8, 0xFF, 0xD8, 0xFF, 0xD9, 0, 0, 0xFF, 0xDA, 0, 4, 1, 2});
    c.put(13 * S + 5, kEoi);
    EXPECT_EQ(c.run(), (Finds{{2 * S, S + 10 + 22 + 5}, {8 * S, S + 3 + 7}, {12 * S, S + 7}}));
}

TEST(CarvingEngine, StopsAndSmallVolumes) {
    WorkControl stop;
    stop.requestStop();
    Carve c(3 * S + 100);  // smaller than a chunk, with a tail short of a sector
    c.add(kJpg);
    c.put(S, kSoi);
    EXPECT_EQ(c.run(1 << 20, &stop), Finds{});  // stopped before the first chunk
    EXPECT_TRUE(c.engine.stopped());
    Carve d(3 * S + 100);
    d.add(kJpg);
    d.put(S, kSoi);
    d.put(3 * S, kSoi);  // its signature lies in the short tail
    EXPECT_EQ(d.run(), (Finds{{3 * S, 100}, {S, 2 * S}}));
}
