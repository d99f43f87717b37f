#include "output/DataWriter.h"

#include <algorithm>
#include <vector>

#include "output/OutputName.h"
#include "platform/OutputFile.h"
#include "platform/OutputFolder.h"

namespace quenlow::output {

namespace {

constexpr size_t kPiece = 8u << 20;  // bytes read and written per request
constexpr const char* kPartialSuffix = ".partial";

}  // namespace

std::string partialName(const std::string& name) {
    const size_t room = kMaxNameBytes - std::char_traits<char>::length(kPartialSuffix);
    std::string stem = name;
    if (stem.size() > room) {
        size_t cut = room;
        // Cut at a character boundary: never inside a UTF-8 sequence.
        while (cut > 0 && (static_cast<unsigned char>(stem[cut]) & 0xC0) == 0x80) --cut;
        stem.resize(cut);
    }
    return stem + kPartialSuffix;
}

WriteOutcome writeData(fs::EntryData& data, const platform::OutputFolder& folder, const std::string& name,
                       WorkControl& control) {
    WriteOutcome outcome;
    const std::string shown = folder.childPath(name);
    // A partial name of its own: another file may already hold the first choice.
    std::string partial = partialName(name);
    for (int n = 2; folder.has(partial) && n < 1000; ++n) partial = partialName(name + "." + std::to_string(n));
    platform::OutputFile out;
    if (!out.createIn(folder.fd(), partial, shown)) {
        outcome.error = out.error();
        return outcome;
    }
    auto abandon = [&](std::string error) {
        out.close();
        folder.removeChild(partial);
        outcome.error = std::move(error);
        return outcome;
    };
    fs::DataStream& stream = *data.stream;
    const uint64_t size = stream.size();
    std::vector<uint8_t> buffer;
    uint64_t at = 0;
    while (at < size) {
        if (control.poll()) {
            outcome.stopped = true;
            return abandon("stopped while saving; the unfinished file was removed");
        }
        fs::DataStream::Extent extent = stream.extentAt(at);
        if (extent.length == 0) break;
        if (extent.hole) {
            if (!out.writeZeros(extent.length)) return abandon(out.error());
            at += extent.length;
            continue;
        }
        size_t n = static_cast<size_t>(std::min<uint64_t>(extent.length, kPiece));
        if (buffer.size() < n) buffer.resize(n);
        size_t got = stream.read(at, buffer.data(), n);
        if (got == 0) break;
        if (!out.write(buffer.data(), got)) return abandon(out.error());
        at += got;
    }
    const fs::EntryTimes& t = data.times;
    if (t.accessed || t.modified) {
        platform::UnixTime access = t.accessed ? *t.accessed : *t.modified;
        platform::UnixTime modification = t.modified ? *t.modified : *t.accessed;
        if (!out.setTimes(access, modification)) return abandon(out.error());
    }
    if (!out.close()) return abandon(out.error());
    std::string error;
    if (!folder.renameChild(partial, name, error)) {
        folder.removeChild(partial);
        outcome.error = error;
        return outcome;
    }
    outcome.damaged = stream.damaged();
    outcome.ok = true;
    return outcome;
}

}  // namespace quenlow::output
