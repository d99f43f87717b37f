#include "recovery/ParserChoice.h"

#include <strings.h>

namespace quenlow::recovery {

namespace {

bool same(const std::string& a, const char* b) { return ::strcasecmp(a.c_str(), b) == 0; }

}  // namespace

ParserKind parserKindFor(const std::string& fileSystem) {
    if (same(fileSystem, "ntfs")) return ParserKind::Ntfs;
    if (same(fileSystem, "fat32")) return ParserKind::Fat32;
    if (same(fileSystem, "fat16") || same(fileSystem, "fat")) return ParserKind::Fat16;
    if (same(fileSystem, "extX")) return ParserKind::Ext;
    if (same(fileSystem, "fat64") || same(fileSystem, "exFat")) return ParserKind::Fat64;
    if (same(fileSystem, "HFS+")) return ParserKind::HfsPlus;
    return ParserKind::None;
}

bool parserAvailable(ParserKind kind) {
#if __has_include("filesystems/ntfs/ntfs.h")
    return kind == ParserKind::Ntfs;
#else
    (void)kind;
    return false;
#endif
}

std::string parserKindName(ParserKind kind) {
    switch (kind) {
        case ParserKind::Ntfs: return "NTFS";
        case ParserKind::Fat32: return "FAT32";
        case ParserKind::Fat16: return "FAT16";
        case ParserKind::Ext: return "ext2/3/4";
        case ParserKind::Fat64: return "exFAT";
        case ParserKind::HfsPlus: return "HFS+";
        case ParserKind::None: break;
    }
    return "";
}

}  // namespace quenlow::recovery
