// The settings record on bytes, the dialog's field rules, and the loader's refusals.

#include <gtest/gtest.h>

#include <fstream>

#include "raw/SettingsFile.h"
#include "raw/myJpg.h"
#include "support/RecordingFeedback.h"
#include "support/TempFolder.h"

using namespace quenlow;
using namespace quenlow::raw;

namespace {

SignatureFields png() {
    SignatureFields f;
    f.extension = "png";
    f.startSignature = "0x89,0x50,0x4E,0x47";
    f.category = "Pictures";
    return f;
}

std::vector<uint8_t> records(std::initializer_list<SignatureRecord> list) {
    std::vector<uint8_t> out;
    for (const SignatureRecord& r : list) {
        auto b = r.encode();
        out.insert(out.end(), b.begin(), b.end());
    }
    return out;
}

SignatureRecord numbered(uint8_t n) {
    SignatureRecord r = *encodeFields(png(), n).record;
    return r;
}

}  // namespace

TEST(SignatureRecord, BytesAtTheirOffsets) {
    SignatureFields f = png();
    f.extension = "jpeg";
    f.endSignature = "ff,d9";
    f.sizeOffset = "2";
    f.sizeBytes = "4";
    f.headerSize = "8";
    f.approximateSize = "-5";
    f.skipSize = "4096";
    SignatureRecord r = *encodeFields(f, 7).record;
    auto b = r.encode();
    const std::vector<uint8_t> expect = {'j', 0, 'p', 0, 'e', 0, 'g', 0, 0, 0, 4, 0x89, 0x50, 0x4E, 0x47};
    EXPECT_EQ(std::vector<uint8_t>(b.begin(), b.begin() + 15), expect);
    EXPECT_EQ(b[21], 0xFF);
    EXPECT_EQ(b[22], 0xD9);
    EXPECT_EQ(b[31], 4);
    EXPECT_EQ(b[32], 2);
    EXPECT_EQ(b[33], 7);
    EXPECT_EQ(b[34], 2);
    EXPECT_EQ(b[38], 4);
    EXPECT_EQ(b[42], 8);
    for (int i = 51; i < 59; ++i) EXPECT_EQ(b[i], i == 51 ? 0xFB : 0xFF);  // -5, sign-widened
    EXPECT_EQ(b[59] | b[60] << 8, 4096);
    EXPECT_EQ(b[67], 'P');
    EXPECT_EQ(b[169], 0);
    EXPECT_EQ(SignatureRecord::parse(b).encode(), b);
}

TEST(SignatureRecord, DialogFieldRules) {
    struct Case {
        std::string ext, start, sizeOffset;
        std::string message;  // empty: accepted
        std::vector<uint8_t> bytes;
        int extLength;
        int32_t storedOffset;
    };
    const std::vector<uint8_t> pngBytes = {0x89, 0x50, 0x4E, 0x47};
    for (const Case& c : {Case{"png", "0x89,0x50,0x4E,0x47", "", "", pngBytes, 3, -1},
                          Case{"png", "89,50,4e,47", "0", "", pngBytes, 3, -1},
                          Case{"png", " 89, ,50,,0X4E,47,", "abc", "", pngBytes, 3, -1},
                          Case{"jpeg", "1FF,D8", "-4", "", {0xFF, 0xD8}, 4, -4},
                          Case{"mpeg4", "00,00", "12", "", {0, 0}, 5, 12},
                          Case{"", "00", "", kExtensionEmptyText, {}, 0, 0},
                          Case{"x", " , ", "", kSignatureEmptyText, {}, 0, 0},
                          Case{"x", "0xZZ", "", "'0xZZ' is not a hexadecimal byte..", {}, 0, 0},
                          Case{"x", "1,2,3,4,5,6,7,8,9,10,11", "", "a signature holds at most 10 bytes..", {}, 0, 0}}) {
        SignatureFields f;
        f.extension = c.ext;
        f.startSignature = c.start;
        f.sizeOffset = c.sizeOffset;
        EncodedFields e = encodeFields(f, 0);
        SCOPED_TRACE(c.start);
        EXPECT_EQ(e.message, c.message);
        if (!c.message.empty()) continue;
        ASSERT_TRUE(e.record);
        EXPECT_EQ(std::vector<uint8_t>(e.record->start.begin(), e.record->start.begin() + e.record->startLength), c.bytes);
        EXPECT_EQ(e.record->extensionLength, c.extLength);
        EXPECT_EQ(e.record->extension.size(), std::min(4, c.extLength));
        EXPECT_EQ(e.record->sizeOffset, c.storedOffset);
    }
}

