#include "cli/MdDescription.h"

#include <sstream>

namespace quenlow::cli {

namespace {

nlohmann::ordered_json roleJson(uint32_t role) {
    if (role == disk::MdSuperblock::kRoleSpare) return "spare";
    if (role == disk::MdSuperblock::kRoleFaulty) return "faulty";
    if (role == disk::MdSuperblock::kRoleJournal) return "journal";
    return role;
}

}  // namespace

nlohmann::ordered_json mdJson(const detect::MdFinding& f) {
    const auto& sb = f.superblock;
    return {{"version", sb.versionText()}, {"uuid", sb.uuidText()}, {"name", sb.name},
            {"level", sb.levelText()},     {"layout", sb.layoutText()},
            {"chunk_bytes", sb.chunkBytes}, {"raid_disks", sb.raidDisks},
            {"role", roleJson(sb.role)},                 {"data_offset", sb.dataOffset},
            {"data_sectors", sb.dataSectors}, {"events", sb.events},
            {"update_time", sb.updateTime}, {"checksum_good", sb.checksumGood()},
            {"trusted", f.problems.empty()}, {"problems", f.problems}};
}

std::string mdLine(const detect::MdFinding& f) {
    const auto& sb = f.superblock;
    std::ostringstream out;
    out << "md " << sb.versionText() << " " << sb.uuidText() << " " << sb.levelText();
    if (!sb.layoutText().empty()) out << " " << sb.layoutText();
    out << " chunk " << sb.chunkBytes / 1024 << "K, " << sb.raidDisks << " disks, role ";
    const auto role = roleJson(sb.role);
    out << (role.is_string() ? role.get<std::string>() : role.dump());
    out << ", data from sector " << sb.dataOffset << ", events " << sb.events;
    if (!f.problems.empty()) out << " (not trusted: " + f.problems.front() + ")";
    return out.str();
}

}  // namespace quenlow::cli
