// A Recycle Bin info file of any bytes, and the same bytes as a search pattern matched
// against the former name it gives.
#include <cstddef>
#include <cstdint>
#include <string>

#include "recovery/NameSearch.h"
#include "recovery/RecycleInfoRecord.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto record = quenlow::recovery::RecycleInfoRecord::decode(data, size);
    std::string name = record ? record->formerName() : std::string();
    if (record && name.size() > record->formerPath.size()) __builtin_trap();
    quenlow::recovery::SearchPattern pattern(std::string(reinterpret_cast<const char*>(data), size));
    if (pattern.ok()) (void)pattern.matches(name);
    else if (pattern.refusal().empty()) __builtin_trap();
    return 0;
}
