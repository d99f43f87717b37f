#include "raw/myJpg.h"

#include <algorithm>
#include <cstring>

#include "platform/ByteReader.h"

namespace quenlow::raw {

namespace {

constexpr uint8_t kWildcard = 0x2A;  // '*' matches any byte
constexpr int64_t kSector = myJpg::kSectorSize;

int64_t roundUp(int64_t value) {
    if (value <= 0) return 0;
    if (value > INT64_MAX - kSector) return INT64_MAX - (INT64_MAX % kSector);
    return (value + kSector - 1) / kSector * kSector;
}

}  // namespace

void myJpg::addType(SignatureEntry entry, const TypeRecord& record) {
    TypeRecord r = record;
    r.typeNumber = static_cast<int>(entries_.size());
    entries_.push_back(std::move(entry));
    typeRecords_.push_back(r);
}

bool myJpg::matches(const MatchEntry& e, const uint8_t* p, size_t available) {
    if (e.length < 2 || e.length > available) return false;
    for (size_t i = 0; i < e.length; ++i)
        if (e.bytes[i] != kWildcard && e.bytes[i] != p[i]) return false;
    return true;
}

bool myJpg::buildMatchTable() {
    if (!setup_.view.valid() || setup_.volumeBytes < 0 || setup_.chunkBytes < static_cast<size_t>(kSector) ||
        setup_.chunkBytes % kSector != 0)
        return false;
    startTable_.clear();
    endTable_.clear();
    longest_ = 1;
    for (const TypeRecord& t : typeRecords_) {
        MatchEntry s{std::min<uint8_t>(t.startLength, kMaxSignatureBytes), t.typeNumber, t.start};
        MatchEntry e{std::min<uint8_t>(t.endLength, kMaxSignatureBytes), t.typeNumber, t.end};
        startTable_.push_back(s);
        endTable_.push_back(e);
        longest_ = std::max<size_t>({longest_, s.length, e.length});
    }
    queues_.assign(entries_.size(), {});
    pendingTypes_ = 0;
    return true;
}

void myJpg::makeCategoryNodes() {
    if (setup_.tree == nullptr) return;
    root_ = setup_.tree->insertItem(fs::kNoItem, kRawRootText, true, 0);
    std::map<std::string, fs::TreeItem> nodes;
    for (SignatureEntry& e : entries_) {
        auto it = nodes.find(e.category);
        if (it == nodes.end()) it = nodes.emplace(e.category, setup_.tree->insertItem(root_, e.category, true, 0)).first;
        e.categoryNode = it->second;
    }
}

int myJpg::matchStart(const uint8_t* p, size_t available) const {
    for (const MatchEntry& e : startTable_)
        if (matches(e, p, available)) return e.type;
    return -1;
}

int64_t myJpg::findEnd(int64_t from, int64_t to, int& type) const {
    int64_t best = -1;
    for (size_t t = 0; t < queues_.size(); ++t) {
        if (queues_[t].empty()) continue;
        const MatchEntry& e = endTable_[t];
        if (e.length < 2) continue;
        int64_t limit = std::min(to, bufferEnd_ - static_cast<int64_t>(e.length) + 1);
        const int64_t approx = entries_[t].approximateSize;
        if (approx > 0) limit = std::min(limit, queues_[t].back().start + approx - e.length + 1);
        if (best >= 0) limit = std::min(limit, best);  // only an earlier end can win
        int64_t b = std::max(from, queues_[t].back().searchFrom);
        if (b >= limit) continue;
        const uint8_t* p = at(b);
        const uint8_t* stop = at(limit);
        while (p < stop) {
            if (e.bytes[0] != kWildcard) {
                p = static_cast<const uint8_t*>(std::memchr(p, e.bytes[0], static_cast<size_t>(stop - p)));
                if (p == nullptr) break;
            }
            if (matches(e, p, static_cast<size_t>(bufferEnd_ - (bufferStart_ + (p - buffer_.data()))))) {
                best = bufferStart_ + (p - buffer_.data());
                type = static_cast<int>(t);
                break;
            }
            ++p;
        }
    }
    return best;
}

int64_t myJpg::skipStep(int type) const {
    const int64_t skip = entries_[static_cast<size_t>(type)].skipSize;
    return skip <= kSector ? kSector : roundUp(skip);
}

int64_t myJpg::headerSize(int type, int64_t position) const {
    const SignatureEntry& e = entries_[static_cast<size_t>(type)];
    if (e.sizeOffset <= 0 || e.sizeBytes <= 0 || e.sizeBytes > 8 || int64_t{e.sizeOffset} + e.sizeBytes > kSector)
        return 0;
    // The size field is read from the file's first sector.
    std::array<uint8_t, kSector> header{};
    const int64_t room = setup_.volumeBytes - position;
    const size_t have = static_cast<size_t>(std::min<int64_t>(kSector, room));
    if (position + static_cast<int64_t>(have) <= bufferEnd_) std::memcpy(header.data(), at(position), have);
    else setup_.view.readQuiet(position, header.data(), have);
    platform::ByteReader r(header.data(), have);
    uint64_t h = 0;
    for (int i = e.sizeBytes; i-- > 0;) h = (h << 8) | r.u8(static_cast<size_t>(e.sizeOffset + i));
    if (h == 0 || h > static_cast<uint64_t>(INT64_MAX / 2)) return 0;
    if (e.approximateSize > 0 && static_cast<int64_t>(h) > e.approximateSize) return 0;
    int64_t size = static_cast<int64_t>(h);
    if (!e.sizeIncludesHeader && e.headerSize > 0) size += e.headerSize;
    if (e.approximateSize > 0) size = std::min(size, e.approximateSize);
    return size;
}

void myJpg::record(int type, int64_t start, int64_t size, int64_t namedAt) {
    size = std::min(size, setup_.volumeBytes - start);
    if (size <= 0) return;
    SignatureEntry& e = entries_[static_cast<size_t>(type)];
    found_.push_back({start, size, type, std::to_string(namedAt) + " ." + e.extension});
    int64_t count = ++categoryCounts_[e.category];
    if (setup_.tree != nullptr && e.categoryNode != fs::kNoItem) {
        setup_.tree->setText(e.categoryNode, e.category + " (" + std::to_string(count) + ")");
        // The item's data is its index in found() plus one (0 means none).
        setup_.tree->insertItem(e.categoryNode, found_.back().name, false, found_.size());
    }
}

void myJpg::flushPending(int type) {
    std::deque<Pending>& q = queues_[static_cast<size_t>(type)];
    if (q.empty()) return;
    const int64_t approx = entries_[static_cast<size_t>(type)].approximateSize;
    // Newest first: each start runs to the next newer start of its type, the newest gets the
    // approximate size; every size is held to the approximate size.
    int64_t newer = -1;
    while (!q.empty()) {
        int64_t s = q.back().start;
        q.pop_back();
        int64_t size = newer < 0 ? approx : newer - s;
        if (approx > 0) size = std::min(size, approx);
        record(type, s, size, s);
        newer = s;
    }
    --pendingTypes_;
}

void myJpg::closePair(int type, int64_t endAt, int64_t& resume) {
    std::deque<Pending>& q = queues_[static_cast<size_t>(type)];
    const SignatureEntry& e = entries_[static_cast<size_t>(type)];
    const int64_t s0 = q.back().start;
    q.pop_back();
    if (q.empty()) --pendingTypes_;
    int64_t fileEnd = endAt + e.endLength;
    if (std::optional<int64_t> f = finishSize(e.finish, setup_.view, setup_.volumeBytes, s0, endAt, e.endLength))
        fileEnd = std::max(fileEnd, s0 + *f);
    int64_t size = fileEnd - s0;
    if (e.approximateSize > 0) size = std::min(size, e.approximateSize);
    record(type, s0, size, endAt);
    resume = fileEnd;
    // A skip larger than a sector runs from the file's start.
    if (e.skipSize > kSector) resume = std::max(resume, s0 + skipStep(type));
}

void myJpg::scan() {
    const int64_t chunk = static_cast<int64_t>(setup_.chunkBytes);
    const int64_t total = setup_.volumeBytes;
    const int64_t pieces = total / chunk + (total % chunk != 0 ? 1 : 0);
    const int64_t overlap = static_cast<int64_t>(longest_) - 1;
    if (setup_.feedback != nullptr) {
        setup_.feedback->progressRange(0, 1000);
        setup_.feedback->progressRange(0, pieces);
    }
    buffer_.assign(static_cast<size_t>(std::min(chunk, total) + overlap), 0);
    auto stopAsked = [&] { return setup_.control != nullptr && setup_.control->stopRequested(); };

    int64_t nextStart = 0;  // the next sector start to test
    int64_t pos = 0;        // the next byte where end signatures are searched
    for (int64_t c = 0; c < pieces; ++c) {
        if (setup_.feedback != nullptr) setup_.feedback->progressPosition(c);
        if (setup_.control != nullptr && setup_.control->poll()) {
            stopped_ = true;
            break;
        }
        const int64_t base = c * chunk;
        const int64_t pieceEnd = std::min(base + chunk, total);
        // A piece no test and no end search reaches is not read.
        if (nextStart >= pieceEnd && (pendingTypes_ == 0 || pos >= pieceEnd)) continue;
        const size_t length = static_cast<size_t>(std::min(pieceEnd + overlap, total) - base);
        disk::VolumeView::ReadReport report = setup_.view.read(base, buffer_.data(), length);
        readLog_.emplace_back(base, length);
        for (const auto& r : report.failed) unreadBytes_ += r.length;
        for (const auto& r : report.pastSource) unreadBytes_ += r.length;
        bufferStart_ = base;
        bufferEnd_ = base + static_cast<int64_t>(length);
        pos = std::max(pos, base);

        while (true) {
            if (stopAsked()) {
                stopped_ = true;
                return;
            }
            if (pendingTypes_ > 0) {
                // Starts whose type's approximate size has passed can no longer pair.
                for (size_t t = 0; t < queues_.size(); ++t) {
                    const int64_t approx = entries_[t].approximateSize;
                    if (!queues_[t].empty() && approx > 0 && queues_[t].back().start + approx <= pos)
                        flushPending(static_cast<int>(t));
                }
            }
            const int64_t s = std::max(nextStart, roundUp(pos));
            const int64_t searchTo = std::min(s, pieceEnd);
            if (pendingTypes_ > 0 && pos < searchTo) {
                int type = -1;
                int64_t e = findEnd(pos, searchTo, type);
                if (e >= 0) {
                    int64_t resume = e;
                    closePair(type, e, resume);
                    pos = resume;
                    nextStart = std::max(nextStart, roundUp(resume));
                    continue;
                }
            }
            if (s >= pieceEnd) {
                pos = std::max(pos, pieceEnd);
                break;
            }
            pos = s;
            const int type = matchStart(at(s), static_cast<size_t>(bufferEnd_ - s));
            if (type < 0) {
                nextStart = s + kSector;
                continue;
            }
            const SignatureEntry& e = entries_[static_cast<size_t>(type)];
            if (e.paired()) {
                std::deque<Pending>& q = queues_[static_cast<size_t>(type)];
                if (q.empty()) ++pendingTypes_;
                if (q.size() >= kMaxPending) {
                    // The oldest start becomes a file running to the next one.
                    int64_t oldest = q.front().start;
                    q.pop_front();
                    int64_t size = q.front().start - oldest;
                    if (e.approximateSize > 0) size = std::min(size, e.approximateSize);
                    record(type, oldest, size, oldest);
                }
                q.push_back({s, endSearchFrom(e.finish, setup_.view, total, s)});
                pos = s + e.startLength;
                nextStart = s + kSector;
                continue;
            }
            int64_t size = 0;
            bool exact = false;
            if (std::optional<int64_t> f = finishSize(e.finish, setup_.view, total, s, -1, 0)) {
                size = *f;
                exact = true;
            } else if (e.headerSized()) {
                size = headerSize(type, s);
                exact = true;
            } else {
                size = e.approximateSize;
            }
            if (exact && e.approximateSize > 0) size = std::min(size, e.approximateSize);
            if (size <= 0 && exact) {
                nextStart = s + kSector;
                continue;
            }
            record(type, s, size, s);
            if (exact) {
                // The scan goes on at the first sector after the file.
                pos = std::max(pos, s + size);
                nextStart = std::max(s + kSector, roundUp(s + size));
            } else {
                pos = s + e.startLength;
                nextStart = s + skipStep(type);
            }
        }
    }
}

bool myJpg::run(const Setup& setup) {
    setup_ = setup;
    setup_.volumeBytes = std::max<int64_t>(0, setup.volumeBytes);
    stopped_ = false;
    readLog_.clear();
    try {
        if (!buildMatchTable()) {
            if (setup_.feedback != nullptr) setup_.feedback->message(kNotInitializedText);
            return false;
        }
        makeCategoryNodes();
        scan();
        for (size_t t = 0; t < queues_.size(); ++t) flushPending(static_cast<int>(t));
        buffer_.clear();
        buffer_.shrink_to_fit();
        if (setup_.feedback != nullptr) {
            setup_.feedback->progressPosition(setup_.volumeBytes / static_cast<int64_t>(setup_.chunkBytes));
            setup_.feedback->message(kCarveDoneText);
        }
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace quenlow::raw
