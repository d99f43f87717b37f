// The shared data stream and the writer of saved files: runs and holes read back exactly,
// what lies past the source or fails to read is zeros and listed as damaged, and a file is
// only ever complete under its own name.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "filesystems/DataStream.h"
#include "output/DataWriter.h"
#include "platform/OutputFolder.h"
#include "support/MemoryDisk.h"
#include "support/TempFolder.h"

using namespace quenlow;
using disk::ByteRange;
using fs::RunStream;

namespace {

std::vector<uint8_t> numbered(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 7 + i / 251);
    return v;
}

std::string all(fs::DataStream& s) {
    std::string out(static_cast<size_t>(s.size()), '\0');
    EXPECT_EQ(s.read(0, out.data(), out.size()), out.size());
    return out;
}

}  // namespace

TEST(ByteRanges, JoinWhereTheyTouch) {
    struct Case {
        std::vector<ByteRange> add;
        std::vector<ByteRange> expect;
    } cases[] = {
        {{{0, 10}, {10, 5}}, {{0, 15}}},
        {{{20, 5}, {0, 5}, {5, 15}}, {{0, 25}}},
        {{{0, 5}, {10, 5}, {3, 8}}, {{0, 15}}},
        {{{0, 5}, {30, 5}, {10, 0}}, {{0, 5}, {30, 5}}},
    };
    for (const Case& c : cases) {
        std::vector<ByteRange> ranges;
        for (const ByteRange& r : c.add) disk::addRange(ranges, r.offset, r.length);
        EXPECT_EQ(ranges, c.expect);
    }
}

TEST(RunStream, RunsHolesAndTheEndOfTheSource) {
    std::vector<uint8_t> bytes = numbered(16384);
    test::MemoryDisk disk(bytes);
    disk::VolumeView view(disk, 1024);  // the volume starts 1 KiB in: 15 KiB of source
    // 1000 bytes at 512, a 3000-byte hole, 2000 bytes at 8192, then 4000 at 14336 of which
    // only 1024 lie inside the source.
    RunStream s(view, {{1000, 512}, {3000, -1}, {2000, 8192}, {4000, 14336}}, 10000);
    std::string got = all(s);
    ASSERT_EQ(got.size(), 10000u);
    auto at = [&](size_t volumeOffset) { return static_cast<char>(bytes[1024 + volumeOffset]); };
    EXPECT_EQ(got[0], at(512));
    EXPECT_EQ(got[999], at(1511));
    EXPECT_EQ(got.substr(1000, 3000), std::string(3000, '\0'));
    EXPECT_EQ(got[4000], at(8192));
    EXPECT_EQ(got[6000], at(14336));
    EXPECT_EQ(got[7023], at(15359));
    EXPECT_EQ(got.substr(7024), std::string(2976, '\0'));
    // What lies past the source is known damaged before any read.
    RunStream fresh(view, {{1000, 512}, {3000, -1}, {2000, 8192}, {4000, 14336}}, 10000);
    EXPECT_EQ(fresh.damaged(), (std::vector<ByteRange>{{7024, 2976}}));
    EXPECT_EQ(fresh.extentAt(0).hole, false);
    EXPECT_EQ(fresh.extentAt(1000).length, 3000u);
    EXPECT_TRUE(fresh.extentAt(1000).hole);
    EXPECT_EQ(fresh.extentAt(4000).length, 3024u);  // two data runs in a row make one extent
    EXPECT_TRUE(fresh.extentAt(7024).hole);
    // Data beyond the runs is a hole up to the size; reads are cut at the size.
    RunStream shortRuns(view, {{100, 0}}, 300);
    EXPECT_EQ(all(shortRuns).substr(100), std::string(200, '\0'));
    char c;
    EXPECT_EQ(shortRuns.read(300, &c, 1), 0u);
}

