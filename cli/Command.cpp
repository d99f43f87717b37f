#include "cli/Command.h"

namespace quenlow::cli {

std::vector<CommandEntry>& commandRegistry() {
    static std::vector<CommandEntry> registry;
    return registry;
}

}  // namespace quenlow::cli
