#pragma once
// Small FAT16 and FAT32 volumes built in memory for the tests and the fuzz target: a boot
// sector, one FAT, (FAT16) a fixed root region, and clusters of 512 bytes.

#include <cstdint>
#include <string>
#include <vector>

namespace quenlow::test {

class FatImage {
public:
    // `clusters` data clusters; FAT16 gets a root region of `rootEntries` entries.
    FatImage(int bits, uint32_t clusters, uint32_t rootEntries = 64);

    static constexpr uint32_t kClusterBytes = 512;
    int bits;
    std::vector<uint8_t> bytes;
    uint64_t fatOffset = 0, rootOffset = 0, dataOffset = 0;

    void setFat(uint32_t cluster, uint32_t value);
    // Chains `clusters` in order, the last one marked as the end.
    void chain(const std::vector<uint32_t>& clusters);
    uint8_t* cluster(uint32_t c) { return bytes.data() + dataOffset + (uint64_t{c} - 2) * kClusterBytes; }
    // The root folder's entry `index` (FAT32: in cluster 2).
    uint8_t* rootEntry(uint32_t index);
    void setOem(const char* eight);

    // Writes a short entry at `at`: `name11` padded 8.3 text.
    static void entry(uint8_t* at, const std::string& name11, uint8_t attributes, uint32_t firstCluster,
                      uint32_t size, uint16_t date = 0x5021, uint16_t time = 0x60A0);
    // Writes the long-name pieces of `name` before a short entry (last piece first, as on
    // disk) at `at`; returns the number of pieces (entries) written.
    static int longName(uint8_t* at, const std::u16string& name);
    // A folder's "." and ".." entries.
    static void dots(uint8_t* at, uint32_t self, uint32_t parent);
};

}  // namespace quenlow::test
