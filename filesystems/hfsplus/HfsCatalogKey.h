#pragma once
// The key of a catalog record: its length, the parent folder's ID and the name (UTF-16
// big-endian, at most 255 units).

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace quenlow::fs {

struct HfsCatalogKey {
    struct Offset {
        static constexpr size_t kKeyLength = 0;   // 16-bit, not counting itself
        static constexpr size_t kParentId = 2;    // 32-bit
        static constexpr size_t kNameLength = 6;  // 16-bit, in UTF-16 units
        static constexpr size_t kName = 8;
    };
    static constexpr uint16_t kMaxName = 255;

    uint16_t keyLength = 0;
    uint32_t parentId = 0;
    uint16_t nameLength = 0;
    std::string name;     // UTF-8; empty unless usable()
    bool inside = false;  // the key and its name lie inside the bytes and the name inside the key

    // The key at `at` of `node`.
    static HfsCatalogKey parse(std::span<const uint8_t> node, size_t at);

    // A key whose name (1-255 units) can be taken.
    bool usable() const { return inside && nameLength >= 1 && nameLength <= kMaxName; }
    // Where the record after the key starts.
    size_t recordAt(size_t at) const { return at + 2 + keyLength; }
};

}  // namespace quenlow::fs
