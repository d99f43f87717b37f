#include "ntfs/support/NtfsImage.h"

#include <cstring>
#include <stdexcept>
#include <tuple>

namespace quenlow::test {

namespace {
void put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void put64(std::vector<uint8_t>& b, size_t at, uint64_t v) {
    for (int i = 0; i < 8; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
size_t bytesFor(int64_t v, bool isSigned) {
    size_t n = 1;
    if (isSigned) {
        while (n < 8) {
            int64_t lo = -(int64_t{1} << (8 * n - 1)), hi = (int64_t{1} << (8 * n - 1)) - 1;
            if (v >= lo && v <= hi) break;
            ++n;
        }
    } else {
        while (n < 8 && (static_cast<uint64_t>(v) >> (8 * n)) != 0) ++n;
    }
    return n;
}
}  // namespace

std::vector<uint8_t> encodeRuns(const std::vector<RunSpec>& runs) {
    std::vector<uint8_t> out;
    int64_t previous = 0;
    for (const RunSpec& r : runs) {
        size_t l = bytesFor(static_cast<int64_t>(r.length), false);
        size_t f = 0;
        int64_t delta = 0;
        if (r.cluster != -1) {
            delta = r.cluster - previous;
            f = bytesFor(delta, true);
            previous = r.cluster;
        }
        out.push_back(static_cast<uint8_t>(l | (f << 4)));
        for (size_t i = 0; i < l; ++i) out.push_back(static_cast<uint8_t>(r.length >> (8 * i)));
        for (size_t i = 0; i < f; ++i) out.push_back(static_cast<uint8_t>(static_cast<uint64_t>(delta) >> (8 * i)));
    }
    out.push_back(0);
    return out;
}

RecordBuilder::RecordBuilder(uint16_t flags) : flags_(flags) {}

void RecordBuilder::add(uint32_t type, std::vector<uint8_t> body, bool nonResident) {
    (void)nonResident;
    put32(body, 0, type);
    while (body.size() % 8) body.push_back(0);
    put32(body, 4, static_cast<uint32_t>(body.size()));
    attributes_.insert(attributes_.end(), body.begin(), body.end());
}

static std::vector<uint8_t> residentBody(const std::vector<uint8_t>& content, uint16_t flags,
                                         const std::u16string& name = u"") {
    size_t nameOff = 24, contentOff = 24 + name.size() * 2;
    contentOff = (contentOff + 7) / 8 * 8;
    std::vector<uint8_t> b(contentOff + content.size(), 0);
    b[8] = 0;
    b[9] = static_cast<uint8_t>(name.size());
    put16(b, 10, static_cast<uint16_t>(nameOff));
    put16(b, 12, flags);
    put32(b, 16, static_cast<uint32_t>(content.size()));
    put16(b, 20, static_cast<uint16_t>(contentOff));
    for (size_t i = 0; i < name.size(); ++i) put16(b, nameOff + 2 * i, static_cast<uint16_t>(name[i]));
    std::memcpy(b.data() + contentOff, content.data(), content.size());
    return b;
}

RecordBuilder& RecordBuilder::standardInfo(uint64_t created, uint64_t modified, uint64_t accessed) {
    std::vector<uint8_t> c(72, 0);
    put64(c, 0, created);
    put64(c, 8, modified);
    put64(c, 16, modified);
    put64(c, 24, accessed);
    add(0x10, residentBody(c, 0), false);
    return *this;
}

RecordBuilder& RecordBuilder::extensionOf(uint64_t base) {
    base_ = base | (uint64_t{1} << 48);
    return *this;
}

RecordBuilder& RecordBuilder::fileName(int64_t parent, const std::u16string& name, uint32_t fileAttributes,
                                       int64_t allocatedSize, uint8_t nameSpace) {
    std::vector<uint8_t> c(0x42 + name.size() * 2, 0);
    put64(c, 0, static_cast<uint64_t>(parent) & 0x0000FFFFFFFFFFFFULL);
    put64(c, 0x28, static_cast<uint64_t>(allocatedSize));
    put32(c, 0x38, fileAttributes);
    c[0x40] = static_cast<uint8_t>(name.size());
    c[0x41] = nameSpace;
    for (size_t i = 0; i < name.size(); ++i) put16(c, 0x42 + 2 * i, static_cast<uint16_t>(name[i]));
    add(0x30, residentBody(c, 0), false);
    return *this;
}

RecordBuilder& RecordBuilder::folderName(int64_t parent, const std::u16string& name) {
    return fileName(parent, name, 0x10000000, 0);
}

RecordBuilder& RecordBuilder::residentData(const std::vector<uint8_t>& data, uint16_t flags,
                                           const std::u16string& streamName) {
    add(0x80, residentBody(data, flags, streamName), false);
    return *this;
}

RecordBuilder& RecordBuilder::nonResidentData(const std::vector<RunSpec>& runs, int64_t startVcn, int64_t lastVcn,
                                              int64_t dataSize, uint16_t flags, uint8_t compressionUnit,
                                              uint32_t type) {
    std::vector<uint8_t> list = encodeRuns(runs);
    size_t runOff = 64;
    std::vector<uint8_t> b(runOff + list.size(), 0);
    b[8] = 1;
    put16(b, 12, flags);
    put64(b, 16, static_cast<uint64_t>(startVcn));
    put64(b, 24, static_cast<uint64_t>(lastVcn));
    put16(b, 32, static_cast<uint16_t>(runOff));
    b[34] = compressionUnit;
    put64(b, 40, static_cast<uint64_t>(dataSize));
    put64(b, 48, static_cast<uint64_t>(dataSize));
    put64(b, 56, static_cast<uint64_t>(dataSize));
    std::memcpy(b.data() + runOff, list.data(), list.size());
    add(type, b, true);
    return *this;
}

RecordBuilder& RecordBuilder::attributeList(const std::vector<std::tuple<uint32_t, uint64_t, int64_t>>& entries) {
    std::vector<uint8_t> c;
    for (const auto& [type, record, vcn] : entries) {
        std::vector<uint8_t> e(32, 0);
        put32(e, 0, type);
        put16(e, 4, 32);
        e[6] = 0;
        e[7] = 26;
        put64(e, 8, static_cast<uint64_t>(vcn));
        put64(e, 16, record);
        c.insert(c.end(), e.begin(), e.end());
    }
    add(0x20, residentBody(c, 0), false);
    return *this;
}

RecordBuilder& RecordBuilder::rawAttribute(const std::vector<uint8_t>& bytes) {
    attributes_.insert(attributes_.end(), bytes.begin(), bytes.end());
    return *this;
}

std::vector<uint8_t> RecordBuilder::finish() const {
    std::vector<uint8_t> r(1024, 0);
    std::memcpy(r.data(), "FILE", 4);
    put16(r, 4, 48);  // update sequence offset
    put16(r, 6, 3);   // update sequence count
    put16(r, 16, 1);
    put16(r, 20, 56);
    put16(r, 22, flags_);
    put64(r, 32, base_);
    size_t end = 56 + attributes_.size();
    if (end + 8 > 1024) throw std::runtime_error("record too full");
    std::memcpy(r.data() + 56, attributes_.data(), attributes_.size());
    put32(r, end, 0xFFFFFFFF);
    // Update sequence: the sector ends carry the number, the array keeps their bytes.
    uint16_t usn = 0x0A0B;
    put16(r, 48, usn);
    for (int k = 1; k <= 2; ++k) {
        r[48 + 2 * k] = r[512 * k - 2];
        r[48 + 2 * k + 1] = r[512 * k - 1];
        put16(r, 512 * k - 2, usn);
    }
    return r;
}

NtfsImage::NtfsImage(uint32_t clusterSize, uint32_t mftRecords, uint64_t totalClusters, uint64_t mftCluster)
    : clusterSize_(clusterSize), mftRecords_(mftRecords), mftCluster_(mftCluster) {
    mftClusters_ = (static_cast<uint64_t>(mftRecords) * 1024 + clusterSize - 1) / clusterSize;
    bytes.assign(static_cast<size_t>(totalClusters * clusterSize), 0);
    std::memcpy(bytes.data() + 3, "NTFS    ", 8);
    uint16_t bps = clusterSize >= 512 ? 512 : static_cast<uint16_t>(clusterSize);
    put16(bytes, 11, bps);
    bytes[13] = static_cast<uint8_t>(clusterSize / bps);
    put64(bytes, 40, totalClusters * clusterSize / 512);
    put64(bytes, 48, mftCluster);
    bytes[510] = 0x55;
    bytes[511] = 0xAA;
    setRecord(0, RecordBuilder(1)
                     .standardInfo(0, 0, 0)
                     .fileName(5, u"$MFT", 0x6, mftRecords * 1024)
                     .nonResidentData({{static_cast<int64_t>(mftCluster), mftClusters_}}, 0,
                                      static_cast<int64_t>(mftClusters_) - 1, mftRecords * 1024));
    setRecord(5, RecordBuilder(3).standardInfo(0, 0, 0).folderName(5, u"."));
}

int64_t NtfsImage::recordPosition(uint64_t number) const {
    return static_cast<int64_t>(mftCluster_ * clusterSize_ + number * 1024);
}

void NtfsImage::setRecord(uint64_t number, const std::vector<uint8_t>& record) {
    if (number >= mftRecords_) throw std::runtime_error("record outside the MFT");
    std::memcpy(bytes.data() + recordPosition(number), record.data(), 1024);
}

void NtfsImage::writeCluster(uint64_t cluster, const std::vector<uint8_t>& data) {
    size_t at = static_cast<size_t>(cluster * clusterSize_);
    if (at + data.size() > bytes.size()) throw std::runtime_error("cluster outside the volume");
    std::memcpy(bytes.data() + at, data.data(), data.size());
}

void NtfsImage::wipeBootSector() { std::memset(bytes.data(), 0, 512); }

}  // namespace quenlow::test
