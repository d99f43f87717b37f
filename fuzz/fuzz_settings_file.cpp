// Settings-file bytes as the loader takes them: refused or loaded, never a crash; what loads
// then carves a small fixed volume.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "raw/SettingsFile.h"
#include "raw/myJpg.h"
#include "support/MemoryDisk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quenlow::raw;
    std::vector<uint8_t> bytes(data, data + size);
    for (bool isDefault : {false, true}) {
        LoadedRecords loaded = parseSettings(bytes, isDefault);
        if (!loaded.refusal.empty()) continue;
        myJpg engine;
        for (size_t k = 0; k < loaded.records.size(); ++k)
            engine.addType(entryFromRecord(loaded.records[k]), typeFromRecord(loaded.records[k], static_cast<int>(k)));
        // The file's own bytes, repeated, as the volume: its signatures are there to be found.
        std::vector<unsigned char> volume(8192 + 300);
        for (size_t i = 0; i < volume.size(); ++i) volume[i] = size == 0 ? 0 : data[i % size];
        quenlow::test::MemoryDisk disk(volume);
        myJpg::Setup setup{quenlow::disk::VolumeView(disk, 0), static_cast<int64_t>(volume.size()), nullptr, nullptr,
                           nullptr, 4096};
        engine.run(setup);
        for (const Find& f : engine.found())
            if (f.start < 0 || f.size <= 0 || f.start + f.size > static_cast<int64_t>(volume.size())) __builtin_trap();
    }
    return 0;
}
