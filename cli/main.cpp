// quenlow: the command line of the RAID recovery tool.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include <CLI/CLI.hpp>

#include "cli/CliContext.h"
#include "cli/Command.h"

namespace {

// Whatever the command made of its work, a listing that did not reach standard output
// (a full disk, a closed pipe) is a failure.
int checkedExit(quenlow::cli::CliContext& context, int status) {
    std::cout.flush();
    bool failed = !std::cout;
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) failed = true;
    if (!failed) return status;
    int error = errno;
    context.error(std::string("cannot write to standard output") + (error != 0 ? ": " + std::string(std::strerror(error)) : ""));
    return quenlow::cli::kExitFailed;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace quenlow::cli;
    CliContext context;
    context.recovery.feedback = &context.feedback;

    CLI::App app{"Quenlow RAID Recovery: assemble a broken RAID array read-only and recover its files."};
    app.name("quenlow");
    app.require_subcommand(1);
    app.fallthrough();
    auto& a = context.array;
    app.add_option("-m,--member", a.members,
                   "a member in array order (drive, image or VHD file); MISSING for one that is gone; repeatable")
        ->expected(1)
        ->take_all();
    app.add_flag("--vhd", a.vhd, "the members are VHD files");
    app.add_option("-l,--level", a.level, "RAID level: 0 or 5");
    app.add_option("--layout", a.layout, "RAID-5 parity layout: 1, 2, 3 or 4 (default 3)");
    app.add_option("-s,--stripe", a.stripe, "stripe unit in sectors")->capture_default_str()->check(wholeNumber());
    app.add_option("-o,--offsets", a.offsets,
                   "per-member start offsets in sectors, comma-separated (default: each member's probed offset)");

    auto& registry = commandRegistry();
    std::stable_sort(registry.begin(), registry.end(),
                     [](const CommandEntry& x, const CommandEntry& y) { return x.order < y.order; });
    for (auto& entry : registry) entry.setup(app, context);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return checkedExit(context, app.exit(e));
    } catch (const CLI::CallForAllHelp& e) {
        return checkedExit(context, app.exit(e));
    } catch (const CLI::ParseError& e) {
        // A word where the command belongs is an unknown command, not a missing one.
        const auto extra = app.remaining();
        if (app.get_subcommands().empty() && !extra.empty() && !extra.front().empty() && extra.front()[0] != '-') {
            std::string names;
            for (const auto* sub : app.get_subcommands([](const CLI::App*) { return true; }))
                names += (names.empty() ? "" : ", ") + sub->get_name();
            std::cerr << "quenlow: unknown command '" << extra.front() << "'; the commands are: " << names << '\n';
            return kExitUsage;
        }
        app.exit(e);
        return checkedExit(context, kExitUsage);
    } catch (const std::exception& e) {
        context.error(e.what());
        return checkedExit(context, kExitFailed);
    }
    context.feedback.finishProgress();
    return checkedExit(context, context.exitStatus);
}
