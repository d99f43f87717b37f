#include "cli/CliContext.h"

#include <algorithm>
#include <cctype>
#include <iostream>
#include <sstream>

#include "cli/TerminalText.h"
#include "disk/FileReadSeekRaid.h"

namespace quenlow::cli {

std::string memberName(const std::string& option) {
    std::string upper = option;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    if (upper == "MISSING" || upper == disk::kMissingDiskName) return disk::kMissingDiskName;
    return option;
}

void CliContext::error(const std::string& text) {
    feedback.finishProgress();
    std::cerr << "quenlow: " << terminalText(text) << '\n';
}

bool CliContext::validateArrayOptions() {
    auto usage = [this](const std::string& text) {
        error(text);
        exitStatus = kExitUsage;
        return false;
    };
    if (array.members.empty()) return usage("--member: no members given; name each member with -m PATH (MISSING for one that is gone)");
    if (array.level != 0 && array.level != 5) return usage("--level: give 0 or 5");
    if (array.level == 5 && (array.layout < 1 || array.layout > 3)) return usage("--layout: give 1, 2 or 3");
    if (array.stripe <= 0) return usage("--stripe: the stripe unit must be at least 1 sector");
    if (array.level == 5 && array.members.size() < 3) return usage("--member: RAID-5 needs at least three members");
    return true;
}

bool CliContext::resolveOffsets(disk::FileReadSeekRaid& raid, std::vector<int64_t>& offsets) {
    offsets.clear();
    // Every member is probed, as when it is put in the member list: the probe proposes its
    // offset and learns the data-area size from an LDM header.
    std::vector<int64_t> proposed;
    for (const auto& m : array.members) {
        std::string name = memberName(m);
        proposed.push_back(array.vhd ? raid.probeVhdMember(name) : raid.probeMember(name));
    }
    if (!array.offsets.empty()) {
        std::stringstream in(array.offsets);
        std::string item;
        while (std::getline(in, item, ',')) {
            try {
                size_t used = 0;
                long long v = std::stoll(item, &used);
                if (used != item.size() || v < 0) throw std::invalid_argument(item);
                offsets.push_back(v);
            } catch (const std::exception&) {
                error("--offsets: '" + item + "' is not a sector number");
                exitStatus = kExitUsage;
                return false;
            }
        }
        if (offsets.size() != array.members.size()) {
            error("--offsets: " + std::to_string(offsets.size()) + " offsets for " +
                  std::to_string(array.members.size()) + " members");
            exitStatus = kExitUsage;
            return false;
        }
        return true;
    }
    offsets = proposed;
    return true;
}

bool CliContext::openArray() {
    if (!validateArrayOptions()) return false;
    auto raid = std::make_unique<disk::FileReadSeekRaid>(&recovery);
    for (const auto& m : array.members) raid->memberNames.push_back(memberName(m));
    raid->level = array.level;
    raid->parityLayout = array.layout;
    raid->stripeSectors = array.stripe;
    raid->vhdMembers = array.vhd ? 1 : 0;
    std::vector<int64_t> offsets;
    if (!resolveOffsets(*raid, offsets)) return false;
    raid->partitionOffsets = offsets;
    if (!raid->open()) {
        error(raid->lastError().empty() ? std::string("file not opened..") : raid->lastError());
        exitStatus = kExitFailed;
        return false;
    }
    recovery.raidDisk = std::move(raid);
    return true;
}

void printJson(const nlohmann::json& value) {
    std::cout << terminalJson(value.dump(2, ' ', false, nlohmann::json::error_handler_t::replace)) << '\n';
}

void printTable(const std::vector<std::string>& header,
                const std::vector<std::vector<std::string>>& rows) {
    writeTable(std::cout, header, rows);
}

}  // namespace quenlow::cli
