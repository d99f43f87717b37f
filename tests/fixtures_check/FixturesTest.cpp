// The unpacked fixture archives: every file the tests of the parsers rely on is there,
// the manifests are well-formed, and the images agree with what their manifests and
// layouts say about them.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "support/ArrayBuilder.h"
#include "support/Sha256.h"

namespace fs = std::filesystem;
using nlohmann::json;
using quenlow::test::ArrayGeometry;
using quenlow::test::Sha256;

namespace {

const fs::path kFixtures = QUENLOW_FIXTURE_DIR;
const std::string kEmptySha = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

json readJson(const fs::path& p) {
    std::ifstream in(p);
    if (!in) throw std::runtime_error("cannot open " + p.string());
    return json::parse(in);
}

std::vector<unsigned char> readBytes(const fs::path& p, uint64_t offset, size_t n) {
    std::ifstream in(p, std::ios::binary);
    std::vector<unsigned char> out(n);
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(n));
    out.resize(static_cast<size_t>(in.gcount()));
    return out;
}

std::string text(const std::vector<unsigned char>& b, size_t at, size_t n) {
    if (at + n > b.size()) return {};
    return std::string(reinterpret_cast<const char*>(b.data() + at), n);
}

uint32_t le32(const std::vector<unsigned char>& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
           uint32_t(b[at + 3]) << 24;
}

uint64_t be64(const std::vector<unsigned char>& b, size_t at) {
    uint64_t v = 0;
    for (size_t i = 0; i < 8; ++i) v = v << 8 | b[at + i];
    return v;
}

const json* find(const json& list, const std::string& path) {
    for (const auto& e : list)
        if (e.at("path").get<std::string>() == path) return &e;
    return nullptr;
}

// The shape every manifest has: unique paths, every parent folder listed, files with a digest, times as seconds and nanoseconds.
void checkManifestShape(const json& m) {
    ASSERT_TRUE(m.contains("entries"));
    ASSERT_TRUE(m.contains("deleted"));
    std::set<std::string> paths, folders;
    for (const auto& e : m["entries"]) {
        auto path = e.at("path").get<std::string>();
        EXPECT_TRUE(paths.insert(path).second) << "duplicate " << path;
        EXPECT_FALSE(path.empty() || path.front() == '/' || path.back() == '/') << path;
        if (e.at("is_folder").get<bool>()) {
            folders.insert(path);
        } else if (!e.contains("symlink") && !e.contains("special")) {
            EXPECT_EQ(e.at("sha256").get<std::string>().size(), 64u) << path;
        }
        EXPECT_GE(e.at("size").get<int64_t>(), 0);
        EXPECT_TRUE(e.at("mtime_sec").is_number_integer()) << path;
        EXPECT_LT(e.at("mtime_nsec").get<int64_t>(), 1000000000) << path;
    }
    for (const auto& p : paths) {
        auto slash = p.rfind('/');
        if (slash != std::string::npos) {
            EXPECT_TRUE(folders.count(p.substr(0, slash))) << "no parent folder for " << p;
        }
    }
    for (const auto& e : m["deleted"]) {
        EXPECT_FALSE(e.at("path").get<std::string>().empty());
        EXPECT_TRUE(e.contains("size"));
    }
}

}  // namespace

