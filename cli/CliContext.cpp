#include "cli/CliContext.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <iostream>
#include <sstream>

#include "cli/TerminalText.h"
#include "disk/FileReadSeekRaid.h"
#include "disk/FileReadSeekVHD.h"

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

void CliContext::warn(const std::string& text) { error("warning: " + text); }

CLI::Validator wholeNumber() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            int64_t value = 0;
            const char* end = text.data() + text.size();
            auto [at, ec] = std::from_chars(text.data(), end, value);
            if (ec == std::errc::result_out_of_range) return "'" + text + "' is too large a number";
            if (ec != std::errc() || at != end) return "'" + text + "' is not a whole number";
            return {};
        },
        "INTEGER");
}

bool CliContext::validateArrayOptions() {
    auto usage = [this](const std::string& text) {
        error(text);
        exitStatus = kExitUsage;
        return false;
    };
    if (array.members.empty()) return usage("--member: no members given; name each member with -m PATH (MISSING for one that is gone)");
    if (std::all_of(array.members.begin(), array.members.end(),
                    [](const std::string& m) { return memberName(m) == disk::kMissingDiskName; }))
        return usage("--member: every member is MISSING: there is nothing to read");
    if (array.level != 0 && array.level != 5) return usage("--level: give 0 or 5");
    if (array.level == 0 && array.layout != kLayoutNotGiven)
        return usage("--layout: RAID-0 has no parity layout; --layout goes with -l 5");
    if (array.level == 5 && array.layout == kLayoutNotGiven) array.layout = 3;
    if (array.level == 5 && (array.layout < 1 || array.layout > 4)) return usage("--layout: give 1, 2, 3 or 4");
    if (array.stripe <= 0) return usage("--stripe: the stripe unit must be at least 1 sector");
    if (array.level == 5 && array.members.size() < 3) return usage("--member: RAID-5 needs at least three members");
    return true;
}

bool CliContext::parseOffsets(std::vector<int64_t>& offsets) {
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
        if (!parseOffsets(offsets)) return false;
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
    if (!array.vhd) {
        std::string vhds;
        size_t count = 0;
        for (const auto& m : array.members)
            if (!disk::FileReadSeekRaid::isMissingName(memberName(m)) && disk::FileReadSeekVHD::carriesFooter(m))
                vhds += (count++ == 0 ? "" : ", ") + m;
        if (count > 0)
            warn(vhds + (count == 1 ? " carries" : " carry") + " a VHD footer; give --vhd to read the members as VHD files");
    }
    // The readers' own failure texts ("invalid handle ...") are the wizard's message boxes;
    // here the reason, naming the path, is printed once below.
    Feedback* readerFeedback = recovery.feedback;
    recovery.feedback = &silentFeedback();
    auto raid = std::make_unique<disk::FileReadSeekRaid>(&recovery);
    for (const auto& m : array.members) raid->memberNames.push_back(memberName(m));
    raid->level = array.level;
    raid->parityLayout = array.level == 5 ? array.layout : 3;
    raid->stripeSectors = array.stripe;
    raid->vhdMembers = array.vhd ? 1 : 0;
    std::vector<int64_t> offsets;
    const bool resolved = resolveOffsets(*raid, offsets);
    raid->partitionOffsets = offsets;
    const bool opened = resolved && raid->open();
    recovery.feedback = readerFeedback;
    if (!resolved) return false;
    if (!opened) {
        using Refusal = disk::FileReadSeekRaid::Refusal;
        const Refusal why = raid->refusal();
        std::string text = raid->lastError().empty() ? std::string("file not opened..") : raid->lastError();
        error((why == Refusal::Stripe ? "--stripe: " : "") + text);
        exitStatus = why == Refusal::Parameters || why == Refusal::Stripe ? kExitUsage : kExitFailed;
        return false;
    }
    for (const auto& w : raid->warnings()) warn(w);
    recovery.raidDisk = std::move(raid);
    return true;
}

void printJson(const nlohmann::json& value) {
    std::cout << terminalJson(value.dump(2, ' ', false, nlohmann::json::error_handler_t::replace)) << '\n';
}

void printJson(const nlohmann::ordered_json& value) {
    std::cout << terminalJson(value.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace)) << '\n';
}

void printTable(const std::vector<std::string>& header,
                const std::vector<std::vector<std::string>>& rows) {
    writeTable(std::cout, header, rows);
}

}  // namespace quenlow::cli
