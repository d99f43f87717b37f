#include <gtest/gtest.h>

#include "filesystems/ntfs/NtfsRecord.h"
#include "ntfs/support/NtfsImage.h"

using namespace quenlow::fs;
using quenlow::test::encodeRuns;
using quenlow::test::RecordBuilder;

TEST(NtfsRecord, FixupsRestoreSectorEndsAndStayInsideTheRecord) {
    std::u16string longName(200, u'n');  // crosses byte 510
    std::vector<uint8_t> bytes = RecordBuilder().fileName(5, longName).finish();
    NtfsRecord r(bytes.data(), bytes.size());
    NtfsFileName fn;
    ASSERT_TRUE(r.fileName(r.attributes()[0], fn));
    EXPECT_EQ(fn.name, std::string(200, 'n'));
    // An update sequence offset at the record's end is not followed past it.
    bytes[4] = 0xFE;
    bytes[5] = 0x03;
    NtfsRecord lying(bytes.data(), bytes.size());
    EXPECT_EQ(lying.fixed()[510], bytes[510]);
}

TEST(NtfsRecord, AttributeWalkEndsAtMarkerZeroLengthOrRecordEnd) {
    std::vector<uint8_t> bytes = RecordBuilder().fileName(5, u"a").fileName(5, u"b").finish();
    NtfsRecord r(bytes.data(), bytes.size());
    ASSERT_EQ(r.attributes().size(), 3u);
    EXPECT_EQ(r.attributes()[2].type, kAttrEnd);
    bytes[56 + 4] = 0;
    bytes[56 + 5] = 0;  // first attribute of length 0
    NtfsRecord zero(bytes.data(), bytes.size());
    EXPECT_EQ(zero.attributes().size(), 1u);
    std::vector<uint8_t> junk(1024, 0x01);  // every length 0x0101
    NtfsRecord j(junk.data(), junk.size());
    EXPECT_LE(j.attributes().size(), 5u);
}

TEST(NtfsRecord, RunListsDecodeSparseNegativeAndCutAtTheVcnRange) {
    std::vector<uint8_t> list = encodeRuns({{100, 4}, {-1, 3}, {40, 2}, {1000000, 5}});
    std::vector<NtfsRun> runs = NtfsRecord::decodeRunList(list.data(), list.size(), 14);
    ASSERT_EQ(runs.size(), 4u);
    EXPECT_EQ(runs[0].cluster, 100);
    EXPECT_TRUE(runs[1].sparse);
    EXPECT_EQ(runs[2].cluster, 40);  // a negative offset from 100
    EXPECT_EQ(runs[3].cluster, 1000000);
    // The final run no longer fits 13 clusters: it is left out.
    EXPECT_EQ(NtfsRecord::decodeRunList(list.data(), list.size(), 13).size(), 3u);
    // A run cut off by the end of the bytes ends the list.
    EXPECT_EQ(NtfsRecord::decodeRunList(list.data(), 4, 100).size(), 1u);
    // An 8-byte field is read whole; a longer field is malformed.
    std::vector<uint8_t> wide = {0x19, 1, 0, 0, 0, 0, 0, 0, 0, 0x80, 0};
    EXPECT_TRUE(NtfsRecord::decodeRunList(wide.data(), wide.size(), 100).empty());
}

TEST(NtfsRecord, DataSummaryPicksTheUnnamedStreamAndFlags) {
    std::vector<uint8_t> bytes = RecordBuilder()
                                     .residentData({1, 2, 3}, 0, u"ads")
                                     .residentData(std::vector<uint8_t>(100, 7))
                                     .finish();
    NtfsRecord r(bytes.data(), bytes.size());
    NtfsDataSummary d = r.dataSummary();
    EXPECT_TRUE(d.present);
    EXPECT_EQ(d.residency, 'R');
    EXPECT_EQ(d.contentLength, 100u);
    std::vector<uint8_t> c = RecordBuilder().nonResidentData({{10, 16}}, 0, 15, 5000, 0x8001, 4).finish();
    NtfsRecord cr(c.data(), c.size());
    EXPECT_TRUE(cr.dataSummary().compressed());  // compressed and sparse
    std::vector<uint8_t> e = RecordBuilder().nonResidentData({{10, 2}}, 0, 1, 5000, 0x4000).finish();
    NtfsRecord er(e.data(), e.size());
    EXPECT_FALSE(er.dataSummary().compressed());
    EXPECT_TRUE(er.dataSummary().encrypted());
}

TEST(NtfsRecord, AttributeListEntriesAreBounded) {
    std::vector<uint8_t> entries(32 * 3, 0);
    for (int i = 0; i < 3; ++i) {
        entries[i * 32] = 0x80;
        entries[i * 32 + 4] = 32;
        entries[i * 32 + 16] = static_cast<uint8_t>(i + 20);
    }
    EXPECT_EQ(NtfsRecord::listEntries(entries.data(), entries.size()).size(), 3u);
    EXPECT_EQ(NtfsRecord::listEntries(entries.data(), 70).size(), 2u);
    entries[32 + 4] = 0;  // an entry of length 0 ends the walk
    EXPECT_EQ(NtfsRecord::listEntries(entries.data(), entries.size()).size(), 1u);
}