TEST(SettingsFile, RefusesWhatCannotBeLoaded) {
    SignatureRecord wide = numbered(0);
    wide.sizeBytes = 9;
    SignatureRecord beyond = numbered(0);
    beyond.sizeOffset = 510;
    beyond.sizeBytes = 4;
    SignatureRecord longSig = numbered(1);
    longSig.startLength = 11;
    std::vector<uint8_t> oversized((6134 + 1) * kRecordBytes, 0);
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        size_t loaded;  // records; 0: refused
    };
    std::vector<uint8_t> cut = records({numbered(0)});
    cut.pop_back();
    std::vector<uint8_t> twoAndHalf = records({numbered(0), numbered(1)});
    twoAndHalf.resize(twoAndHalf.size() + 80);
    for (const Case& c : {Case{"170 bytes", cut, 0}, Case{"empty", {}, 0},
                          Case{"two and a half records", twoAndHalf, 2},
                          Case{"fewer by its number", records({numbered(0), numbered(0)}), 1},
                          Case{"a lying record number", records({numbered(0), numbered(5)}), 0},
                          Case{"size field wider than 8", records({wide}), 0},
                          Case{"size field beyond the first sector", records({beyond}), 0},
                          Case{"signature above 10 bytes", records({numbered(0), longSig}), 0},
                          Case{"oversized", oversized, 0}}) {
        SCOPED_TRACE(c.what);
        LoadedRecords l = parseSettings(c.bytes, false);
        EXPECT_EQ(l.records.size(), c.loaded);
        EXPECT_EQ(l.refusal.rfind(kNotValidText, 0) == 0, c.loaded == 0) << l.refusal;
    }
}

TEST(SettingsFile, UserTypesAreNumberedAfterTheDefaults) {
    test::TempFolder dir;
    const std::string defaults = (dir / kDefaultSettingsName).string(), user = (dir / "mine.txt").string();
    for (int i = 0; i < 2; ++i) EXPECT_EQ(appendSignatureRecord(defaults, png()), kRecordSavedText);
    std::ofstream(dir / kDefaultFinishName) << "-\nzip-end\n";
    for (int i = 0; i < 3; ++i) EXPECT_EQ(appendSignatureRecord(user, png()), kRecordSavedText);
    myJpg engine;
    test::RecordingFeedback feedback;
    ASSERT_TRUE(loadSettingsFile(defaults, true, engine, feedback));
    ASSERT_TRUE(loadSettingsFile(user, false, engine, feedback));
    ASSERT_EQ(engine.typeCount(), 5u);
    for (int t = 0; t < 5; ++t) EXPECT_EQ(engine.typeRecords()[t].typeNumber, t);
    EXPECT_EQ(engine.entries()[1].finish, Finish::ZipEndRecord);
    EXPECT_EQ(engine.entries()[4].finish, Finish::None);  // a user's type keeps the record's fields

    EXPECT_FALSE(loadSettingsFile((dir / "none").string(), true, engine, feedback));
    EXPECT_TRUE(feedback.messages.empty());  // the default file is passed over silently
    EXPECT_FALSE(loadSettingsFile((dir / "none").string(), false, engine, feedback));
    EXPECT_EQ(feedback.messages.at(0).rfind(kCannotOpenText, 0), 0u);
}
