#pragma once
// Builds RAID members for tests: stripes the bytes of a disk image into member files in a
// fresh temp folder (removed again when the BuiltArray goes away) and tells where each
// logical sector went.
//
//   auto array = ArrayBuilder::raid5(3, /*layout*/ 3, /*stripe*/ 128).build(imageBytes);
//   array.memberPaths   -> member files, in member order
//   array.virtualBytes  -> size of the virtual disk the members represent
//   array.expected      -> the virtual disk's bytes (the source, zero-padded to whole rows)
//
// Member i holds the array's data from sector offsets[i] on; the sectors before it are
// zero unless headerFill() says otherwise. RAID-5 parity layouts: 1 rotating parity 0
// with data restart, 2 rotating parity N with data restart, 3 rotating parity N with data
// continuation, 4 rotating parity 0 with data continuation.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "detect/SectorBytes.h"

namespace quenlow::test {

struct ArrayGeometry {
    int level = 0;                 // 0 or 5
    int layout = 3;                // RAID-5 only: 1, 2, 3 or 4
    int64_t stripeSectors = 128;   // stripe unit
    size_t members = 2;
    std::vector<int64_t> offsets;  // per member start sector of the data; empty = all 0

    int64_t offset(size_t member) const {
        return member < offsets.size() ? offsets[member] : 0;
    }
    // Data units per row: all members under RAID-0, all but the parity under RAID-5.
    size_t dataUnitsPerRow() const { return level == 5 ? members - 1 : members; }
};

// Where one logical sector lives.
struct SectorPlace {
    size_t member = 0;         // the data member
    int64_t memberSector = 0;  // sector on that member, offset included
    int parityMember = -1;     // RAID-5: the row's parity member
};

inline SectorPlace placeSector(const ArrayGeometry& g, int64_t logical) {
    const int64_t s = g.stripeSectors;
    const int64_t n = static_cast<int64_t>(g.members);
    const int64_t q = logical / s, within = logical % s;
    SectorPlace out;
    int64_t row = 0;
    if (g.level == 0) {
        out.member = static_cast<size_t>(q % n);
        row = q / n;
    } else {
        row = q / (n - 1);
        const int64_t k = q % (n - 1);
        int64_t p = 0, d = 0;
        switch (g.layout) {
            case 1: p = row % n; d = k < p ? k : k + 1; break;
            case 2: p = n - 1 - row % n; d = k < p ? k : k + 1; break;
            case 3: p = n - 1 - row % n; d = (p + 1 + k) % n; break;
            case 4: p = row % n; d = (p + 1 + k) % n; break;
            default: throw std::invalid_argument("RAID-5 layout must be 1, 2, 3 or 4");
        }
        out.member = static_cast<size_t>(d);
        out.parityMember = static_cast<int>(p);
    }
    out.memberSector = row * s + within + g.offset(out.member);
    return out;
}

class BuiltArray {
public:
    BuiltArray() = default;
    BuiltArray(const BuiltArray&) = delete;
    BuiltArray& operator=(const BuiltArray&) = delete;
    BuiltArray(BuiltArray&& o) noexcept { *this = std::move(o); }
    BuiltArray& operator=(BuiltArray&& o) noexcept {
        if (this != &o) {
            removeDir();
            dir = std::move(o.dir);
            memberPaths = std::move(o.memberPaths);
            virtualBytes = o.virtualBytes;
            memberDataSectors = o.memberDataSectors;
            expected = std::move(o.expected);
            geometry = o.geometry;
            o.dir.clear();
        }
        return *this;
    }
    ~BuiltArray() { removeDir(); }

    std::filesystem::path dir;             // the temp folder holding the members
    std::vector<std::string> memberPaths;  // member files in member order
    int64_t virtualBytes = 0;              // bytes of the virtual disk
    int64_t memberDataSectors = 0;         // data sectors per member (after its offset)
    std::vector<unsigned char> expected;   // the virtual disk's bytes
    ArrayGeometry geometry;

private:
    void removeDir() {
        if (!dir.empty()) {
            std::error_code ec;
            std::filesystem::remove_all(dir, ec);
            dir.clear();
        }
    }
};

class ArrayBuilder {
public:
    explicit ArrayBuilder(ArrayGeometry g) : geo(std::move(g)) {}

    static ArrayBuilder raid0(size_t members, int64_t stripeSectors) {
        ArrayGeometry g;
        g.level = 0;
        g.members = members;
        g.stripeSectors = stripeSectors;
        return ArrayBuilder(g);
    }
    static ArrayBuilder raid5(size_t members, int layout, int64_t stripeSectors) {
        ArrayGeometry g;
        g.level = 5;
        g.layout = layout;
        g.members = members;
        g.stripeSectors = stripeSectors;
        return ArrayBuilder(g);
    }

