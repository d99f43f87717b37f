#include "filesystems/ParserRegistry.h"

#include <strings.h>

#include <algorithm>

namespace quenlow::fs {

// The file systems of this build: one line each. (A static registration object alone would
// be dropped by the linker from a program that never names the parser.)
ParserInfo ntfsParserInfo();
ParserInfo fat32ParserInfo();
ParserInfo fat16ParserInfo();
ParserInfo fat64ParserInfo();
ParserInfo hfsPlusParserInfo();
ParserInfo extParserInfo();
using InfoFunction = ParserInfo (*)();
constexpr InfoFunction kBuiltIn[] = {
    ntfsParserInfo,
    fat32ParserInfo,
    fat16ParserInfo,
    fat64ParserInfo,
    hfsPlusParserInfo,
    extParserInfo,
};

namespace {

std::vector<ParserInfo>& registry() {
    static std::vector<ParserInfo> parsers = [] {
        std::vector<ParserInfo> list;
        for (InfoFunction f : kBuiltIn) list.push_back(f());
        return list;
    }();
    return parsers;
}

}  // namespace

bool ParserInfo::offers(Mode mode) const { return std::find(modes.begin(), modes.end(), mode) != modes.end(); }

const ParserInfo* findParser(const std::string& fileSystem) {
    for (const ParserInfo& info : registry())
        for (const std::string& name : info.typeNames)
            if (::strcasecmp(name.c_str(), fileSystem.c_str()) == 0) return &info;
    return nullptr;
}

const std::vector<ParserInfo>& registeredParsers() { return registry(); }

ParserRegistration::ParserRegistration(ParserInfo info) { registry().push_back(std::move(info)); }

}  // namespace quenlow::fs