TEST(NtfsFixture, ImageAndManifestDescribeTheSameVolume) {
    const fs::path dir = kFixtures / "ntfs";
    for (const char* f : {"ntfs.img", "manifest.json", "fls.txt", "fsstat.txt",
                          "istat-frag-big.txt", "ntfsinfo-frag-big.txt"})
        ASSERT_TRUE(fs::exists(dir / f)) << f;
    auto boot = readBytes(dir / "ntfs.img", 0, 512);
    ASSERT_EQ(boot.size(), 512u);
    EXPECT_EQ(text(boot, 3, 8), "NTFS    ");
    EXPECT_EQ(boot[11] | boot[12] << 8, 512);
    EXPECT_EQ(boot[13], 8);  // 4096-byte clusters
    EXPECT_EQ(fs::file_size(dir / "ntfs.img"), 24u << 20);

    json m = readJson(dir / "manifest.json");
    checkManifestShape(m);
    const json& live = m["entries"];
    struct Want { const char* path; int64_t size; };
    for (Want w : {Want{"hello.txt", 100}, {"five_k.txt", 5000}, {"empty.txt", 0},
                   {"compressed/text.txt", 150000}, {"compressed/holes.txt", 206608},
                   {"sparse/holes.bin", 2 << 20}, {"frag/big.bin", 1638400},
                   {"unicode/😀 smile.txt", 400}, {"unicode/日本語のファイル.txt", 300}}) {
        const json* e = find(live, w.path);
        ASSERT_NE(e, nullptr) << w.path;
        EXPECT_EQ((*e)["size"].get<int64_t>(), w.size) << w.path;
        EXPECT_TRUE(e->contains("inode")) << w.path;
    }
    EXPECT_EQ((*find(live, "empty.txt"))["sha256"], kEmptySha);

    size_t longest = 0, deepest = 0;
    std::set<int64_t> mtimes;
    for (const auto& e : live) {
        auto p = e["path"].get<std::string>();
        auto name = p.substr(p.rfind('/') + 1);
        longest = std::max(longest, name.size());  // ASCII names in long/
        deepest = std::max<size_t>(deepest, static_cast<size_t>(std::count(p.begin(), p.end(), '/')));
        mtimes.insert(e["mtime_sec"].get<int64_t>() * 1000000000 + e["mtime_nsec"].get<int64_t>());
    }
    EXPECT_EQ(longest, 255u);
    EXPECT_GE(deepest, 8u);
    EXPECT_EQ(mtimes.size(), live.size()) << "modification times are not distinct";

    // A deleted file next to a live one of the same name, a deleted folder with its files.
    const json& del = m["deleted"];
    const json* oldSame = find(del, "dup/same.txt");
    const json* newSame = find(live, "dup/same.txt");
    ASSERT_NE(oldSame, nullptr);
    ASSERT_NE(newSame, nullptr);
    EXPECT_NE((*oldSame)["sha256"], (*newSame)["sha256"]);
    EXPECT_NE((*oldSame)["inode"], (*newSame)["inode"]);
    ASSERT_NE(find(del, "deleted_dir"), nullptr);
    EXPECT_TRUE((*find(del, "deleted_dir"))["is_folder"].get<bool>());
    EXPECT_NE(find(del, "deleted_dir/inner/two.txt"), nullptr);
    EXPECT_NE(find(del, "trash/gone.txt"), nullptr);
    EXPECT_NE(find(live, "trash/kept.txt"), nullptr);

    std::ifstream istat(dir / "istat-frag-big.txt");
    std::string all((std::istreambuf_iterator<char>(istat)), std::istreambuf_iterator<char>());
    EXPECT_NE(all.find("$ATTRIBUTE_LIST"), std::string::npos);
}

TEST(NtfsFixture, SmallClusterVolume) {
    const fs::path dir = kFixtures / "ntfs512";
    auto boot = readBytes(dir / "ntfs512.img", 0, 512);
    ASSERT_EQ(boot.size(), 512u);
    EXPECT_EQ(text(boot, 3, 4), "NTFS");
    EXPECT_EQ(boot[13], 1);  // 512-byte clusters
    json m = readJson(dir / "manifest.json");
    checkManifestShape(m);
    EXPECT_EQ((*find(m["entries"], "five_k.txt"))["size"], 5000);
    EXPECT_NE(find(m["deleted"], "folder/gone.txt"), nullptr);
    EXPECT_TRUE(fs::exists(dir / "fls.txt"));
}

