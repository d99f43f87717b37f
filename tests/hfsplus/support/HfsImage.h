#pragma once
// Small HFS+ volumes built in memory for the tests and the fuzz target: the volume header,
// B-tree nodes (header and leaf nodes with their offset tables), catalog folder and file
// records, extents-overflow records, all big-endian, laid along the extents given.

#include <cstdint>
#include <string>
#include <vector>

namespace quenlow::test {

class HfsImage {
public:
    using Bytes = std::vector<uint8_t>;
    struct Extent {
        uint32_t start = 0, count = 0;
    };
    static constexpr uint32_t kEpoch = 2082844800u;  // 1970-01-01 in seconds since 1904

    HfsImage(uint32_t blockSize, uint32_t blocks) : blockSize(blockSize), bytes(size_t{blockSize} * blocks, 0) {
        bytes[1024] = 'H', bytes[1025] = '+', put16(bytes, 1026, 4);
        put32(bytes, 1024 + 40, blockSize), put32(bytes, 1024 + 44, blocks);
    }

    // A folder or file record with its key; every date is `date` except the content
    // modification date `modified` (when given).
    static Bytes folder(uint32_t parent, const std::u16string& name, uint32_t id, uint32_t date = kEpoch) {
        Bytes r = key(parent, name);
        size_t at = r.size();
        r.resize(at + 88, 0);
        put16(r, at, 1), put32(r, at + 8, id), dates(r, at, date, date), put16(r, at + 42, 040755);
        return r;
    }
    static Bytes file(uint32_t parent, const std::u16string& name, uint32_t id, uint64_t size,
                      const std::vector<Extent>& extents, uint32_t date = kEpoch, uint32_t modified = 0) {
        Bytes r = key(parent, name);
        size_t at = r.size();
        r.resize(at + 248, 0);
        put16(r, at, 2), put32(r, at + 8, id), dates(r, at, date, modified ? modified : date), put16(r, at + 42, 0100644);
        uint32_t blocks = 0;
        for (const Extent& e : extents) blocks += e.count;
        put32(r, at + 88, static_cast<uint32_t>(size >> 32)), put32(r, at + 92, static_cast<uint32_t>(size));
        put32(r, at + 100, blocks);
        putExtents(r, at + 104, extents);
        return r;
    }
    static Bytes overflow(uint8_t forkType, uint32_t fileId, uint32_t startBlock, const std::vector<Extent>& extents) {
        Bytes r(76, 0);
        put16(r, 0, 10), r[2] = forkType, put32(r, 4, fileId), put32(r, 8, startBlock);
        putExtents(r, 12, extents);
        return r;
    }
    // A leaf node (kind -1, height 1) of `nodeSize` bytes holding `records`.
    static Bytes leaf(uint16_t nodeSize, const std::vector<Bytes>& records) {
        Bytes n(nodeSize, 0);
        n[8] = 0xFF, n[9] = 1, put16(n, 10, static_cast<uint16_t>(records.size()));
        size_t at = 14;
        for (size_t i = 0; i < records.size(); ++i) {
            if (at + records[i].size() + 2 * (records.size() + 1) > nodeSize) break;  // the node is full
            put16(n, nodeSize - 2 * (i + 1), static_cast<uint16_t>(at));
            std::copy(records[i].begin(), records[i].end(), n.begin() + static_cast<long>(at));
            at += records[i].size();
        }
        put16(n, nodeSize - 2 * (records.size() + 1), static_cast<uint16_t>(at));  // free space
        return n;
    }
    static Bytes header(uint16_t nodeSize, uint32_t totalNodes) {
        Bytes n(nodeSize, 0);
        n[8] = 1, put16(n, 10, 3), put16(n, 14, 1), put32(n, 16, 1), put32(n, 24, 1), put32(n, 28, totalNodes - 1);
        put16(n, 32, nodeSize), put32(n, 36, totalNodes), put16(n, nodeSize - 2, 14);
        return n;
    }
    // Writes `nodes` along `extents` and their fork data into the volume header: the
    // extents file at 192, the catalog at 272. Extents past the eighth are left to the caller.
    void tree(size_t forkAt, const std::vector<Bytes>& nodes, const std::vector<Extent>& extents) {
        Bytes data;
        for (const Bytes& n : nodes) data.insert(data.end(), n.begin(), n.end());
        size_t done = 0;
        uint32_t blocks = 0;
        for (const Extent& e : extents) {
            for (uint32_t b = 0; b < e.count && done < data.size(); ++b, done += blockSize)
                std::copy(data.begin() + static_cast<long>(done),
                          data.begin() + static_cast<long>(std::min(done + blockSize, data.size())),
                          bytes.begin() + static_cast<long>(size_t{e.start + b} * blockSize));
            blocks += e.count;
        }
        size_t at = 1024 + forkAt;
        put32(bytes, at + 4, static_cast<uint32_t>(size_t{blocks} * blockSize)), put32(bytes, at + 12, blocks);
        putExtents(bytes, at + 16, std::vector<Extent>(extents.begin(), extents.begin() + std::min<size_t>(8, extents.size())));
    }
    void fill(uint32_t block, uint32_t count, uint8_t seed) {
        for (size_t i = 0; i < size_t{count} * blockSize; ++i)
            bytes[size_t{block} * blockSize + i] = static_cast<uint8_t>(seed + i * 13 + i / 251);
    }
    std::string data(uint32_t block, size_t length) const {
        return std::string(bytes.begin() + static_cast<long>(size_t{block} * blockSize),
                           bytes.begin() + static_cast<long>(size_t{block} * blockSize + length));
    }

    static void put16(Bytes& b, size_t at, uint16_t v) { b[at] = static_cast<uint8_t>(v >> 8), b[at + 1] = v & 0xFF; }
    static void put32(Bytes& b, size_t at, uint32_t v) { put16(b, at, v >> 16), put16(b, at + 2, v & 0xFFFF); }

    uint32_t blockSize;
    Bytes bytes;

private:
    static Bytes key(uint32_t parent, const std::u16string& name) {
        Bytes k(8 + 2 * name.size(), 0);
        put16(k, 0, static_cast<uint16_t>(6 + 2 * name.size())), put32(k, 2, parent), put16(k, 6, static_cast<uint16_t>(name.size()));
        for (size_t i = 0; i < name.size(); ++i) put16(k, 8 + 2 * i, name[i]);
        return k;
    }
    static void dates(Bytes& r, size_t at, uint32_t date, uint32_t modified) {
        put32(r, at + 12, date), put32(r, at + 16, modified), put32(r, at + 20, date), put32(r, at + 24, date);
    }
    static void putExtents(Bytes& b, size_t at, const std::vector<Extent>& extents) {
        for (size_t i = 0; i < extents.size() && i < 8; ++i) put32(b, at + 8 * i, extents[i].start), put32(b, at + 8 * i + 4, extents[i].count);
    }
};

}  // namespace quenlow::test
