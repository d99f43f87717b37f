#pragma once
// Names for the output tree. Names come from the disk and are untrusted: they are turned
// into one safe path component each, and the children of one folder get distinct names so
// that no saved file replaces another.

#include <cstddef>
#include <set>
#include <string>

namespace quenlow::output {

// The longest name, in bytes, that a Linux file system takes.
inline constexpr size_t kMaxNameBytes = 255;

// One safe path component for `name`, always the same for the same input:
// - '/', NUL, other control characters (below 0x20, and 0x7F) become '_';
// - "." becomes "_" and ".." becomes "__";
// - the empty name becomes "unnamed";
// - a name longer than kMaxNameBytes is cut at a character boundary, keeping a short
//   extension (the part from the last '.', up to 32 bytes).
std::string safeName(const std::string& name);

// "stem (tag).ext": `tag` goes before the extension of `name` (the part from the last '.',
// when that dot is neither the first nor the last character and the extension is at most
// 32 bytes), and the stem is cut so that the result keeps within kMaxNameBytes.
std::string taggedName(const std::string& name, const std::string& tag);

// Hands out the names of one output folder's children. A name is taken by the first claim;
// a later claim of a taken name (or of a name that already exists in the folder on disk)
// gets "name (2).ext", "name (3).ext", ... and, for a deleted entry,
// "name (deleted 1).ext", "name (deleted 2).ext", ...
class NameClaims {
public:
    // `existsOnDisk` is asked whether the folder already holds something of that name.
    template <class ExistsOnDisk>
    std::string claim(const std::string& safe, bool deleted, ExistsOnDisk existsOnDisk) {
        auto free = [&](const std::string& n) { return taken_.count(n) == 0 && !existsOnDisk(n); };
        std::string candidate = safe;
        for (unsigned n = deleted ? 1 : 2; !free(candidate); ++n)
            candidate = taggedName(safe, deleted ? "deleted " + std::to_string(n) : std::to_string(n));
        taken_.insert(candidate);
        return candidate;
    }
    void reserve(const std::string& name) { taken_.insert(name); }
    bool taken(const std::string& name) const { return taken_.count(name) != 0; }

private:
    std::set<std::string> taken_;
};

}  // namespace quenlow::output