namespace {

// The first bytes of a volume as each file system writes them.
void expectFileSystemAt(const fs::path& image, int64_t start, const std::string& fsName) {
    auto v = readBytes(image, static_cast<uint64_t>(start) * 512, 2048);
    ASSERT_EQ(v.size(), 2048u) << fsName;
    if (fsName == "NTFS") {
        EXPECT_EQ(text(v, 3, 8), "NTFS    ");
        EXPECT_EQ(le32(v, 28), static_cast<uint32_t>(start)) << "hidden sectors";
    } else if (fsName == "FAT16") {
        EXPECT_EQ(text(v, 54, 8), "FAT16   ");
        EXPECT_EQ(text(v, 3, 4), "MSDO");
        EXPECT_EQ(le32(v, 28), static_cast<uint32_t>(start)) << "hidden sectors";
    } else if (fsName == "FAT32") {
        EXPECT_EQ(text(v, 82, 8), "FAT32   ");
        EXPECT_EQ(v[22] | v[23] << 8, 0) << "16-bit sectors per FAT";
        EXPECT_EQ(le32(v, 28), static_cast<uint32_t>(start)) << "hidden sectors";
    } else if (fsName == "exFAT") {
        EXPECT_EQ(text(v, 3, 8), "EXFAT   ");
    } else if (fsName == "ext4") {
        EXPECT_EQ(v[1024 + 56] | v[1024 + 57] << 8, 0xEF53);
    } else if (fsName == "HFS+") {
        EXPECT_EQ(text(v, 1024, 2), "H+");
    } else {
        ADD_FAILURE() << "unexpected file system " << fsName;
    }
}

void checkDisk(const fs::path& dir, const std::string& scheme, size_t partitions) {
    SCOPED_TRACE(dir.string());
    ASSERT_TRUE(fs::exists(dir / "mmls.txt"));
    EXPECT_GT(fs::file_size(dir / "mmls.txt"), 100u);
    json layout = readJson(dir / "layout.json");
    EXPECT_EQ(layout["scheme"], scheme);
    const fs::path image = dir / layout["image"].get<std::string>();
    EXPECT_EQ(fs::file_size(image), layout["sectors"].get<uint64_t>() * 512);
    auto head = readBytes(image, 0, 512 * 34);
    ASSERT_EQ(head.size(), 512u * 34);
    EXPECT_EQ(head[510], 0x55);
    EXPECT_EQ(head[511], 0xAA);
    if (scheme == "gpt") {
        EXPECT_EQ(text(head, 512, 8), "EFI PART");
    }
    ASSERT_EQ(layout["partitions"].size(), partitions);
    for (const auto& p : layout["partitions"]) {
        int64_t start = p["start"].get<int64_t>();
        int number = p["number"].get<int>();
        if (scheme == "dos" && number <= 4) {
            size_t e = 446 + 16 * static_cast<size_t>(number - 1);
            EXPECT_EQ(le32(head, e + 8), static_cast<uint32_t>(start));
            EXPECT_EQ(std::stoi(p["type"].get<std::string>(), nullptr, 16), head[e + 4]);
        }
        if (scheme == "gpt") {
            size_t e = 1024 + 128 * static_cast<size_t>(number - 1);
            EXPECT_EQ(le32(head, e + 32), static_cast<uint32_t>(start));
        }
        if (p.contains("manifest")) {
            expectFileSystemAt(image, start, p["fs"].get<std::string>());
            json m = readJson(dir / p["manifest"].get<std::string>());
            checkManifestShape(m);
            const json* five = find(m["entries"], "five_k.txt");
            ASSERT_NE(five, nullptr);
            EXPECT_EQ((*five)["size"], 5000);
        }
    }
}

}  // namespace

TEST(DiskFixtures, MbrDiskWithExtendedPartition) {
    checkDisk(kFixtures / "disks" / "mbr", "dos", 6);
    json layout = readJson(kFixtures / "disks" / "mbr" / "layout.json");
    // Logical volumes sit after their extended boot records, which chain from the first.
    int logical = 0;
    for (const auto& p : layout["partitions"]) {
        if (!p["logical"].get<bool>()) continue;
        ++logical;
        ASSERT_TRUE(p.contains("ebr"));
        auto ebr = readBytes(kFixtures / "disks" / "mbr" / "disk.img", p["ebr"].get<uint64_t>() * 512, 512);
        EXPECT_EQ(p["ebr"].get<uint64_t>() + le32(ebr, 446 + 8), p["start"].get<uint64_t>());
    }
    EXPECT_EQ(logical, 3);
}

TEST(DiskFixtures, GptDiskWithReservedAndHfsPartitions) {
    const fs::path dir = kFixtures / "disks" / "gpt";
    checkDisk(dir, "gpt", 6);
    auto entries = readBytes(dir / "disk.img", 1024, 128);
    std::string name;
    for (size_t i = 56; i + 1 < 128 && entries[i]; i += 2) name += static_cast<char>(entries[i]);
    EXPECT_EQ(name, "Microsoft reserved partition");
}

