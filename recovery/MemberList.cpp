#include "recovery/MemberList.h"

#include <sys/stat.h>

#include <algorithm>

#include "detect/ArrayDetect.h"
#include "disk/FileReadSeekRaid.h"
#include "disk/RecoveryContext.h"
#include "platform/ReadOnlyFile.h"
#include "recovery/VolumeChoice.h"

namespace quenlow::recovery {

namespace {

std::string trimmed(const std::string& s) {
    const size_t a = s.find_first_not_of(" \t");
    if (a == std::string::npos) return {};
    return s.substr(a, s.find_last_not_of(" \t") - a + 1);
}

}  // namespace

std::string unreadableReason(const std::string& path) {
    platform::ReadOnlyFile file;
    if (file.open(path)) return {};
    if (!file.permissionDenied()) return file.error();
    return file.error() +
           ".\nReading a disk needs read permission on its device: start the wizard as root (for example "
           "sudo quenlow-wizard), or add your user to the group that owns the device (for example sudo usermod "
           "-aG disk $USER) and log in again.";
}

MemberList::MemberList(Kind kind, disk::RecoveryContext& context) : kind_(kind), context_(context) {
    context_.raidDisk = std::make_unique<disk::FileReadSeekRaid>(&context_);
    context_.raidDisk->vhdMembers = kind == Kind::VhdFiles ? 1 : 0;
}

std::vector<std::string> MemberList::memberNames() const {
    std::vector<std::string> names;
    for (auto it = rows_.rbegin(); it != rows_.rend(); ++it) names.push_back(it->name);
    return names;
}

bool MemberList::add(const std::string& path, std::string& error) {
    error.clear();
    if (path.empty()) return false;
    if (error = unreadableReason(path); !error.empty()) return false;
    int64_t offset = 0;
    if (disk::FileReadSeekRaid* raid = context_.raidDisk.get()) {
        // The LDM probe rounds its proposal up to the stripe chosen now.
        raid->stripeSectors = std::max<int64_t>(1, VolumeChoice::leadingNumber(stripeText));
        offset = kind_ == Kind::VhdFiles ? raid->probeVhdMember(path) : raid->probeMember(path);
        raid->memberNames.push_back(path);
    }
    rows_.insert(rows_.begin(), Row{path, std::to_string(offset)});
    return true;
}

std::string MemberList::addedAgainQuestion(const std::string& path) const {
    // The same file or device under another name (a link, a relative path) counts too.
    struct stat wanted {};
    const bool known = ::stat(path.c_str(), &wanted) == 0;
    const auto same = [&](const std::string& name) {
        struct stat st {};
        if (name == path) return true;
        if (!known || name == disk::kMissingDiskName || ::stat(name.c_str(), &st) != 0) return false;
        if (S_ISBLK(wanted.st_mode) && S_ISBLK(st.st_mode)) return st.st_rdev == wanted.st_rdev;
        return st.st_dev == wanted.st_dev && st.st_ino == wanted.st_ino;
    };
    for (const auto& row : rows_)
        if (same(row.name))
            return path + " is a member already. The same disk twice in one array is rarely meant. Add it again?";
    return {};
}

void MemberList::addMissing() {
    rows_.insert(rows_.begin(), Row{disk::kMissingDiskName, "0"});
    if (context_.raidDisk) context_.raidDisk->memberNames.push_back(disk::kMissingDiskName);
}

std::string MemberList::remove(int selected) {
    if (selected < 0 || static_cast<size_t>(selected) >= rows_.size() || rows_[selected].name.empty()) return {};
    if (selected != 0) return kTopmostOnlyText;
    rows_.erase(rows_.begin());
    if (context_.raidDisk && !context_.raidDisk->memberNames.empty()) context_.raidDisk->memberNames.pop_back();
    return {};
}

bool MemberList::changeOffset(int selected, const std::string& typed) {
    const std::string text = trimmed(typed);
    if (text.empty() || selected < 0 || static_cast<size_t>(selected) >= rows_.size()) return false;
    rows_[selected].offset = text;
    return true;
}

void MemberList::chooseLevel(int level) {
    if (level != 0 && level != 5) return;
    level_ = level;
    layout_ = level == 5 ? 3 : 0;
}

void MemberList::chooseLayout(int layout) {
    if (layoutsEnabled() && layout >= 1 && layout <= 3) layout_ = layout;
}

const std::vector<std::string>& MemberList::stripeEntries() {
    static const std::vector<std::string> entries{"32", "64", "128", "256", "512"};
    return entries;
}

const std::vector<std::string>& MemberList::layoutTexts() {
    static const std::vector<std::string> texts{"Rotating Parity 0 with Data Restart.",
                                                "Rotating Parity N with Data Restart.",
                                                "Rotating Parity N with Data Continuation."};
    return texts;
}

std::string MemberList::next() {
    if (level_ < 0 || rows_.empty()) return kNoLevelOrMembersText;
    disk::FileReadSeekRaid* raid = context_.raidDisk.get();
    if (raid == nullptr) return kObjectLostText;
    for (size_t i = rows_.size(); i-- > 0;) {
        const Row& row = rows_[i];
        if (VolumeChoice::isNumber(row.offset)) continue;
        return "The PARTITION_OFFSET of member " + std::to_string(rows_.size() - 1 - i) + " (" + row.name + "), \"" +
               row.offset + "\", is not a number of sectors. Select the member, type a whole number and press "
               "change Partition offset.";
    }
    raid->stripeSectors = VolumeChoice::leadingNumber(stripeText);
    raid->level = level_;
    if (level_ == 5) raid->parityLayout = layout_;
    raid->memberNames = memberNames();
    raid->partitionOffsets.clear();
    for (auto it = rows_.rbegin(); it != rows_.rend(); ++it)
        raid->partitionOffsets.push_back(VolumeChoice::leadingNumber(it->offset));
    return {};
}

bool MemberList::applyProposal(const ArrayProposal& p) {
    const std::string stripe = std::to_string(p.stripeSectors);
    const auto& stripes = stripeEntries();
    if ((p.level != 0 && p.level != 5) || p.memberNames.size() != p.offsets.size() ||
        std::find(stripes.begin(), stripes.end(), stripe) == stripes.end())
        return false;
    rows_.clear();
    for (size_t i = 0; i < p.memberNames.size(); ++i)
        rows_.insert(rows_.begin(), Row{p.memberNames[i], std::to_string(p.offsets[i])});
    if (context_.raidDisk) context_.raidDisk->memberNames = p.memberNames;
    chooseLevel(p.level);
    if (p.level == 5) chooseLayout(p.layout);
    stripeText = stripe;
    return true;
}

MemberList::ProposalOutcome MemberList::propose(const std::vector<std::string>& names, Kind kind) {
    ProposalOutcome out;
    detect::DetectOptions options;
    options.vhd = kind == Kind::VhdFiles;
    const detect::DetectReport report = detect::detectArray(names, options);
    std::string notes;
    for (const auto& note : report.notes) notes += "\n- " + note;
    if (!report.decided || report.candidates.empty()) {
        out.text = "No array can be proposed: " + report.verdict + notes;
        return out;
    }
    const detect::Candidate& best = report.candidates.front();
    const detect::ArrayParameters& p = best.parameters;
    ArrayProposal& proposal = out.proposal;
    proposal.level = p.level;
    proposal.layout = p.level == 5 ? p.layout : 3;
    proposal.stripeSectors = p.stripeSectors;
    proposal.offsets = p.offsets;
    for (int index : p.order)
        proposal.memberNames.push_back(index < 0 || report.members[static_cast<size_t>(index)].missing
                                           ? std::string(disk::kMissingDiskName)
                                           : report.members[static_cast<size_t>(index)].name);

    const std::string source = report.source == detect::DetectReport::Source::Md ? "the members' md superblocks"
                                                                                 : "what the members' data shows";
    std::string text = "Proposed from " + source + " (confidence: " + report.confidence + "):\nRAID-" +
                       std::to_string(p.level);
    if (p.level == 5)
        text += ", " + (p.layout >= 1 && p.layout <= 3 ? layoutTexts()[static_cast<size_t>(p.layout - 1)]
                                                       : "parity layout " + std::to_string(p.layout));
    text += "\nStripe size: " + std::to_string(p.stripeSectors) + " sectors\nMembers in order:";
    for (size_t i = 0; i < proposal.memberNames.size(); ++i)
        text += "\n  " + std::to_string(i) + ": " + proposal.memberNames[i] + "  (offset " +
                std::to_string(i < proposal.offsets.size() ? proposal.offsets[i] : 0) + ")";
    text += notes;

    const auto& stripes = stripeEntries();
    std::string refusal;
    if (p.level == 5 && (p.layout < 1 || p.layout > 3))
        refusal = "This page offers the parity layouts 1-3 only.";
    else if (std::find(stripes.begin(), stripes.end(), std::to_string(p.stripeSectors)) == stripes.end())
        refusal = "This page offers stripe sizes of 32 to 512 sectors only.";
    if (!refusal.empty()) {
        out.text = text + "\n\n" + refusal + " Open the array with the command line instead:\nquenlow " +
                   detect::commandLine(best, report.members, options.vhd) + " volumes";
        return out;
    }
    out.usable = true;
    out.text = std::move(text);
    return out;
}

}  // namespace quenlow::recovery
