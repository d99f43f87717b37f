#pragma once
// Small ext volumes built byte by byte, for the cases no tool makes: one group, the
// superblock at 1024, the descriptors in the block after it, the inode table at block 4,
// the root folder (inode 2) in the block the test gives it.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace quenlow::test {

class ExtImage {
public:
    static constexpr uint32_t kInodesPerGroup = 32;
    static constexpr uint32_t kInodeSize = 128;
    static constexpr uint64_t kTableBlock = 4;

    ExtImage(uint32_t blockSize, uint32_t blocks, bool fileTypes = true) : bs(blockSize), bytes(size_t{blockSize} * blocks) {
        put32(1024 + 0, kInodesPerGroup);
        put32(1024 + 4, blocks);
        put32(1024 + 20, blockSize == 1024 ? 1 : 0);
        uint32_t log = 0;
        while ((1024u << log) < blockSize) ++log;
        put32(1024 + 24, log);
        put32(1024 + 32, 8 * blockSize);
        put32(1024 + 40, kInodesPerGroup);
        put16(1024 + 56, 0xEF53);
        put32(1024 + 76, 1);
        put16(1024 + 88, kInodeSize);
        put32(1024 + 96, fileTypes ? 0x2 : 0);
        put32(descriptorAt() + 8, kTableBlock);
    }
    size_t descriptorAt() const { return (1024 / bs + 1) * bs; }
    size_t inodeAt(uint32_t number) const { return kTableBlock * bs + (number - 1) * kInodeSize; }
    size_t blockAt(uint64_t block) const { return block * bs; }

    // An inode whose block map starts with `direct` (at most 12 blocks).
    void inode(uint32_t number, uint16_t mode, uint64_t size, std::vector<uint32_t> direct = {}, uint32_t mtime = 0) {
        size_t at = inodeAt(number);
        put16(at, mode);
        put32(at + 4, static_cast<uint32_t>(size));
        put32(at + 108, static_cast<uint32_t>(size >> 32));
        put16(at + 26, 1);
        put32(at + 16, mtime);
        for (size_t i = 0; i < direct.size(); ++i) put32(at + 40 + 4 * i, direct[i]);
    }
    // Makes the inode's block area an extent node: header then 12-byte entries.
    void extentRoot(uint32_t number, uint16_t depth, const std::vector<std::vector<uint32_t>>& entries) {
        size_t at = inodeAt(number);
        put32(at + 32, 0x80000);
        extentNode(at + 40, 4, depth, entries);
    }
    // entries: leaf {logical, length, startLo, startHi} or index {logical, childLo, childHi}.
    void extentNode(size_t at, uint16_t max, uint16_t depth, const std::vector<std::vector<uint32_t>>& entries) {
        put16(at, 0xF30A);
        put16(at + 2, static_cast<uint16_t>(entries.size()));
        put16(at + 4, max);
        put16(at + 6, depth);
        for (size_t i = 0; i < entries.size(); ++i) {
            size_t e = at + 12 + 12 * i;
            const auto& v = entries[i];
            put32(e, v[0]);
            if (depth == 0) {
                put16(e + 4, static_cast<uint16_t>(v[1]));
                put16(e + 6, static_cast<uint16_t>(v.size() > 3 ? v[3] : 0));
                put32(e + 8, v[2]);
            } else {
                put32(e + 4, v[1]);
                put16(e + 8, static_cast<uint16_t>(v.size() > 2 ? v[2] : 0));
            }
        }
    }
    struct Dirent {
        uint32_t inode;
        std::string name;
        uint8_t type = 0;
        uint16_t recLen = 0;  // 0: the real size (the last entry takes the rest of the block)
    };
    void dirBlock(uint64_t block, const std::vector<Dirent>& entries) {
        size_t at = blockAt(block), end = at + bs;
        for (size_t i = 0; i < entries.size(); ++i) {
            const Dirent& d = entries[i];
            uint16_t real = static_cast<uint16_t>((8 + d.name.size() + 3) & ~size_t{3});
            uint16_t rec = d.recLen != 0 ? d.recLen : i + 1 == entries.size() ? static_cast<uint16_t>(end - at) : real;
            put32(at, d.inode);
            put16(at + 4, rec);
            bytes[at + 6] = static_cast<uint8_t>(d.name.size());
            bytes[at + 7] = d.type;
            std::memcpy(bytes.data() + at + 8, d.name.data(), d.name.size());
            at += d.recLen != 0 && d.recLen < real + 4 ? real : rec;
        }
    }
    void put16(size_t at, uint16_t v) { bytes[at] = v & 0xFF, bytes[at + 1] = v >> 8; }
    void put32(size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
    }

    uint32_t bs;
    std::vector<unsigned char> bytes;
};

}  // namespace quenlow::test
