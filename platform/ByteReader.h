#pragma once
// Integers and texts at byte offsets of an on-disk structure, little- or big-endian.
//
// The one rule: a field that does not lie entirely inside the bytes reads as 0 (a text as
// not equal), never past the end. `fits` tells whether it lies inside, for a parser that
// must tell a zero field from a missing one.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace quenlow::platform {

class ByteReader {
public:
    constexpr ByteReader() = default;
    constexpr explicit ByteReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}
    ByteReader(const void* data, size_t size) : bytes_(static_cast<const uint8_t*>(data), size) {}

    constexpr size_t size() const { return bytes_.size(); }

    // Whether `count` bytes from `at` on lie inside (without overflow for any `at`).
    constexpr bool fits(size_t at, size_t count) const {
        return at <= bytes_.size() && bytes_.size() - at >= count;
    }

    constexpr uint8_t u8(size_t at) const { return fits(at, 1) ? bytes_[at] : 0; }
    constexpr uint16_t le16(size_t at) const { return static_cast<uint16_t>(le(at, 2)); }
    constexpr uint32_t le32(size_t at) const { return static_cast<uint32_t>(le(at, 4)); }
    constexpr uint64_t le64(size_t at) const { return le(at, 8); }
    constexpr uint16_t be16(size_t at) const { return static_cast<uint16_t>(be(at, 2)); }
    constexpr uint32_t be32(size_t at) const { return static_cast<uint32_t>(be(at, 4)); }
    constexpr uint64_t be64(size_t at) const { return be(at, 8); }

    // Whether the bytes at `at` are exactly `text` (no terminating NUL compared).
    constexpr bool equals(size_t at, std::string_view text) const {
        if (!fits(at, text.size())) return false;
        for (size_t i = 0; i < text.size(); ++i)
            if (bytes_[at + i] != static_cast<uint8_t>(text[i])) return false;
        return true;
    }

private:
    constexpr uint64_t le(size_t at, size_t count) const {
        if (!fits(at, count)) return 0;
        uint64_t v = 0;
        for (size_t i = count; i-- > 0;) v = (v << 8) | bytes_[at + i];
        return v;
    }
    constexpr uint64_t be(size_t at, size_t count) const {
        if (!fits(at, count)) return 0;
        uint64_t v = 0;
        for (size_t i = 0; i < count; ++i) v = (v << 8) | bytes_[at + i];
        return v;
    }

    std::span<const uint8_t> bytes_;
};

}  // namespace quenlow::platform
