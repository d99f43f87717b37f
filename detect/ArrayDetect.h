#pragma once
// Finding an array's parameters (level, layout, stripe unit, member order, offsets) from its
// members: from the Linux md superblocks they carry, or, without metadata, from what the
// assembled disk shows under each candidate geometry (partition tables, boot sectors, MFT
// records in order, FAT copies that agree, ext group descriptors and superblock copies).
//
// Bounded work: each member is sampled (its first MiBs, a few windows spread over it for the
// parity test, and a budget of further blocks for the best candidates), never read whole.
// Members are opened read-only; a member that cannot be read is reported, not fatal.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "disk/MdSuperblock.h"
#include "disk/readWriteInterface.h"

namespace quenlow::detect {

// One md superblock found on a member, with what makes it untrustworthy.
struct MdFinding {
    disk::MdSuperblock superblock;
    std::vector<std::string> problems;  // empty: trusted
};

struct MemberReport {
    std::string name;          // as given (MISSING for a placeholder)
    bool missing = false;
    std::string error;         // the member cannot be read
    int64_t sizeSectors = 0;
    std::vector<MdFinding> md;  // every md superblock found, trusted or not
    int trustedMd = -1;         // index into md of the one used; -1: none
    int64_t ldmOffset = 0;      // the LDM probe's proposed offset
    bool ldm = false;           // an LDM private header was found
    std::string metadata() const { return trustedMd >= 0 ? "md" : (ldm ? "LDM" : "none"); }
};

struct ArrayParameters {
    int level = 0;          // 0 or 5
    int layout = 0;         // RAID-5: 1-4
    int64_t stripeSectors = 0;
    std::vector<int> order;  // per array position: index of the given member, -1 for MISSING
    std::vector<int64_t> offsets;  // per array position, sectors
    // Sectors of each member's data area (from md superblocks); 0: unknown, the virtual disk
    // then runs to the largest member's end.
    int64_t dataSectors = 0;
};

struct Candidate {
    ArrayParameters parameters;
    int64_t score = 0;
    // The proposal's: "certain", "high", "medium", "low"; a runner-up's: "low" when it scores
    // as well as the proposal (the data cannot choose between them), else "unlikely".
    std::string confidence;
    std::vector<std::string> evidence;  // what the assembled disk showed
};

struct DetectOptions {
    bool deep = false;  // sample more of each member
    bool vhd = false;   // the members are VHD files
    std::vector<int64_t> offsets;  // per given member; empty: 0 and the LDM probe's
    // What is known of the array (the user's -l, --layout, -s, or a page's current choice):
    // only candidates with these are searched.
    int level = -1;             // 0 or 5; -1: decided from the data
    int layout = 0;             // RAID-5 layout 1-4; 0: every one
    int64_t stripeSectors = 0;  // 0: every power of two from 8 to 2048
};

struct DetectReport {
    enum class Source { None, Md, Data };
    std::vector<MemberReport> members;
    Source source = Source::None;
    // Best first; empty when nothing could be decided.
    std::vector<Candidate> candidates;
    bool decided = false;
    std::string confidence;  // "certain", "high", "medium", "low"
    std::string verdict;     // one line in a user's words
    std::vector<std::string> notes;  // stale members, other arrays, members left out, ...
    int64_t bytesRead = 0;
};

DetectReport detectArray(const std::vector<std::string>& members, const DetectOptions& options);

// What the md superblocks of the members say (the first part of detectArray): empty when no
// trusted superblock gives a usable array.
std::optional<DetectReport> assembleFromMd(std::vector<MemberReport> members);

// Reads the md superblocks of every version from a member into member.md and picks the one
// to trust (the newest sound one).
void examineMd(disk::readWriteInterface& reader, MemberReport& member);

// md's RAID-5 algorithm to our parity layout (0 when we have none for it).
int layoutFromMd(uint32_t mdLayout);

// The command line that opens the proposed array.
std::string commandLine(const Candidate& candidate, const std::vector<MemberReport>& members, bool vhd);

}  // namespace quenlow::detect
