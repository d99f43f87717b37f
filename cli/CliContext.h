#pragma once
// What every command of `quenlow` shares: the array options, the recovery context, the
// terminal feedback, and exit statuses.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "disk/FileReadSeekRaid.h"
#include "disk/RecoveryContext.h"
#include "cli/TerminalFeedback.h"

namespace quenlow::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// --layout when it is not given: 3 under RAID-5.
inline constexpr int kLayoutNotGiven = -2147483647 - 1;

struct ArrayOptions {
    std::vector<std::string> members;  // paths, or MISSING in any letter case
    bool vhd = false;
    int level = -1;
    int layout = kLayoutNotGiven;
    int64_t stripe = 128;
    std::string offsets;  // comma-separated sectors; empty: each member's probed offset
};

struct CliContext {
    ArrayOptions array;
    disk::RecoveryContext recovery;
    TerminalFeedback feedback;
    bool yes = false;    // --yes: answer questions with yes
    int exitStatus = kExitOk;

    // Checks the array options (members given, level, layout, stripe, offsets) and, for a
    // bad one, prints an error naming it and returns false; the status is then kExitUsage.
    bool validateArrayOptions();
    // Appends the sectors of the offsets list to `offsets`; on a bad item prints an error
    // naming it and returns false (status kExitUsage).
    bool parseOffsets(std::vector<int64_t>& offsets);
    // Probes every member with `raid` (which learns the LDM data size) and fills `offsets`
    // from the offsets list, or from the probe when none was given.
    bool resolveOffsets(disk::FileReadSeekRaid& raid, std::vector<int64_t>& offsets);
    // Creates the RAID virtual disk from the options and opens it, and prints on standard
    // error what the array cannot give back (its warnings). On failure prints the reason and
    // sets exitStatus (usage errors, the array's settings among them, 2; others 1).
    bool openArray();

    // Prints an error to standard error: "quenlow: <text>".
    void error(const std::string& text);
    // Prints a warning to standard error: "quenlow: warning: <text>".
    void warn(const std::string& text);
};

// Checks that an option's text is a whole number a 64-bit integer holds (the conversion
// would otherwise clamp a larger one to the largest integer).
CLI::Validator wholeNumber();

// Member names of the options as the virtual disk takes them (MISSING -> "MISSING DISK").
std::string memberName(const std::string& option);

// Prints a JSON value to standard output (pretty, one trailing newline; text that is not
// UTF-8 is replaced, never thrown over).
void printJson(const nlohmann::json& value);
void printJson(const nlohmann::ordered_json& value);
// Prints rows as aligned columns under a header, names escaped for the terminal.
void printTable(const std::vector<std::string>& header,
                const std::vector<std::vector<std::string>>& rows);

}  // namespace quenlow::cli
