#pragma once
// An md superblock as the command line shows it: one line of text, or a JSON object.

#include <string>

#include <nlohmann/json.hpp>

#include "detect/ArrayDetect.h"

namespace quenlow::cli {

nlohmann::ordered_json mdJson(const detect::MdFinding& finding);
std::string mdLine(const detect::MdFinding& finding);

}  // namespace quenlow::cli
