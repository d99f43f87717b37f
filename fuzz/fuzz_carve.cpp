// The carving engine over random volumes with the default kinds of types (pairs with
// finishes, header sizes, wildcards, sizeless): every find lies inside the volume.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "raw/SettingsFile.h"
#include "raw/myJpg.h"
#include "support/MemoryDisk.h"

namespace {

using namespace quenlow::raw;

void add(myJpg& engine, const char* ext, const char* start, const char* end, const char* offset, const char* bytes,
         const char* header, bool includes, const char* approx, const char* skip, Finish finish) {
    SignatureFields f{ext, start, end, offset, bytes, header, includes, skip, approx, "c"};
    SignatureRecord r = *encodeFields(f, 0).record;
    SignatureEntry e = entryFromRecord(r);
    e.finish = finish;
    engine.addType(e, typeFromRecord(r, 0));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    myJpg engine;
    add(engine, "jpg", "FF,D8,FF", "FF,D9", "", "", "", false, "3000", "", Finish::None);
    add(engine, "zip", "50,4B,03,04", "50,4B,05,06", "", "", "", false, "", "", Finish::ZipEndRecord);
    add(engine, "pdf", "25,50", "25,25,45", "", "", "", false, "5000", "", Finish::PdfLineEnd);
    add(engine, "bmp", "42,4D", "", "2", "4", "", true, "9000", "", Finish::None);
    add(engine, "wav", "52,49", "", "4", "2", "8", false, "", "", Finish::None);
    add(engine, "db", "53,51", "", "", "", "", false, "700", "1500", Finish::SqlitePages);
    add(engine, "7z", "37,7A", "", "", "", "", false, "", "", Finish::SevenZipHeader);
    add(engine, "any", "2A,01", "", "", "", "", false, "100", "", Finish::None);
    // The first byte chooses the chunk (1 to 8 sectors); the rest is the volume.
    const size_t chunk = 512 * (1 + data[0] % 8);
    std::vector<unsigned char> volume(data + 1, data + size);
    quenlow::test::MemoryDisk disk(volume);
    myJpg::Setup setup{quenlow::disk::VolumeView(disk, 0), static_cast<int64_t>(volume.size()), nullptr, nullptr,
                       nullptr, chunk};
    engine.run(setup);
    for (const Find& f : engine.found())
        if (f.start < 0 || f.size <= 0 || f.start + f.size > static_cast<int64_t>(volume.size())) __builtin_trap();
    return 0;
}
