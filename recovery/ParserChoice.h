#pragma once
// Which parser reads a volume, from the file-system name of its volume record. Names are
// compared without regard to letter case.

#include <string>

namespace quenlow::recovery {

enum class ParserKind { None, Ntfs, Fat32, Fat16, Ext, Fat64, HfsPlus };

ParserKind parserKindFor(const std::string& fileSystem);
// Whether this build has the parser (the others are recognised but not built yet).
bool parserAvailable(ParserKind kind);
// The file system's name as a user reads it ("NTFS", "FAT32", ...); empty for None.
std::string parserKindName(ParserKind kind);

}  // namespace quenlow::recovery