TEST(RunStream, FailingSectorsAreZerosAndListed) {
    test::MemoryDisk disk(numbered(8192));
    disk.badSectors = {3, 4};  // bytes 1536..2559
    disk::VolumeView view(disk, 0);
    RunStream s(view, {{4096, 1024}}, 4096);  // volume bytes 1024..5119
    std::string got = all(s);
    EXPECT_EQ(got.substr(512, 1024), std::string(1024, '\0'));
    EXPECT_EQ(s.damaged(), (std::vector<ByteRange>{{512, 1024}}));
    EXPECT_EQ(static_cast<uint8_t>(got[0]), numbered(8192)[1024]);
}

namespace {

// A stream that asks for a stop once it has been read from.
struct StoppingStream : fs::MemoryStream {
    WorkControl* control;
    StoppingStream(std::vector<uint8_t> b, WorkControl* c) : MemoryStream(std::move(b)), control(c) {}
    size_t read(uint64_t offset, void* out, size_t length) override {
        control->requestStop();
        return MemoryStream::read(offset, out, length);
    }
};

fs::EntryData dataOf(std::unique_ptr<fs::DataStream> stream) {
    fs::EntryData d;
    d.size = stream->size();
    d.stream = std::move(stream);
    d.times.modified = platform::UnixTime{1500000000, 123456700};
    return d;
}

}  // namespace

TEST(DataWriter, HolesStayHolesAndTimesAreSet) {
    test::TempFolder out;
    platform::OutputFolder folder;
    ASSERT_TRUE(folder.openRoot(out.str()));
    test::MemoryDisk disk(numbered(4096));
    auto stream = std::make_unique<RunStream>(disk::VolumeView(disk, 0),
                                              std::vector<RunStream::Run>{{512, 0}, {64u << 20, -1}, {512, 512}},
                                              (64u << 20) + 1024);
    fs::EntryData data = dataOf(std::move(stream));
    WorkControl control;
    output::WriteOutcome w = output::writeData(data, folder, "sparse.bin", control);
    ASSERT_TRUE(w.ok) << w.error;
    struct stat st {};
    ASSERT_EQ(::stat((out / "sparse.bin").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, (64 << 20) + 1024);
    EXPECT_LT(st.st_blocks * 512, 1 << 20);  // the hole took no room
    EXPECT_EQ(st.st_mtim.tv_sec, 1500000000);
    EXPECT_EQ(st.st_mtim.tv_nsec, 123456700);
    EXPECT_FALSE(std::filesystem::exists(out / "sparse.bin.partial"));
}

TEST(DataWriter, AStopMidFileLeavesNothingAndAPartialNameIsNeverTaken) {
    test::TempFolder out;
    platform::OutputFolder folder;
    ASSERT_TRUE(folder.openRoot(out.str()));
    { std::ofstream(out / "big.partial") << "someone else's"; }
    WorkControl control;
    fs::EntryData data = dataOf(std::make_unique<StoppingStream>(std::vector<uint8_t>(20u << 20, 1), &control));
    output::WriteOutcome w = output::writeData(data, folder, "big", control);
    EXPECT_FALSE(w.ok);
    EXPECT_TRUE(w.stopped);
    EXPECT_FALSE(std::filesystem::exists(out / "big"));
    EXPECT_FALSE(std::filesystem::exists(out / "big.2.partial"));
    EXPECT_EQ(test::readAll(out / "big.partial"), "someone else's");
    // A name that is taken is never replaced.
    control.clearStop();
    { std::ofstream(out / "taken") << "mine"; }
    fs::EntryData more = dataOf(std::make_unique<fs::MemoryStream>(std::vector<uint8_t>{1, 2, 3}));
    w = output::writeData(more, folder, "taken", control);
    EXPECT_FALSE(w.ok);
    EXPECT_EQ(test::readAll(out / "taken"), "mine");
    EXPECT_EQ(output::partialName(std::string(300, 'x')).size(), 255u);
}
