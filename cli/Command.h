#pragma once
// Commands of `quenlow` register themselves: each command's file defines one static
// Registration with its set-up function.

#include <functional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

namespace quenlow::cli {

struct CliContext;

// Called once while the command line is being built; adds the subcommand to `app` and sets
// its callback. The callback runs the command and stores the exit status in the context.
using CommandSetup = std::function<void(CLI::App& app, CliContext& context)>;

struct CommandEntry {
    int order;  // position in the help listing
    CommandSetup setup;
};

std::vector<CommandEntry>& commandRegistry();

struct Registration {
    Registration(int order, CommandSetup setup) {
        commandRegistry().push_back({order, std::move(setup)});
    }
};

}  // namespace quenlow::cli
