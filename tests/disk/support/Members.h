#pragma once
// Member images for the RAID tests: every sector says which member and member sector it is.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "disk/Feedback.h"
#include "support/RecordingFeedback.h"

namespace quenlow::test {

// `sectors` sectors; sector s starts with the member number and s (64-bit, host order), and
// is filled after that with a byte derived from both.
inline std::vector<unsigned char> taggedMember(int64_t member, int64_t sectors) {
    std::vector<unsigned char> data(static_cast<size_t>(sectors) * 512);
    for (int64_t s = 0; s < sectors; ++s) {
        unsigned char* p = data.data() + s * 512;
        std::memcpy(p, &member, 8);
        std::memcpy(p + 8, &s, 8);
        std::memset(p + 16, static_cast<int>((member * 31 + s) & 0xFF), 496);
    }
    return data;
}

struct Tag {
    int64_t member = -1;
    int64_t sector = -1;
};

inline Tag tagOf(const unsigned char* sector) {
    Tag t;
    std::memcpy(&t.member, sector, 8);
    std::memcpy(&t.sector, sector + 8, 8);
    return t;
}


}  // namespace quenlow::test
