#pragma once
// Human-readable sizes for the command line's own listings (1024-based).

#include <cstdint>
#include <string>

namespace quenlow::cli {

std::string humanSize(uint64_t bytes);

}  // namespace quenlow::cli