    ArrayBuilder& offsets(std::vector<int64_t> sectors) {
        geo.offsets = std::move(sectors);
        return *this;
    }
    // The byte the sectors before each member's data are filled with (default 0).
    ArrayBuilder& headerFill(unsigned char b) {
        fill = b;
        return *this;
    }
    const ArrayGeometry& geometry() const { return geo; }

    // Members are written unit by unit into sparse files: units of zeros are not written.
    BuiltArray build(const std::vector<unsigned char>& source) const {
        check();
        const size_t unit = static_cast<size_t>(geo.stripeSectors) * 512;
        const size_t perRow = geo.dataUnitsPerRow();
        const size_t rowBytes = unit * perRow;
        size_t rows = (source.size() + rowBytes - 1) / rowBytes;
        if (rows == 0) rows = 1;
        std::vector<unsigned char> last(unit);  // a unit that runs past the source, zero-padded

        BuiltArray out;
        out.geometry = geo;
        out.dir = makeTempDir();
        std::vector<int> files;
        struct Closer {
            std::vector<int>& fds;
            ~Closer() {
                for (int fd : fds) ::close(fd);
            }
        } closer{files};
        for (size_t i = 0; i < geo.members; ++i) {
            auto path = out.dir / ("member" + std::to_string(i) + ".img");
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd < 0) throw std::runtime_error("cannot write " + path.string());
            files.push_back(fd);
            const size_t head = static_cast<size_t>(geo.offset(i)) * 512;
            if (::ftruncate(fd, static_cast<off_t>(head + rows * unit)) != 0)
                throw std::runtime_error("cannot size " + path.string());
            if (fill != 0 && head > 0) writeAt(fd, std::vector<unsigned char>(head, fill).data(), head, 0);
            out.memberPaths.push_back(path.string());
        }
        std::vector<unsigned char> parity(geo.level == 5 ? unit : 0);
        for (size_t row = 0; row < rows; ++row) {
            std::fill(parity.begin(), parity.end(), 0);
            SectorPlace p;
            for (size_t k = 0; k < perRow; ++k) {
                const size_t q = row * perRow + k;
                p = placeSector(geo, static_cast<int64_t>(q) * geo.stripeSectors);
                if (q * unit >= source.size()) continue;
                const unsigned char* from = source.data() + q * unit;
                if (source.size() - q * unit < unit) {
                    std::fill(last.begin(), last.end(), 0);
                    std::copy(from, source.data() + source.size(), last.begin());
                    from = last.data();
                }
                if (detect::allBytes(from, unit, 0)) continue;
                writeAt(files[p.member], from, unit, p.memberSector * 512);
                if (p.parityMember >= 0) detect::xorBytes(parity.data(), from, unit);
            }
            if (p.parityMember >= 0 && !detect::allBytes(parity.data(), unit, 0)) {
                const size_t pm = static_cast<size_t>(p.parityMember);
                writeAt(files[pm], parity.data(), unit, (p.memberSector - geo.offset(p.member) + geo.offset(pm)) * 512);
            }
        }
        out.virtualBytes = static_cast<int64_t>(rows * rowBytes);
        out.memberDataSectors = static_cast<int64_t>(rows * unit / 512);
        out.expected.reserve(rows * rowBytes);
        out.expected.assign(source.begin(), source.end());
        out.expected.resize(rows * rowBytes, 0);
        return out;
    }

    BuiltArray buildFromFile(const std::string& path) const {
        std::ifstream in(path, std::ios::binary | std::ios::ate);
        if (!in) throw std::runtime_error("cannot read " + path);
        std::vector<unsigned char> bytes(static_cast<size_t>(in.tellg()));
        in.seekg(0);
        if (!in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size())))
            throw std::runtime_error("cannot read " + path);
        return build(bytes);
    }

private:
    static void writeAt(int fd, const unsigned char* bytes, size_t count, int64_t offset) {
        for (size_t done = 0; done < count;) {
            const ssize_t n = ::pwrite(fd, bytes + done, count - done, static_cast<off_t>(offset + static_cast<int64_t>(done)));
            if (n <= 0) throw std::runtime_error("cannot write a member");
            done += static_cast<size_t>(n);
        }
    }

    void check() const {
        if (geo.level != 0 && geo.level != 5) throw std::invalid_argument("level must be 0 or 5");
        if (geo.members < (geo.level == 5 ? 3u : 1u))
            throw std::invalid_argument("too few members for the level");
        if (geo.stripeSectors <= 0) throw std::invalid_argument("stripe must be positive");
        if (!geo.offsets.empty() && geo.offsets.size() != geo.members)
            throw std::invalid_argument("one offset per member");
        for (int64_t o : geo.offsets)
            if (o < 0) throw std::invalid_argument("offsets must not be negative");
    }

    static std::filesystem::path makeTempDir() {
        std::string templ = (std::filesystem::temp_directory_path() / "quenlow-array-XXXXXX").string();
        if (!mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
        return templ;
    }

    ArrayGeometry geo;
    unsigned char fill = 0;
};

}  // namespace quenlow::test