TEST(Sha256Support, KnownDigests) {
    EXPECT_EQ(Sha256::of("", 0), kEmptySha);
    EXPECT_EQ(Sha256::of("abc", 3), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    std::string million(1000000, 'a');
    Sha256 h;
    for (size_t i = 0; i < million.size(); i += 999) h.update(million.data() + i, std::min<size_t>(999, million.size() - i));
    EXPECT_EQ(h.hex(), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

namespace {

std::vector<unsigned char> readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::vector<unsigned char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The virtual disk the members represent, sector by sector; a missing member's sectors are
// the XOR of the other members' sectors at the same place.
std::vector<unsigned char> joinMembers(const ArrayGeometry& g, const std::vector<std::vector<unsigned char>>& m,
                                       int64_t virtualSectors, int missing = -1) {
    std::vector<unsigned char> out(static_cast<size_t>(virtualSectors) * 512, 0);
    for (int64_t l = 0; l < virtualSectors; ++l) {
        auto p = quenlow::test::placeSector(g, l);
        unsigned char* to = out.data() + l * 512;
        size_t at = static_cast<size_t>(p.memberSector) * 512;
        for (size_t i = 0; i < m.size(); ++i) {
            bool take = static_cast<int>(p.member) == missing ? static_cast<int>(i) != missing : i == p.member;
            if (!take || at + 512 > m[i].size()) continue;
            for (size_t b = 0; b < 512; ++b) to[b] ^= m[i][at + b];
        }
    }
    return out;
}

}  // namespace

TEST(DemoFixture, MembersFormTheRecordedDiskEvenWithoutMemberOne) {
    const fs::path dir = kFixtures / "demo";
    json array = readJson(dir / "array.json");
    EXPECT_EQ(array["level"], 5);
    EXPECT_EQ(array["layout"], 3);
    EXPECT_EQ(array["stripe_sectors"], 128);
    std::vector<std::vector<unsigned char>> members;
    for (const auto& name : array["members"]) members.push_back(readAll(dir / name.get<std::string>()));
    ASSERT_EQ(members.size(), 3u);
    const size_t memberBytes = array["member_sectors"].get<size_t>() * 512;
    for (const auto& m : members) ASSERT_EQ(m.size(), memberBytes);
    // Parity: every byte position XORs to zero over the three members.
    bool parityHolds = true;
    for (size_t b = 0; b < memberBytes && parityHolds; ++b)
        parityHolds = (members[0][b] ^ members[1][b] ^ members[2][b]) == 0;
    EXPECT_TRUE(parityHolds);

    ArrayGeometry g;
    g.level = 5;
    g.layout = 3;
    g.members = 3;
    const int64_t sectors = array["virtual_sectors"].get<int64_t>();
    EXPECT_EQ(sectors * 512, array["virtual_bytes"].get<int64_t>());
    EXPECT_EQ(sectors, 2 * array["member_sectors"].get<int64_t>());
    members[1].clear();  // the demo runs with member 1 missing
    auto disk = joinMembers(g, members, sectors, 1);
    EXPECT_EQ(Sha256::of(disk), array["virtual_sha256"].get<std::string>());
    EXPECT_EQ(disk[510], 0x55);
    EXPECT_EQ(disk[511], 0xAA);

    json m = readJson(dir / "manifest.json");
    checkManifestShape(m);
    const json* archive = find(m["entries"], "Backups/archive.bin");
    ASSERT_NE(archive, nullptr);
    EXPECT_EQ((*archive)["size"], 614400);
    json layout = readJson(dir / "layout.json");
    ASSERT_EQ(layout["partitions"].size(), 7u);
    EXPECT_EQ(layout["partitions"][0]["start"], 2048);
    EXPECT_TRUE(layout["partitions"][2]["logical"].get<bool>());
}

TEST(VhdFixture, VhdMembersHoldTheRawMembers) {
    const fs::path dir = kFixtures / "vhd";
    json array = readJson(dir / "array.json");
    auto source = readAll(dir / array["source"].get<std::string>());
    EXPECT_EQ(Sha256::of(source), array["source_sha256"].get<std::string>());
    std::vector<std::vector<unsigned char>> raw;
    for (const auto& name : array["members_raw"]) raw.push_back(readAll(dir / name.get<std::string>()));
    ArrayGeometry g;
    g.members = 2;
    EXPECT_EQ(joinMembers(g, raw, array["virtual_sectors"].get<int64_t>()), source);

    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const std::string name = array["members_vhd"][static_cast<size_t>(i)].get<std::string>();
        auto vhd = readAll(dir / name);
        ASSERT_GT(vhd.size(), 2048u);
        const auto& member = raw[static_cast<size_t>(i)];
        EXPECT_EQ(text(vhd, 0, 8), "conectix");               // footer copy
        EXPECT_EQ(text(vhd, vhd.size() - 512, 8), "conectix"); // footer
        EXPECT_EQ(be64(vhd, 48), member.size());               // current size
        EXPECT_EQ(text(vhd, 512, 8), "cxsparse");
        const uint32_t entries = static_cast<uint32_t>(be64(vhd, 512 + 28) >> 32);
        ASSERT_EQ(entries, member.size() / (2u << 20));
        const auto& recorded = array["block_allocation"][name];
        for (uint32_t b = 0; b < entries; ++b) {
            uint32_t e = static_cast<uint32_t>(be64(vhd, 1536 + 4 * b) >> 32);
            char hex[9];
            std::snprintf(hex, sizeof hex, "%08x", e);
            EXPECT_EQ(recorded[b].get<std::string>(), hex);
            const size_t from = size_t(b) * (2u << 20);
            if (e == 0xFFFFFFFFu) {
                EXPECT_TRUE(std::all_of(member.begin() + static_cast<std::ptrdiff_t>(from),
                                        member.begin() + static_cast<std::ptrdiff_t>(from + (2u << 20)),
                                        [](unsigned char c) { return c == 0; }));
            } else {
                const size_t at = size_t(e) * 512 + 512;  // after the block's sector bitmap
                ASSERT_LE(at + (2u << 20), vhd.size());
                EXPECT_TRUE(std::equal(member.begin() + static_cast<std::ptrdiff_t>(from),
                                       member.begin() + static_cast<std::ptrdiff_t>(from + (2u << 20)),
                                       vhd.begin() + static_cast<std::ptrdiff_t>(at)));
            }
        }
    }
    auto fixed = readAll(dir / array["member1_fixed_vhd"].get<std::string>());
    ASSERT_EQ(fixed.size(), raw[1].size() + 512);
    EXPECT_TRUE(std::equal(raw[1].begin(), raw[1].end(), fixed.begin()));
    EXPECT_EQ(text(fixed, raw[1].size(), 8), "conectix");
    EXPECT_EQ(be64(fixed, raw[1].size() + 60) >> 32, 2u);  // disk type: fixed
}

TEST(LdmFixture, PrivateHeadersAndStripedData) {
    const fs::path dir = kFixtures / "ldm";
    json array = readJson(dir / "array.json");
    auto source = readAll(dir / array["source"].get<std::string>());
    EXPECT_EQ(Sha256::of(source), array["source_sha256"].get<std::string>());
    ArrayGeometry g;
    g.members = 2;
    g.offsets = {2048, 2048};
    for (const char* variant : {"start1985", "start2048"}) {
        SCOPED_TRACE(variant);
        const uint64_t start = array["variants"][variant]["logical_disk_start"].get<uint64_t>();
        std::vector<std::vector<unsigned char>> m;
        for (const char* name : {"member0.img", "member1.img"}) {
            m.push_back(readAll(dir / variant / name));
            const auto& b = m.back();
            ASSERT_EQ(b.size(), 6144u * 512);
            EXPECT_EQ(text(b, 6 * 512, 8), "PRIVHEAD");
            EXPECT_EQ(be64(b, 6 * 512 + 0x11B), start);
            EXPECT_EQ(be64(b, 6 * 512 + 0x123), 4096u);
            EXPECT_EQ(b[446 + 4], 0x42);
        }
        EXPECT_EQ(joinMembers(g, m, array["virtual_sectors"].get<int64_t>()), source);
    }
}
